#pragma once
// Windows backend only: WinHTTP handles closed on every way out, and the
// per-request options shared by the transport and the pin probe.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "common/text.h"

class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HINTERNET handle = nullptr) {
        if (handle_ != nullptr) WinHttpCloseHandle(handle_);
        handle_ = handle;
    }
    // Forgets a handle that was closed elsewhere (a cancelled send), so that
    // its value, which WinHTTP may hand out again, is never closed twice.
    void Forget() { handle_ = nullptr; }

private:
    HINTERNET handle_ = nullptr;
};

// Security flags that leave trust to the pins alone: unknown authority, wrong
// usage, host-name mismatch and validity dates are not fatal.
inline constexpr DWORD kTrustPinsOnlyFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                             SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                             SECURITY_FLAG_IGNORE_CERT_DATE_INVALID; // 0x3300

// Options every request handle gets, in this order, outcomes unchecked:
// option 98 (1), no redirect following, then, for the main request only,
// never from HTTPS to HTTP, then the security flags when there are any.
inline void SetRequestOptions(HINTERNET request, bool mainRequest, DWORD securityFlags) {
    DWORD one = 1;
    WinHttpSetOption(request, 98, &one, sizeof(one));
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
    if (mainRequest) {
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    }
    if (securityFlags != 0) WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, sizeof(securityFlags));
}

// Windows bounds the wait for an answer's headers by the session's receive
// timeout; Wine ignores that one and honours only the per-request option.
inline void BoundResponseWait(HINTERNET request, DWORD milliseconds) {
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &milliseconds, sizeof(milliseconds));
}

// Wine reports a timed-out receive with the socket's code (WSAETIMEDOUT);
// Windows, and so the program's error texts, use WinHTTP's own.
inline DWORD NormalizedWinHttpError(DWORD code) { return code == 10060 ? ERROR_WINHTTP_TIMEOUT : code; }

// WinHTTP wants wchar_t; the program's text is char16_t of the same width.
inline const wchar_t* WinText(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline WString FromWinText(const wchar_t* text, std::size_t length) {
    return WString(reinterpret_cast<const char16_t*>(text), length);
}
