// The Windows sources of the machine identity on Wine's real WMI service and
// registry.
#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

#include "common/base64.h"
#include "common/masking.h"
#include "service/device_identity.h"
#include "service/device_sources_win.h"
#include "tests/support/test_support.h"

namespace {

const WString kNamespace = u"ROOT\\CIMV2";
const WString kProductQuery = u"SELECT UUID FROM Win32_ComputerSystemProduct";
const WString kTestKey = u"Software\\Tovani\\IdentityTest";

std::string Trim(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

// The product UUID as the system's own wmic tool reports it (UTF-16 output).
std::string UuidFromWmic() {
    const TestSupport::ProcessResult r =
        TestSupport::RunProcess("wmic", {"path", "Win32_ComputerSystemProduct", "get", "UUID"});
    WString text;
    for (std::size_t i = 0; i + 1 < r.out.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(r.out[i]) |
                                             static_cast<unsigned char>(r.out[i + 1]) << 8));
    }
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    const std::string utf8 = WideToUtf8(text);
    const std::size_t header = utf8.find("UUID");
    if (header == std::string::npos) return {};
    return Trim(utf8.substr(header + 4));
}

class TestKey : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, Win(kTestKey));
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Win(kTestKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_ != nullptr) RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, Win(kTestKey));
    }
    static const wchar_t* Win(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
    // Stores the bytes exactly: with or without a terminator, of any type.
    void Set(const WString& name, const WString& value, DWORD type = REG_SZ, bool terminated = true) {
        const DWORD bytes = static_cast<DWORD>((value.size() + (terminated ? 1 : 0)) * sizeof(char16_t));
        ASSERT_EQ(RegSetValueExW(key_, Win(name), 0, type, reinterpret_cast<const BYTE*>(value.c_str()), bytes),
                  ERROR_SUCCESS);
    }
    std::optional<WString> Read(const WString& name) {
        return ReadRegistryString(HKEY_CURRENT_USER, kTestKey, name, KEY_READ | KEY_WOW64_64KEY);
    }
    HKEY key_ = nullptr;
};

} // namespace

TEST(WmiSource, ProductUuidAsWmicReportsIt) {
    const std::optional<WString> uuid = ReadWmiString(kNamespace, kProductQuery, u"UUID");
    ASSERT_TRUE(uuid.has_value());
    EXPECT_EQ(uuid->size(), 36u) << WideToUtf8(*uuid);
    EXPECT_EQ(WideToUtf8(*uuid), UuidFromWmic());

    // The profile names the same source, and the identity is its Base64.
    EXPECT_EQ(UnmaskConstant(Config::kWmiQuery), WideToUtf8(kProductQuery));
    const DeviceSources sources = ReadDeviceSources();
    EXPECT_EQ(sources.identifier, *uuid);
    EXPECT_EQ(GetDeviceIdentity(), WidenAscii(Base64Encode(WideToUtf8(*uuid))));
}

TEST(WmiSource, FailuresAreQuiet) {
    EXPECT_FALSE(ReadWmiString(u"ROOT\\NoSuchNamespace", kProductQuery, u"UUID").has_value());
    EXPECT_FALSE(ReadWmiString(kNamespace, u"SELECT UUID FROM NoSuchClass", u"UUID").has_value());
    EXPECT_FALSE(ReadWmiString(kNamespace, u"not a query", u"UUID").has_value());
    EXPECT_FALSE(ReadWmiString(kNamespace, kProductQuery, u"NoSuchProperty").has_value());
    EXPECT_FALSE(ReadWmiString(u"", u"", u"").has_value());
    // A property that is not a string does not count.
    EXPECT_FALSE(ReadWmiString(kNamespace, u"SELECT NumberOfProcessors FROM Win32_ComputerSystem",
                               u"NumberOfProcessors")
                     .has_value());
}

TEST(WmiSource, LeavesTheThreadsComApartmentAsItFoundIt) {
    // A fresh thread: the query initialises COM and balances it.
    std::thread([] {
        ASSERT_TRUE(ReadWmiString(kNamespace, kProductQuery, u"UUID").has_value());
        // Were COM still initialised single-threaded here, this would fail.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
    // A thread already in the multithreaded apartment keeps it, and the query
    // still works there.
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_TRUE(ReadWmiString(kNamespace, kProductQuery, u"UUID").has_value());
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
    }).join();
}

TEST_F(TestKey, ValuesUpTo512BytesAreRead) {
    Set(u"Plain", u"abc");
    Set(u"Empty", u"");
    Set(u"Arabic", u"\u062c\u0647\u0627\u0632");
    Set(u"Unterminated", u"no-terminator", REG_SZ, false);
    Set(u"AtLimit", WString(255, u'x')); // 510 bytes and the terminator: 512
    Set(u"TooLong", WString(256, u'z')); // 514 bytes
    EXPECT_EQ(Read(u"Plain"), WString(u"abc"));
    EXPECT_EQ(Read(u"Empty"), WString());
    EXPECT_EQ(Read(u"Arabic"), WString(u"\u062c\u0647\u0627\u0632"));
    EXPECT_EQ(Read(u"Unterminated"), WString(u"no-terminator"));
    EXPECT_EQ(Read(u"AtLimit"), WString(255, u'x'));
    EXPECT_FALSE(Read(u"TooLong").has_value());
    EXPECT_FALSE(Read(u"Missing").has_value());
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kTestKey + u"\\Missing", u"Plain", KEY_READ).has_value());

    // Other value types are read as text, never past what was stored.
    ASSERT_EQ(RegSetValueExW(key_, L"Odd", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    EXPECT_EQ(Read(u"Odd")->size(), 1u);
}

TEST(RegistrySource, MachineGuidFallbackIsReadable) {
    // The fallback the profile names: a GUID in the 64-bit view of HKLM.
    const std::optional<WString> guid =
        ReadRegistryString(HKEY_LOCAL_MACHINE, Utf8ToWide(UnmaskConstant(Config::kMachineIdKey)),
                           Utf8ToWide(UnmaskConstant(Config::kMachineIdValue)), KEY_READ | KEY_WOW64_64KEY);
    ASSERT_TRUE(guid.has_value());
    EXPECT_EQ(guid->size(), 36u);
    EXPECT_EQ((*guid)[8], u'-');
}
