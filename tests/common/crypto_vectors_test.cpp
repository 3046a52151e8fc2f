// The system cryptography of both builds against published vectors, and the
// failure texts both backends must share (CNG under Wine, OpenSSL on Linux).
#include <gtest/gtest.h>

#include <stdexcept>

#include "common/crypto.h"

namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

template <typename F>
std::string FailureOf(F&& call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no failure)";
}

const std::string kIv = Unhex("000102030405060708090a0b0c0d0e0f");

} // namespace

// FIPS 180-2 appendix B; RFC 4231 cases 1, 6 and 7 (keys longer than a block
// are hashed first); an empty key, which a broken profile would give.
TEST(CryptoVectors, Digests) {
    EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex(Sha256(std::string(1000000, 'a'))), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(Hex(HmacSha256("Hi There", std::string(20, '\x0b'))),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    const std::string longKey(131, '\xaa');
    EXPECT_EQ(Hex(HmacSha256("Test Using Larger Than Block-Size Key - Hash Key First", longKey)),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(Hex(HmacSha256("This is a test using a larger than block-size key and a larger than block-size data. "
                             "The key needs to be hashed before being used by the HMAC algorithm.",
                             longKey)),
              "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
    EXPECT_EQ(Hex(HmacSha256("", "")), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

// NIST SP 800-38A F.2.1, F.2.3, F.2.5: four blocks for each key size; the
// program's encryption adds one block of padding after them.
TEST(CryptoVectors, AesCbcAllKeySizes) {
    const std::string plain = Unhex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    // The padding block of each was computed with OpenSSL's command line.
    struct Case {
        const char* key;
        const char* cipher;
        const char* paddingBlock;
    } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7",
         "8cb82807230e1321d3fae00d18cc2012"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
         "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd",
         "612ccd79224b350935d45dd6a98f8176"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b",
         "3f461796d6b0d6b2e0c2a72b4d80e644"},
    };
    for (const Case& c : cases) {
        const std::string key = Unhex(c.key);
        const std::string cipher = AesCbcEncrypt(plain, key, kIv);
        ASSERT_EQ(cipher.size(), plain.size() + 16) << c.key;
        EXPECT_EQ(Hex(cipher.substr(0, plain.size())), c.cipher) << c.key;
        EXPECT_EQ(Hex(cipher.substr(plain.size())), c.paddingBlock) << c.key;
        EXPECT_EQ(AesCbcDecrypt(cipher, key, kIv), plain) << c.key;
    }
}

TEST(CryptoVectors, PaddingEdges) {
    const std::string key(32, 'k');
    // Every plaintext length up to two blocks comes back, padded to the next
    // whole block (a full block of padding after a whole number of blocks).
    for (std::size_t n = 0; n <= 32; ++n) {
        const std::string plain(n, static_cast<char>('a' + n % 26));
        const std::string cipher = AesCbcEncrypt(plain, key, kIv);
        EXPECT_EQ(cipher.size(), (n / 16 + 1) * 16) << n;
        EXPECT_EQ(AesCbcDecrypt(cipher, key, kIv), plain) << n;
    }
    // Decrypting only the first block of a two-block ciphertext makes the
    // end of that block the padding: every padding byte is checked, not only
    // the last.
    const auto firstBlock = [&](const std::string& plain) { return AesCbcEncrypt(plain, key, kIv).substr(0, 16); };
    EXPECT_EQ(AesCbcDecrypt(firstBlock(std::string(15, 'x') + "\x01"), key, kIv), std::string(15, 'x'));
    EXPECT_EQ(AesCbcDecrypt(firstBlock(std::string(12, 'x') + "\x04\x04\x04\x04"), key, kIv), std::string(12, 'x'));
    EXPECT_EQ(AesCbcDecrypt(firstBlock(std::string(16, '\x10')), key, kIv), "");
    for (const std::string bad : {std::string(15, 'x') + '\x00', std::string(15, 'x') + "\x11",
                                  std::string(14, 'x') + "\x03\x02", std::string(12, 'x') + "\x04\x04\x01\x04",
                                  std::string(15, '\x10') + "\x11"}) {
        EXPECT_EQ(FailureOf([&] { AesCbcDecrypt(firstBlock(bad), key, kIv); }), "BCryptDecrypt failed") << Hex(bad);
    }
    EXPECT_EQ(FailureOf([&] { AesCbcDecrypt("", key, kIv); }), "BCryptDecrypt failed");
}

// Both backends name the same failing step for the same bad input.
TEST(CryptoVectors, FailureTextsMatchAcrossBackends) {
    const std::string key(32, 'k');
    const std::string block(16, '\x02');
    for (std::size_t size : {0u, 7u, 15u, 33u, 64u}) {
        EXPECT_EQ(FailureOf([&] { AesCbcDecrypt(block, std::string(size, 'k'), kIv); }),
                  "BCryptGenerateSymmetricKey failed")
            << size;
        EXPECT_EQ(FailureOf([&] { AesCbcEncrypt("x", std::string(size, 'k'), kIv); }),
                  "BCryptGenerateSymmetricKey failed")
            << size;
    }
    for (std::size_t size : {0u, 8u, 15u, 17u, 32u}) {
        EXPECT_EQ(FailureOf([&] { AesCbcDecrypt(block, key, std::string(size, 'i')); }),
                  "BCryptDecrypt (size query) failed")
            << size;
        EXPECT_EQ(FailureOf([&] { AesCbcEncrypt("x", key, std::string(size, 'i')); }),
                  "BCryptEncrypt (size query) failed")
            << size;
    }
    for (std::size_t size : {1u, 15u, 17u, 31u}) {
        EXPECT_EQ(FailureOf([&] { AesCbcDecrypt(std::string(size, 'c'), key, kIv); }),
                  "BCryptDecrypt (size query) failed")
            << size;
    }
}
