#include <gtest/gtest.h>

#include "common/base64.h"
#include "common/crypto.h"

namespace {
std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}
std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
} // namespace

// Published vectors: FIPS 180-2, RFC 4231 case 2, NIST SP 800-38A F.2.5 (CBC-AES256).
TEST(SystemCrypto, MatchesPublishedVectors) {
    EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(HmacSha256("what do ya want for nothing?", "Jefe")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");

    const std::string key = Unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::string iv = Unhex("000102030405060708090a0b0c0d0e0f");
    const std::string plain = Unhex("6bc1bee22e409f96e93d7e117393172a");
    const std::string cipher = AesCbcEncrypt(plain, key, iv);
    ASSERT_EQ(cipher.size(), 32u); // one data block and one padding block
    EXPECT_EQ(Hex(cipher.substr(0, 16)), "f58c4c04d6e5f1ba779eabfb5f7bfbd6");
    EXPECT_EQ(AesCbcDecrypt(cipher, key, iv), plain);
}

TEST(SystemCrypto, WrongKeyFailsOnPaddingOrYieldsOtherBytes) {
    const std::string key(32, 'a');
    const std::string iv(16, 'i');
    const std::string cipher = AesCbcEncrypt("some plaintext that spans blocks", key, iv);
    std::string other;
    try {
        other = AesCbcDecrypt(cipher, std::string(32, 'b'), iv);
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "BCryptDecrypt failed");
        return;
    }
    EXPECT_NE(other, "some plaintext that spans blocks");
}

TEST(SystemCrypto, RandomBytesDiffer) {
    EXPECT_EQ(RandomBytes(16).size(), 16u);
    EXPECT_NE(RandomBytes(16), RandomBytes(16));
}
