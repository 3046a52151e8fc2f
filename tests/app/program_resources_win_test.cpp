// The built tovani.exe read as Windows reads it: the manifest through an
// activation context made from the file, the version information through the
// version API, and the icon the scheme's DefaultIcon names through the shell.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/scheme_registration.h"
#include "common/app_constants.h"
#include "tests/support/test_support.h"

namespace {

std::wstring ProgramPath() {
    const WString folder = Utf8ToWide(TestSupport::Env("TOVANI_BIN"));
    return std::wstring(folder.begin(), folder.end()) + L"\\tovani.exe";
}

std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : WideToUtf8(WString(reinterpret_cast<const char16_t*>(text)));
}

// A setting of the manifest's application section, as the loader parsed it.
std::string ManifestSetting(HANDLE context, const wchar_t* schema, const wchar_t* name) {
    wchar_t value[128] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, context, schema, name, value, ARRAYSIZE(value), &written)) return "(none)";
    return Narrow(value);
}

std::string VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    struct Translation {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &size) ||
        size < sizeof(Translation)) {
        return "(no translation)";
    }
    wchar_t path[128];
    swprintf(path, ARRAYSIZE(path), L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
             translations[0].codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&value), &size) || size == 0) return "(none)";
    return Narrow(value);
}

} // namespace

TEST(ProgramResources, ManifestVersionAndSchemeIconAreTheProgramsOwn) {
    const std::wstring program = ProgramPath();

    // The embedded manifest: resource 1, parsed by the loader with its
    // dependency on Common Controls 6 resolved.
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << "cannot open " << Narrow(program.c_str()) << ": " << GetLastError();
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
    std::string manifest;
    if (found != nullptr) {
        const void* bytes = LockResource(LoadResource(image, found));
        if (bytes != nullptr) manifest.assign(static_cast<const char*>(bytes), SizeofResource(image, found));
    }
    FreeLibrary(image);
    ASSERT_FALSE(manifest.empty()) << "no manifest, resource 1";
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
    // The program's text is wide throughout: no ANSI code page is asked for.
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);

    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the loader refuses the manifest: " << GetLastError();
    EXPECT_EQ(ManifestSetting(context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              "PerMonitorV2, PerMonitor");
    EXPECT_EQ(ManifestSetting(context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), "true/pm");
    ReleaseActCtx(context);

    // The version information, as the file's Properties show it.
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version information";
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::string version = WideToUtf8(ApplicationConstants.versionString);
    const auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
               "." + std::to_string(LOWORD(low));
    };
    // The same version as the window titles and the version check use.
    EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version + ".0");
    EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version + ".0");
    EXPECT_EQ(version, "4.9.0");
    EXPECT_EQ(VersionString(block, L"ProductName"), "Tovani");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), version);
    EXPECT_EQ(VersionString(block, L"FileVersion"), version);
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), "tovani.exe");
    for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"LegalCopyright", L"InternalName"}) {
        const std::string value = VersionString(block, name);
        EXPECT_FALSE(value.empty() || value[0] == '(') << Narrow(name) << ": " << value;
    }

    // The icon the registration names: "path,index" read back as the shell
    // reads it, and extracted from the program.
    const std::wstring location = SchemeIconLocation(program);
    const std::size_t comma = location.rfind(L',');
    ASSERT_NE(comma, std::wstring::npos) << Narrow(location.c_str());
    EXPECT_EQ(location.substr(0, comma), program);
    const int index = std::stoi(location.substr(comma + 1));
    HICON large = nullptr;
    HICON small = nullptr;
    EXPECT_GT(ExtractIconExW(program.c_str(), index, &large, &small, 1), 0u) << Narrow(location.c_str());
    EXPECT_NE(large, nullptr);
    EXPECT_NE(small, nullptr);
    ICONINFO info{};
    if (large != nullptr && GetIconInfo(large, &info)) {
        BITMAP bitmap{};
        GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
        if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
        if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    }
    if (large != nullptr) DestroyIcon(large);
    if (small != nullptr) DestroyIcon(small);
}
