// Windows sources of the machine identity: a WMI property with a registry
// fallback, and two registry values describing the machine.
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include "common/masking.h"
#include "service/device_identity.h"
#include "service/device_sources_win.h"

namespace {

template <typename T>
struct ComPtr {
    T* ptr = nullptr;
    ~ComPtr() {
        if (ptr != nullptr) ptr->Release();
    }
};

struct Bstr {
    BSTR text;
    explicit Bstr(const WString& value)
        : text(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()), static_cast<UINT>(value.size()))) {}
    ~Bstr() { SysFreeString(text); }
};

struct RegistryKey {
    HKEY handle = nullptr;
    ~RegistryKey() {
        if (handle != nullptr) RegCloseKey(handle);
    }
};

std::optional<WString> QueryWmi(const WString& wmiNamespace, const WString& query, const WString& property) {
    ComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator.ptr))) ||
        locator.ptr == nullptr) {
        return std::nullopt;
    }
    Bstr space(wmiNamespace);
    ComPtr<IWbemServices> services;
    if (space.text == nullptr ||
        FAILED(locator.ptr->ConnectServer(space.text, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services.ptr)) ||
        services.ptr == nullptr) {
        return std::nullopt;
    }
    CoSetProxyBlanket(services.ptr, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    Bstr language(u"WQL");
    Bstr text(query);
    ComPtr<IEnumWbemClassObject> enumerator;
    if (language.text == nullptr || text.text == nullptr ||
        FAILED(services.ptr->ExecQuery(language.text, text.text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                       nullptr, &enumerator.ptr)) ||
        enumerator.ptr == nullptr) {
        return std::nullopt;
    }
    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    enumerator.ptr->Next(WBEM_INFINITE, 1, &object.ptr, &returned);
    if (returned == 0 || object.ptr == nullptr) return std::nullopt;
    std::optional<WString> value;
    VARIANT variant;
    VariantInit(&variant);
    if (SUCCEEDED(object.ptr->Get(reinterpret_cast<LPCWSTR>(property.c_str()), 0, &variant, nullptr, nullptr)) &&
        variant.vt == VT_BSTR && variant.bstrVal != nullptr) {
        value = WString(reinterpret_cast<const char16_t*>(variant.bstrVal), SysStringLen(variant.bstrVal));
    }
    VariantClear(&variant);
    return value;
}

WString Config16(const Config::MaskedConstant& constant) { return Utf8ToWide(UnmaskConstant(constant)); }

} // namespace

std::optional<WString> ReadWmiString(const WString& wmiNamespace, const WString& query, const WString& property) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The COM objects are released inside QueryWmi, before COM is balanced.
    std::optional<WString> value = QueryWmi(wmiNamespace, query, property);
    if (init == S_OK || init == S_FALSE) CoUninitialize();
    return value;
}

std::optional<WString> QueryRegistryString(HKEY key, const WString& valueName) {
    // 512 bytes as the system writes them, plus room for a terminator the
    // value itself may lack.
    wchar_t buffer[256 + 1] = {};
    DWORD size = 512;
    DWORD type = 0;
    if (RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(valueName.c_str()), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::size_t length = size / sizeof(wchar_t);
    if (length > 256) length = 256;
    std::size_t end = 0;
    while (end < length && buffer[end] != L'\0') ++end;
    return WString(reinterpret_cast<const char16_t*>(buffer), end);
}

std::optional<WString> ReadRegistryString(HKEY root, const WString& keyPath, const WString& valueName, REGSAM access) {
    RegistryKey key;
    if (RegOpenKeyExW(root, reinterpret_cast<LPCWSTR>(keyPath.c_str()), 0, access, &key.handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return QueryRegistryString(key.handle, valueName);
}

DeviceSources ReadDeviceSources() {
    DeviceSources sources;
    if (auto value = ReadWmiString(Config16(Config::kWmiNamespace), Config16(Config::kWmiQuery),
                                   Config16(Config::kWmiProperty))) {
        sources.identifier = *value;
    }
    if (sources.identifier.empty()) {
        if (auto value = ReadRegistryString(HKEY_LOCAL_MACHINE, Config16(Config::kMachineIdKey),
                                            Config16(Config::kMachineIdValue), KEY_READ | KEY_WOW64_64KEY)) {
            sources.identifier = *value;
        }
    }
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(Config16(Config::kDescriptionKey).c_str()), 0,
                      KEY_READ, &key.handle) == ERROR_SUCCESS) {
        if (Config::kDescriptionValuesCount > 0) {
            sources.description1 = QueryRegistryString(key.handle, Config16(Config::kDescriptionValues[0]));
        }
        if (Config::kDescriptionValuesCount > 1) {
            sources.description2 = QueryRegistryString(key.handle, Config16(Config::kDescriptionValues[1]));
        }
    }
    return sources;
}
