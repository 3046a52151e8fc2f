#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "common/base64.h"
#include "common/crypto.h"
#include "links/envelope.h"
#include "tests/support/test_support.h"

namespace {

const std::string kKey = TestSupport::ProfileKey();
const std::string kMacFailure = "MAC verification failed \xE2\x80\x94 data may be tampered";

// The message an envelope fails with, or "" when it opens.
std::string FailureOf(const std::string& envelope, const std::string& key = kKey) {
    try {
        OpenSealedEnvelope(envelope, key);
        return "";
    } catch (const std::exception& e) {
        return e.what();
    }
}

nlohmann::json Inner(const std::string& envelope) {
    return nlohmann::json::parse(Base64Decode(envelope));
}

std::string Outer(const nlohmann::json& document) { return Base64Encode(document.dump()); }

} // namespace

TEST(OpenSealedEnvelope, OpensWhatThePlatformSeals) {
    EXPECT_EQ(OpenSealedEnvelope(SealEnvelope("hello", kKey), kKey), "hello");
    const std::string binary("a\0b\xFF", 4);
    EXPECT_EQ(OpenSealedEnvelope(SealEnvelope(binary, kKey), kKey), binary);
    EXPECT_EQ(OpenSealedEnvelope(SealEnvelope("\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7", kKey), kKey),
              "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7");
}

TEST(OpenSealedEnvelope, TagIsCheckedCaseInsensitivelyAndAlwaysRequired) {
    EXPECT_EQ(OpenSealedEnvelope(SealEnvelope("upper", kKey, true, true), kKey), "upper");
    EXPECT_EQ(FailureOf(SealEnvelope("nomac", kKey, false)), kMacFailure);

    nlohmann::json doc = Inner(SealEnvelope("empty mac", kKey));
    doc["mac"] = "";
    EXPECT_EQ(FailureOf(Outer(doc)), kMacFailure);
    // A tag that is only a NUL is empty too.
    doc["mac"] = std::string("\0", 1);
    EXPECT_EQ(FailureOf(Outer(doc)), kMacFailure);

    // A NUL inside the tag text ends it, as in a C string comparison.
    doc = Inner(SealEnvelope("nul", kKey));
    doc["mac"] = doc["mac"].get<std::string>() + std::string("\0junk", 5);
    EXPECT_EQ(OpenSealedEnvelope(Outer(doc), kKey), "nul");
}

TEST(OpenSealedEnvelope, TamperingIsCaughtBeforeDecryption) {
    nlohmann::json doc = Inner(SealEnvelope("secret", kKey));
    std::string value = doc["value"].get<std::string>();
    value[0] = value[0] == 'A' ? 'B' : 'A';
    doc["value"] = value;
    EXPECT_EQ(FailureOf(Outer(doc)), kMacFailure);

    doc = Inner(SealEnvelope("secret", kKey));
    doc["mac"] = std::string(64, '0');
    EXPECT_EQ(FailureOf(Outer(doc)), kMacFailure);

    // The forgery a dropped tag would allow: a changed vector rewrites the
    // first block without the key. It never reaches decryption.
    const std::string text = "0123456789abcdef and a second block";
    doc = Inner(SealEnvelope(text, kKey));
    doc.erase("mac");
    std::string iv = Base64Decode(doc["iv"].get<std::string>());
    iv[0] = static_cast<char>(iv[0] ^ 1);
    doc["iv"] = Base64Encode(iv);
    EXPECT_EQ(FailureOf(Outer(doc)), kMacFailure);
}

TEST(OpenSealedEnvelope, Base64QuirksOfTheOuterText) {
    const std::string sealed = SealEnvelope("padded", kKey);
    EXPECT_EQ(OpenSealedEnvelope(sealed + "=garbage", kKey), "padded");
    // The URL-safe alphabet stops the decoding at its first "-" or "_".
    std::string urlSafe = Base64Encode(std::string(40, '\xFB') + Base64Decode(sealed));
    for (auto& c : urlSafe) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    EXPECT_EQ(FailureOf(urlSafe), "Failed to parse AES envelope JSON");
    EXPECT_EQ(FailureOf(""), "Failed to parse AES envelope JSON");
    EXPECT_EQ(FailureOf(Base64Encode("{\"iv\":\"a\",\"value\":\"b\"} trailing")), "Failed to parse AES envelope JSON");
    EXPECT_EQ(FailureOf(Base64Encode("{\"iv\":\"a\" /* c */,\"value\":\"b\"}")), "Failed to parse AES envelope JSON");
}

TEST(OpenSealedEnvelope, JsonShapeErrorsAreTheLibrarysTypeErrors) {
    EXPECT_EQ(FailureOf(Base64Encode("null")), "[json.exception.type_error.302] type must be string, but is null");
    EXPECT_EQ(FailureOf(Base64Encode("{}")), "[json.exception.type_error.302] type must be string, but is null");
    EXPECT_EQ(FailureOf(Base64Encode("{\"iv\":1,\"value\":\"x\"}")),
              "[json.exception.type_error.302] type must be string, but is number");
    EXPECT_EQ(FailureOf(Base64Encode("{\"iv\":\"x\"}")), "[json.exception.type_error.302] type must be string, but is null");
    EXPECT_EQ(FailureOf(Base64Encode("[1,2]")),
              "[json.exception.type_error.305] cannot use operator[] with a string argument with array");
    EXPECT_EQ(FailureOf(Base64Encode("\"text\"")),
              "[json.exception.type_error.305] cannot use operator[] with a string argument with string");
    EXPECT_EQ(FailureOf(Base64Encode("true")),
              "[json.exception.type_error.305] cannot use operator[] with a string argument with boolean");

    nlohmann::json doc = Inner(SealEnvelope("x", kKey));
    doc["mac"] = 5;
    EXPECT_EQ(FailureOf(Outer(doc)), "[json.exception.type_error.302] type must be string, but is number");
    doc = Inner(SealEnvelope("extra members are ignored", kKey));
    doc["tag"] = {1, 2};
    EXPECT_EQ(OpenSealedEnvelope(Outer(doc), kKey), "extra members are ignored");
}

TEST(OpenSealedEnvelope, CipherFailuresNameTheirStep) {
    const std::string iv = Base64Encode(std::string(16, '\x01'));
    const std::string block = Base64Encode(std::string(16, '\x02'));
    // Correctly tagged, so that decryption is reached.
    auto envelope = [](const std::string& ivText, const std::string& valueText, const std::string& key = kKey) {
        std::string mac;
        for (const unsigned char byte : HmacSha256(ivText + valueText, key)) {
            mac += "0123456789abcdef"[byte >> 4];
            mac += "0123456789abcdef"[byte & 15];
        }
        return Outer({{"iv", ivText}, {"value", valueText}, {"mac", mac}});
    };
    EXPECT_EQ(FailureOf(envelope(Base64Encode("short"), block)), "BCryptDecrypt (size query) failed");
    EXPECT_EQ(FailureOf(envelope(iv, Base64Encode("not a block"))), "BCryptDecrypt (size query) failed");
    const std::string shortKey(7, 'k');
    EXPECT_EQ(FailureOf(envelope(iv, block, shortKey), shortKey), "BCryptGenerateSymmetricKey failed");
    // A block holding only padding decrypts to nothing, without an error.
    const std::string padding = AesCbcEncrypt("", kKey, std::string(16, '\x01'));
    ASSERT_EQ(padding.size(), 16u);
    EXPECT_EQ(OpenSealedEnvelope(envelope(iv, Base64Encode(padding)), kKey), "");
}

// Every spelling of the same document opens alike, however it is written:
// spacing, member order, escapes, repeated members (the last one counts).
TEST(OpenSealedEnvelope, EverySpellingOfTheDocumentOpensAlike) {
    const nlohmann::json doc = Inner(SealEnvelope("same", kKey));
    const std::string iv = doc["iv"], value = doc["value"], mac = doc["mac"];
    const auto open = [](const std::string& json) {
        const std::string failure = FailureOf(Base64Encode(json));
        return failure.empty() ? OpenSealedEnvelope(Base64Encode(json), kKey) : "failed: " + failure;
    };
    const std::string m = "\"mac\":\"" + mac + "\"";
    const std::string v = "\"value\":\"" + value + "\"";
    EXPECT_EQ(open(" {\n\t\"iv\" : \"" + iv + "\" ,\r" + v + "," + m + "}\n"), "same");
    EXPECT_EQ(open("{" + m + "," + v + ",\"iv\":\"" + iv + "\",\"x\":\"\xD9\x85\"}"), "same");
    EXPECT_EQ(open("{\"\\u0069v\":\"" + iv + "\"," + v + "," + m + "}"), "same");
    EXPECT_EQ(open("{\"iv\":\"AAAA\",\"iv\":\"" + iv + "\"," + v + "," + m + "}"), "same");
    EXPECT_EQ(open("{\"iv\":\"" + iv + "\",\"iv\":\"AAAA\"," + v + "," + m + "}"), "failed: " + kMacFailure);
    EXPECT_EQ(open("{\"iv\":\"" + iv + "\"," + v + "," + m + "}x"), "failed: Failed to parse AES envelope JSON");
    EXPECT_EQ(open("{\"iv\":\"" + iv + "\"," + v + "," + m + ",}"), "failed: Failed to parse AES envelope JSON");
}
