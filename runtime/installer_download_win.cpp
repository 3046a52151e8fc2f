// The runtime installer's download: one hop per address until the body
// comes, each on its own session with the proxy the user's settings give
// for that address.
#include "runtime/installer_download_win.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/masking.h"
#include "service/http_client.h"
#include "service/pins.h"
#include "service/sending_check_win.h"
#include "service/server_chain_win.h"
#include "service/winhttp_handle_win.h"

namespace {

constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kChunkBytes = 64 * 1024;

InstallerDownload::Result Failure(std::string reason) {
    InstallerDownload::Result result;
    result.outcome = InstallerDownload::Outcome::Failed;
    result.reason = std::move(reason);
    return result;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Nothing an address on the wire may hold: controls, spaces, non-ASCII.
bool IsWireText(const WString& text) {
    for (char16_t c : text) {
        if (c <= 0x20 || c >= 0x7f) return false;
    }
    return !text.empty();
}

bool StartsWithNoCase(const WString& text, const char16_t* prefix) {
    const WString wanted(prefix);
    return text.size() >= wanted.size() && ToLowerCopy(text.substr(0, wanted.size())) == wanted;
}

// The host's pins: the store's entry once start-up has filled it, the
// built-in defaults before (the runtime is ensured before the pins load).
std::optional<PinEntry> PinsFor(const WString& host) {
    std::optional<PinEntry> entry = FindPinEntry(host);
    if (!entry) entry = FindPinEntryIn(DefaultPins(), host);
    if (entry && entry->pins.empty()) entry.reset();
    return entry;
}

std::optional<WString> QueryText(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 16 * 1024) return std::nullopt;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return FromWinText(buffer.data(), size / sizeof(wchar_t));
}

// An announced length: digits only, else nothing.
std::optional<std::uint64_t> ContentLength(HINTERNET request) {
    const std::optional<WString> text = QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!text || text->empty() || text->size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t c : *text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    }
    return value;
}

std::string SilenceText() { return "no data for " + std::to_string(kInactivityMs / 1000) + " s"; }

// A timed-out wait is the silence limit, whichever clock noticed it first.
std::string ErrorText(const char* step, DWORD code) {
    if (NormalizedWinHttpError(code) == ERROR_WINHTTP_TIMEOUT) return SilenceText();
    return std::string(step) + " failed: " + std::to_string(code);
}

void FreeText(LPWSTR text) {
    if (text != nullptr) GlobalFree(text);
}

WString TextOf(LPCWSTR text) {
    return text == nullptr ? WString() : FromWinText(text, wcslen(text));
}

} // namespace

WString ResolveRedirect(const WString& base, const WString& location) {
    ParsedUrl from;
    if (!IsWireText(location) || !ParseHttpUrl(base, from)) return {};
    WString target;
    if (StartsWithNoCase(location, u"https://")) {
        target = location;
    } else if (location.size() >= 2 && location[0] == u'/' && location[1] == u'/') {
        target = u"https:" + location;
    } else if (location.find(u':') != WString::npos &&
               location.find(u':') < std::min(location.find(u'/'), location.find(u'?'))) {
        return {}; // another scheme (http: among them)
    } else {
        const WString origin = u"https://" + from.host + u":" + Utf8ToWide(std::to_string(from.port));
        if (location[0] == u'/') {
            target = origin + location;
        } else {
            WString folder = from.path.substr(0, from.path.find(u'?'));
            folder.resize(folder.rfind(u'/') + 1);
            target = origin + folder + location;
        }
    }
    ParsedUrl checked;
    if (!ParseHttpUrl(target, checked) || !checked.secure) return {};
    return target;
}

ProxyChoice SystemProxyFor(const WString& url) {
    ProxyChoice choice;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    const bool haveSettings = WinHttpGetIEProxyConfigForCurrentUser(&settings) != FALSE;
    // Without settings of the user's own, Windows detects automatically.
    const bool detect = !haveSettings || settings.fAutoDetect;
    bool decided = false;
    if (detect || settings.lpszAutoConfigUrl != nullptr) {
        InternetHandle session(
            WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (settings.lpszAutoConfigUrl != nullptr) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
        }
        if (detect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (session && WinHttpGetProxyForUrl(session.get(), WinText(url), &options, &info)) {
            decided = true;
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr) {
                choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
                choice.proxy = TextOf(info.lpszProxy);
                choice.bypass = TextOf(info.lpszProxyBypass);
            }
            FreeText(info.lpszProxy);
            FreeText(info.lpszProxyBypass);
        }
    }
    // A script that cannot be had, or none: the manual setting decides.
    if (!decided && settings.lpszProxy != nullptr && settings.lpszProxy[0] != L'\0') {
        choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        choice.proxy = TextOf(settings.lpszProxy);
        choice.bypass = TextOf(settings.lpszProxyBypass);
    }
    FreeText(settings.lpszAutoConfigUrl);
    FreeText(settings.lpszProxy);
    FreeText(settings.lpszProxyBypass);
    return choice;
}

InstallerDownload::Result InstallerDownload::Run(const WString& url, HANDLE file) {
    lastActivity_ = GetTickCount64();
    Result result = Fetch(url, file);
    if (Cancelled() && result.outcome != Outcome::Done) {
        result.outcome = timedOut_ ? Outcome::Failed : Outcome::Cancelled;
        result.reason = timedOut_ ? SilenceText() : "cancelled";
    }
    result.bytes = received_;
    finished_ = true;
    return result;
}

void InstallerDownload::Cancel(bool timedOut) {
    if (cancelled_.exchange(true)) return;
    timedOut_ = timedOut;
    std::lock_guard<std::mutex> guard(lock_);
    // A read that waits on a silent line returns only when its connection
    // goes: shut it and close the request.
    if (attached_ != nullptr && !attachedClosed_) {
        CancelSending(attached_);
        attachedClosed_ = true;
    }
}

bool InstallerDownload::Attach(HINTERNET request) {
    std::lock_guard<std::mutex> guard(lock_);
    // Cancel sets its flag before it looks here: a request attached after
    // that would never be cut off, and one attached before is.
    if (Cancelled()) return false;
    attached_ = request;
    attachedClosed_ = false;
    return true;
}

bool InstallerDownload::Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    attached_ = nullptr;
    return !attachedClosed_;
}

InstallerDownload::Result InstallerDownload::Fetch(const WString& url, HANDLE file) {
    const WString agent = Utf8ToWide(UnmaskConstant(Config::kUserAgent));
    WString current = url;
    for (int hop = 0; hop <= kMaxInstallerRedirects; ++hop) {
        if (Cancelled()) return Failure("cancelled");
        ParsedUrl parts;
        if (!IsWireText(current) || !ParseHttpUrl(current, parts) || !parts.secure) {
            return Failure("not an https address: " + WideToUtf8(current));
        }
        const ProxyChoice proxy = SystemProxyFor(current);
        const bool named = proxy.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        InternetHandle session(WinHttpOpen(WinText(agent), proxy.accessType,
                                           named ? WinText(proxy.proxy) : WINHTTP_NO_PROXY_NAME,
                                           named && !proxy.bypass.empty() ? WinText(proxy.bypass) : WINHTTP_NO_PROXY_BYPASS,
                                           0));
        if (!session) return Failure(ErrorText("WinHttpOpen", GetLastError()));
        // The receive limit is a silence limit: it applies to each wait for
        // data, not to the whole transfer.
        WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kInactivityMs, kInactivityMs);
        InternetHandle connection(WinHttpConnect(session.get(), WinText(parts.host), parts.port, 0));
        if (!connection) return Failure(ErrorText("WinHttpConnect", GetLastError()));
        InternetHandle request(WinHttpOpenRequest(connection.get(), L"GET", WinText(parts.path), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        if (!request) return Failure(ErrorText("WinHttpOpenRequest", GetLastError()));

        // A pinned platform host by its pins alone, any other host by
        // ordinary validation; each connection before it sends.
        SendingCheck check;
        check.host = parts.host;
        DWORD securityFlags = 0;
        if (std::optional<PinEntry> pins = PinsFor(parts.host)) {
            check.kind = SendingCheck::Kind::Pins;
            check.pins = std::move(*pins);
            securityFlags = kTrustPinsOnlyFlags;
        } else {
            check.kind = SendingCheck::Kind::Ordinary;
            securityFlags = OrdinaryTrustFor(parts.host).securityFlags;
        }
        // Redirects are followed here, hop by hop, so that each is checked.
        SetRequestOptions(request.get(), true, securityFlags);
        BoundResponseWait(request.get(), kInactivityMs);
        const auto refused = [&check, &parts]() {
            // On the platform's primary domain this shows the diagnostic
            // dialog and does not return.
            if (check.kind == SendingCheck::Kind::Pins) ValidateServerPinsAgainst(check.chain, parts.host, check.pins);
            return Failure("the server of " + WideToUtf8(parts.host) + " is not trusted");
        };

        ArmSendingCheck(request.get(), check);
        const BOOL sent = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                             0, 0, 0);
        const DWORD sendError = sent ? 0 : GetLastError();
        if (check.handleClosed) request.Forget();
        if (check.refused || (sent && !check.ran)) return refused();
        if (!sent) return Failure(ErrorText("WinHttpSendRequest", sendError));
        const BOOL answered = WinHttpReceiveResponse(request.get(), nullptr);
        const DWORD receiveError = answered ? 0 : GetLastError();
        if (check.handleClosed) request.Forget();
        if (check.refused) return refused();
        if (!answered) return Failure(ErrorText("WinHttpReceiveResponse", receiveError));
        lastActivity_ = GetTickCount64();

        DWORD status = 0;
        DWORD statusSize = sizeof(status);
        WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
        if (IsRedirect(status)) {
            const std::optional<WString> location = QueryText(request.get(), WINHTTP_QUERY_LOCATION);
            const WString next = location ? ResolveRedirect(current, *location) : WString();
            if (next.empty()) {
                return Failure("status " + std::to_string(status) + " to a refused address: " +
                               (location ? WideToUtf8(*location) : std::string("none")));
            }
            current = next;
            continue;
        }
        if (status != 200) return Failure("status " + std::to_string(status));
        const std::optional<std::uint64_t> announced = ContentLength(request.get());
        if (announced && *announced > kMaxInstallerBytes) {
            return Failure("announced " + std::to_string(*announced) + " bytes, over the limit");
        }
        total_ = announced.value_or(0);

        Result result;
        result.finalUrl = current;
        result.outcome = Outcome::Done;
        std::vector<char> chunk(kChunkBytes);
        if (!Attach(request.get())) return Failure("cancelled");
        for (;;) {
            if (Cancelled()) {
                result = Failure("cancelled");
                break;
            }
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request.get(), &available)) {
                result = Failure(ErrorText("WinHttpQueryDataAvailable", GetLastError()));
                break;
            }
            if (available == 0) break;
            const DWORD want = std::min<DWORD>(available, kChunkBytes);
            if (received_ + want > kMaxInstallerBytes) {
                result = Failure("more than " + std::to_string(kMaxInstallerBytes) + " bytes");
                break;
            }
            DWORD read = 0;
            if (!WinHttpReadData(request.get(), chunk.data(), want, &read)) {
                result = Failure(ErrorText("WinHttpReadData", GetLastError()));
                break;
            }
            DWORD written = 0;
            if (read > 0 && (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read)) {
                result = Failure(ErrorText("WriteFile", GetLastError()));
                break;
            }
            received_ += read;
            lastActivity_ = GetTickCount64();
        }
        if (!Detach()) request.Forget();
        if (result.outcome == Outcome::Done && announced && received_ != *announced) {
            return Failure("the body ended after " + std::to_string(received_.load()) + " of " +
                           std::to_string(*announced) + " bytes");
        }
        return result;
    }
    return Failure("more than " + std::to_string(kMaxInstallerRedirects) + " redirects");
}
