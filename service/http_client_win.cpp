// The transport's WinHTTP backend: the session, and one request with its
// pre-flight, trust decision, pin checks and whole-body read.
#include <stdexcept>

#include "common/masking.h"
#include "service/http_client.h"
#include "service/server_chain_win.h"
#include "service/winhttp_handle_win.h"

struct HttpClient::Session {
    InternetHandle handle;
};

namespace {

constexpr DWORD kReceiveTimeoutMs = 30000;

bool HasPins(const WString& host) {
    const std::optional<PinEntry> entry = FindPinEntry(host);
    return entry && !entry->pins.empty();
}

// How a request's server is trusted: a pinned host on a pinning client by its
// pins alone (the system's verdict on the chain is ignored), every other
// secure request by ordinary validation.
struct TrustPlan {
    DWORD securityFlags = 0;
    bool checkAfterResponse = false;
};

TrustPlan PlanTrust(bool secure, bool pinning, const WString& host) {
    TrustPlan plan;
    if (!secure) return plan;
    if (pinning && HasPins(host)) {
        plan.securityFlags = kTrustPinsOnlyFlags;
        return plan;
    }
    const OrdinaryTrust ordinary = OrdinaryTrustFor(host);
    plan.securityFlags = ordinary.securityFlags;
    plan.checkAfterResponse = ordinary.checkAfterResponse;
    return plan;
}

// The pin check on a handle that has seen a handshake; the chain is read only
// for hosts that are pinned.
bool PinsAccept(HINTERNET request, const WString& host) {
    if (!HasPins(host)) return true;
    return ValidateServerPins(ServerChainFromRequest(request), host);
}

// An HTTP token (method or header name): visible ASCII without separators.
bool IsToken(const WString& text) {
    if (text.empty()) return false;
    for (char16_t c : text) {
        if (c <= 0x20 || c >= 0x7f) return false;
        if (WStringView(u"\"(),/:;<=>?@[\\]{}").find(c) != WStringView::npos) return false;
    }
    return true;
}

// Line breaks or a zero in a header value or URL would let the text forge
// further header lines; such input never goes on the wire.
bool HasLineBreakOrZero(const WString& text) { return text.find_first_of(WStringView(u"\r\n\0", 3)) != WString::npos; }

std::string SystemErrorText(const char* step, DWORD code) {
    return std::string(step) + " failed: " + std::to_string(code);
}

} // namespace

HttpClient::HttpClient() : session_(std::make_unique<Session>()) {
    const WString agent = Utf8ToWide(UnmaskConstant(Config::kUserAgent));
    session_->handle.Reset(
        WinHttpOpen(WinText(agent), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_->handle) throw std::runtime_error("WinHttpOpen failed");
    WinHttpSetTimeouts(session_->handle.get(), 10000, 10000, 30000, kReceiveTimeoutMs);
    // Every connection is direct, whatever the machine's proxy settings say.
    WINHTTP_PROXY_INFO proxy{};
    proxy.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    WinHttpSetOption(session_->handle.get(), WINHTTP_OPTION_PROXY, &proxy, sizeof(proxy));
}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Request(const WString& method, const WString& url, const std::string& body,
                                 const WString& contentType) {
    HttpResponse response;

    wchar_t hostBuffer[256] = {};
    wchar_t pathBuffer[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = hostBuffer;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = pathBuffer;
    parts.dwUrlPathLength = 2048;
    // The shared URL rules apply as well, so that both platforms refuse the
    // same malformed addresses (Wine's WinHttpCrackUrl accepts an empty
    // host or a port with letters in it).
    ParsedUrl checked;
    if (url.empty() || url.size() > 0xFFFFFFFFu || HasLineBreakOrZero(url) || !ParseHttpUrl(url, checked) ||
        !WinHttpCrackUrl(WinText(url), static_cast<DWORD>(url.size()), 0, &parts)) {
        response.error = "Failed to parse URL";
        return response;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        response.error = "Failed to parse URL";
        return response;
    }
    const WString host = FromWinText(hostBuffer, parts.dwHostNameLength);
    // A fragment belongs to the client alone and never goes on the wire.
    WString path = FromWinText(pathBuffer, parts.dwUrlPathLength);
    if (const std::size_t hash = path.find(u'#'); hash != WString::npos) path.resize(hash);
    if (path.empty()) path = u"/";
    const INTERNET_PORT port = parts.nPort;
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const bool pinning = !pinningDisabled;
    const TrustPlan trust = PlanTrust(secure, pinning, host);
    const DWORD securityFlags = trust.securityFlags;
    HINTERNET session = session_->handle.get();

    // A bare HEAD first, so that no header or body of the caller goes to a
    // host whose chain fails its pins.
    if (secure && pinning && !PreflightDone(host)) {
        InternetHandle connection(WinHttpConnect(session, WinText(host), port, 0));
        if (connection) {
            InternetHandle request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
            if (request) {
                SetRequestOptions(request.get(), false, securityFlags);
                BoundResponseWait(request.get(), kReceiveTimeoutMs);
                if (WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                       0)) {
                    WinHttpReceiveResponse(request.get(), nullptr);
                }
                const bool accepted = PinsAccept(request.get(), host);
                request.Reset();
                if (!accepted) {
                    response.error = PreflightPinFailureText(host);
                    return response;
                }
            }
        }
        MarkPreflightDone(host);
    }

    InternetHandle connection(WinHttpConnect(session, WinText(host), port, 0));
    if (!connection) {
        response.error = "WinHttpConnect failed";
        return response;
    }
    InternetHandle request;
    if (IsToken(method)) {
        request.Reset(WinHttpOpenRequest(connection.get(), WinText(method), WinText(path), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    }
    if (!request) {
        response.error = "WinHttpOpenRequest failed";
        return response;
    }
    SetRequestOptions(request.get(), true, securityFlags);
    BoundResponseWait(request.get(), kReceiveTimeoutMs);

    const std::map<WString, WString> headers = HeadersFor(secure, host, port);
    for (const auto& [name, value] : headers) {
        if (!IsToken(name) || HasLineBreakOrZero(value)) continue;
        const WString line = name + u": " + value;
        WinHttpAddRequestHeaders(request.get(), WinText(line), static_cast<DWORD>(line.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    if (!contentType.empty() && !HasLineBreakOrZero(contentType)) {
        const WString line = u"Content-Type: " + contentType;
        WinHttpAddRequestHeaders(request.get(), WinText(line), static_cast<DWORD>(line.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    if (body.size() > 0xFFFFFFFFu) {
        response.error = SystemErrorText("WinHttpSendRequest", ERROR_INVALID_PARAMETER);
        return response;
    }
    const DWORD length = static_cast<DWORD>(body.size());
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()), length, length,
                            0)) {
        response.error = SystemErrorText("WinHttpSendRequest", NormalizedWinHttpError(GetLastError()));
        return response;
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        response.error = SystemErrorText("WinHttpReceiveResponse", NormalizedWinHttpError(GetLastError()));
        return response;
    }

    if (trust.checkAfterResponse && !ServerTrustedOrdinarily(request.get(), host)) {
        // What WinHTTP itself reports for a chain it does not trust.
        response.error = SystemErrorText("WinHttpSendRequest", ERROR_WINHTTP_SECURE_FAILURE);
        return response;
    }
    if (secure && pinning && !PinsAccept(request.get(), host)) {
        response.error = PinFailureText(host);
        return response;
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    response.statusCode = status;

    std::string chunk;
    for (;;) {
        DWORD available = 0;
        WinHttpQueryDataAvailable(request.get(), &available);
        if (available == 0) break;
        chunk.resize(available);
        DWORD read = 0;
        // A failed read ends the body: the next query would fail as well,
        // and stopping here cannot spin on a broken connection.
        if (!WinHttpReadData(request.get(), chunk.data(), available, &read)) break;
        response.body.append(chunk.data(), read);
    }

    response.ok = response.statusCode >= 200 && response.statusCode <= 299;
    return response;
}
