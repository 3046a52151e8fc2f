// Reading the service's documents: content data, version, identity values.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale>

#include "common/app_constants.h"
#include "common/base64.h"
#include "common/bounded_json.h"
#include "common/numbers.h"
#include "links/envelope.h"
#include "service/content_data.h"
#include "service/device_identity.h"
#include "service/pins.h"
#include "service/version_check.h"
#include "tests/support/test_support.h"

namespace {
ContentData Read(const std::string& body, bool expectOk = true) {
    ContentData data;
    EXPECT_EQ(ParseContentData(body, data), expectOk) << body;
    EXPECT_EQ(data.succeeded, expectOk) << body;
    return data;
}
} // namespace

TEST(ContentDataDocument, DefaultsForAnEmptyObject) {
    const ContentData d = Read("{}");
    EXPECT_EQ(d.kind, "video");
    EXPECT_EQ(d.address, "");
    EXPECT_EQ(d.embedSource, "");
    EXPECT_EQ(d.watermark, "");
    EXPECT_EQ(d.scriptVariant, 1);
}

TEST(ContentDataDocument, WorkingObjectIsTheNestedObjectOrTheTopLevel) {
    ContentData d = Read(R"({"data":{"type":"pdf","url":"u","youtube_url":"y","script_variant":3},"watermark":"w"})");
    EXPECT_EQ(d.kind, "pdf");
    EXPECT_EQ(d.address, "u");
    EXPECT_EQ(d.embedSource, "y");
    EXPECT_EQ(d.watermark, "w");
    EXPECT_EQ(d.scriptVariant, 3);

    // The watermark is read from the top level only.
    d = Read(R"({"data":{"type":"pdf","watermark":"inner"}})");
    EXPECT_EQ(d.watermark, "");
    // A nested member that is not an object leaves the top level as the working object.
    d = Read(R"({"data":[1],"type":"web","url":"top"})");
    EXPECT_EQ(d.kind, "web");
    EXPECT_EQ(d.address, "top");
    d = Read(R"({"type":"zoom","url":"flat","watermark":"fw"})");
    EXPECT_EQ(d.kind, "zoom");
    EXPECT_EQ(d.watermark, "fw");
}

TEST(ContentDataDocument, NullMeansMissingAndWrongTypesFail) {
    ContentData d = Read(R"({"data":{"type":null,"url":null,"script_variant":null},"watermark":null})");
    EXPECT_EQ(d.kind, "video");
    EXPECT_EQ(d.scriptVariant, 1);

    EXPECT_EQ(Read(R"({"data":{"script_variant":true}})").scriptVariant, 1);
    EXPECT_EQ(Read(R"({"data":{"script_variant":false}})").scriptVariant, 0);
    EXPECT_EQ(Read(R"({"data":{"script_variant":2.9}})").scriptVariant, 2);
    EXPECT_EQ(Read(R"({"data":{"script_variant":-2.9}})").scriptVariant, -2);
    EXPECT_EQ(Read(R"({"data":{"script_variant":4294967298}})").scriptVariant, 2);

    Read(R"({"data":{"script_variant":"2"}})", false);
    Read(R"({"data":{"type":5}})", false);
    Read(R"({"watermark":["w"]})", false);
    Read("not json", false);
    Read("", false);
    Read("[]"); // an array is no object: every field takes its default
}

TEST(VersionDocument, SingleDecimalComparison) {
    auto eval = [](const std::string& body) { return EvaluateVersionDocument(4.9, body); };
    EXPECT_FALSE(eval(R"({"version":4.9})").hasUpdate);
    EXPECT_TRUE(eval(R"({"version":4.95})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"4.10.0"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"4.9.1"})").hasUpdate);
    EXPECT_TRUE(eval(R"({"version":5})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"abc"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":null})").hasUpdate);
    EXPECT_FALSE(eval(R"({"version":"1e999"})").hasUpdate);
    EXPECT_FALSE(eval(R"({"link":"x"})").hasUpdate);
    EXPECT_FALSE(eval("[5]").hasUpdate);
    EXPECT_FALSE(eval("<html>500</html>").hasUpdate);
}

TEST(VersionDocument, RequiredFlagAndLink) {
    auto eval = [](const std::string& body) { return EvaluateVersionDocument(4.9, body); };
    VersionCheckResult r = eval(R"({"version":"5.0","is_required":"1","link":"https://x/\u00e9.exe"})");
    EXPECT_TRUE(r.hasUpdate);
    EXPECT_TRUE(r.isRequired);
    EXPECT_EQ(r.link, u"https://x/\u00e9.exe");
    EXPECT_FALSE(eval(R"({"version":5,"is_required":true})").isRequired);
    EXPECT_TRUE(eval(R"({"version":5,"is_required":1.7})").isRequired);
    EXPECT_FALSE(eval(R"({"version":5,"is_required":"01"})").isRequired);
    EXPECT_FALSE(eval(R"({"version":5,"is_required":2})").isRequired);
    r = eval(R"({"version":6,"link":7})");
    EXPECT_TRUE(r.hasUpdate);
    EXPECT_EQ(r.link, u"");
    // Nothing but the version decides: a required flag without a newer version is ignored.
    EXPECT_FALSE(eval(R"({"version":4,"is_required":"1"})").isRequired);
}

namespace {

// A value nested `levels` containers deep around `inner`.
std::string Nested(std::size_t levels, const std::string& inner = "0") {
    return std::string(levels, '[') + inner + std::string(levels, ']');
}

} // namespace

// Every document reader refuses a document nested deeper than the bound, or
// holding more values, as one that does not parse, each with its own ordinary
// failure; one just within both bounds reads as before.
TEST(ServiceDocuments, NestingAndSizeAreBounded) {
    for (const std::size_t depth : {kMaxJsonDepth, kMaxJsonDepth + 1}) {
        SCOPED_TRACE(depth);
        const bool within = depth <= static_cast<std::size_t>(kMaxJsonDepth);
        // The outer object is the first level.
        const std::string deep = Nested(depth - 1);
        ContentData data;
        EXPECT_EQ(ParseContentData(R"({"watermark":"w","x":)" + deep + "}", data), within);
        EXPECT_EQ(data.watermark, within ? "w" : "");
        EXPECT_EQ(ServiceMessage(R"({"message":"m","x":)" + deep + "}"), within ? "m" : "");
        EXPECT_EQ(EvaluateVersionDocument(4.9, R"({"version":5,"x":)" + deep + "}").hasUpdate, within);
        const auto pins = ParsePinDocument(R"([{"scope":"a.test","pins":["p"]},)" + deep + "]");
        EXPECT_EQ(pins.has_value(), within);
        // A sealed part is one too.
        const std::string part = Base64Encode(R"({"iv":"AAAA","value":"AAAA","x":)" + deep + "}");
        try {
            OpenSealedEnvelope(part, TestSupport::ProfileKey());
            ADD_FAILURE() << "opened";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), within ? "MAC verification failed \xE2\x80\x94 data may be tampered"
                                                    : "Failed to parse AES envelope JSON");
        }
    }
    // Values of every kind count, containers and keys among them.
    for (const std::size_t values : {kMaxJsonValues, kMaxJsonValues + 1}) {
        std::string many = R"({"version":5,"x":[)";
        for (std::size_t i = 0; i + 5 < values; ++i) many += i ? ",0" : "0";
        many += "]}";
        EXPECT_EQ(EvaluateVersionDocument(4.9, many).hasUpdate, values <= kMaxJsonValues) << values;
    }
    // The answer that grew the player by hundreds of megabytes.
    const std::string brackets(8 * 1024 * 1024, '[');
    ContentData data;
    EXPECT_FALSE(ParseContentData(brackets, data));
    EXPECT_EQ(ServiceMessage(brackets), "");
    EXPECT_FALSE(EvaluateVersionDocument(4.9, brackets).hasUpdate);
    EXPECT_FALSE(ParsePinDocument(brackets).has_value());
    EXPECT_TRUE(ParseBoundedJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')).is_array());
}

namespace {

// Switches the C library and the C++ global locale to one that writes
// decimals with a comma, as the Linux player's Qt application does when the
// user's environment names one; restores both afterwards.
class CommaDecimalLocale {
public:
    CommaDecimalLocale() {
        saved_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"}) {
            if (std::setlocale(LC_ALL, name) == nullptr) continue;
            if (std::string(std::localeconv()->decimal_point) != ",") continue;
            name_ = name;
            try {
                savedGlobal_ = std::locale::global(std::locale(name));
            } catch (const std::exception&) {
                // A C++ library without named locales: the C library's is the one that matters.
            }
            return;
        }
        std::setlocale(LC_ALL, saved_.c_str());
    }
    ~CommaDecimalLocale() {
        std::setlocale(LC_ALL, saved_.c_str());
        std::locale::global(savedGlobal_);
    }
    bool active() const { return !name_.empty(); }

private:
    std::string saved_;
    std::string name_;
    std::locale savedGlobal_ = std::locale();
};

} // namespace

// Under a locale that writes "4,9" the version string and the published
// versions still read with their dot: "4.9.0" is 4.9, a published 4.9 is no
// update, 4.95 is one. Everything else that reads numbers reads them alike.
TEST(VersionDocument, ReadTheSameUnderACommaDecimalLocale) {
    CommaDecimalLocale locale;
    if (!locale.active()) {
#ifdef _WIN32
        GTEST_SKIP() << "no comma-decimal locale in this prefix";
#else
        FAIL() << "no de_DE.UTF-8 locale: scripts/setup generates it";
#endif
    }
    ASSERT_EQ(std::strtod("4.9", nullptr), 4.0) << "the C library reads with the locale's comma";
    EXPECT_EQ(VersionNumber(u"4.9.0"), 4.9);
    EXPECT_EQ(CurrentVersion(), 4.9);
    for (const char* same : {R"({"version":4.9})", R"({"version":"4.9"})", R"({"version":"4.9.0"})",
                             R"({"version":"4,95"})", R"({"version":4.90})"}) {
        EXPECT_FALSE(EvaluateVersionDocument(CurrentVersion(), same).hasUpdate) << same;
    }
    for (const char* newer : {R"({"version":4.95,"is_required":1.7})", R"({"version":"4.95","is_required":1.7})",
                              R"({"version":"4.91x","is_required":1.7})", R"({"version":"5e0","is_required":1.7})"}) {
        const VersionCheckResult r = EvaluateVersionDocument(CurrentVersion(), newer);
        EXPECT_TRUE(r.hasUpdate) << newer;
        EXPECT_TRUE(r.isRequired) << newer;
    }
    ContentData data;
    ASSERT_TRUE(ParseContentData(R"({"data":{"script_variant":2.9}})", data));
    EXPECT_EQ(data.scriptVariant, 2);
    EXPECT_EQ(UrlDecode(u"%41%1.%+4"), u"A\x01\x04");
}

// The C library's reading in its own "C" locale, which every program starts in.
TEST(Numbers, LeadingDecimalReadsAsStrtodInTheCLocale) {
    for (const char* text : {"4.9.0", "4.9", " \t\n4.95x", "+5", "-2.5e1", "5e", "1e999", "-1e999", "1e-400", "0x1.8p1",
                             "0X10", "0x", "0xg", ".5", "5.", "-.5e-1", "inf", "-Infinity", "nan", "abc", "", "+-1",
                             "-+1", "--1", "4,9", "٤.٩", "  ", "0000012.50", "1e+2", "1e+", "0x.8", "0x.g"}) {
        errno = 0;
        char* end = nullptr;
        const double expected = std::strtod(text, &end);
        const bool converted = end != text && errno != ERANGE;
        const std::optional<double> read = LeadingDecimal(text);
        ASSERT_EQ(read.has_value(), converted) << "'" << text << "'";
        if (!converted) continue;
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(*read)) << text;
        } else {
            EXPECT_EQ(*read, expected) << text;
        }
    }
    EXPECT_EQ(VersionNumber(u"x4.9"), 3.0);
}

TEST(DeviceIdentity, ComposedFromTheRawSources) {
    WString identity, description;
    ComposeDeviceInfo({u"abc", std::nullopt, std::nullopt}, identity, description);
    EXPECT_EQ(identity, u"YWJj");
    EXPECT_EQ(description, u"Unknown");
    ComposeDeviceInfo({u"", std::nullopt, WString(u"Model X")}, identity, description);
    EXPECT_EQ(identity, u"");
    EXPECT_EQ(description, u"Model X");
    ComposeDeviceInfo({u"\u00e9", WString(u"Vendor"), WString(u"Model X")}, identity, description);
    EXPECT_EQ(identity, u"w6k=");
    EXPECT_EQ(description, u"Vendor Model X");
    ComposeDeviceInfo({u"id", WString(u"Vendor"), std::nullopt}, identity, description);
    EXPECT_EQ(description, u"Vendor");
}

TEST(DeviceIdentity, ComputedOnceAndStable) {
    const WString first = GetDeviceIdentity();
    EXPECT_EQ(GetDeviceIdentity(), first);
    EXPECT_FALSE(GetDeviceDescription().empty());
}
