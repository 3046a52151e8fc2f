// The transport's WinHTTP backend: the session, and one request with its
// pre-flight, the check of each connection's server before anything is sent,
// and a bounded whole-body read. Pinning clients share one session, so its
// kept connections serve all of them; the check runs before every request
// is sent, on a kept connection as on a new one.
#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "common/masking.h"
#include "service/answer_window.h"
#include "service/browser_fetch_win.h"
#include "service/http_client.h"
#include "service/sending_check_win.h"
#include "service/server_chain_win.h"
#include "service/transfer_pump.h"
#include "service/winhttp_handle_win.h"

struct HttpClient::Session {
    InternetHandle handle;
};

namespace {

constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;

// The moment a request gives up, whatever it is waiting for: its own limit,
// or the bound on the whole wait for the service when that comes first.
class Deadline {
public:
    explicit Deadline(unsigned long limitMs)
        : end_(Clock::now() + std::chrono::milliseconds(ServiceWaitLeftMs(limitMs))) {}
    // Milliseconds left; 0 once the deadline has passed.
    DWORD Remaining() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<DWORD>(left) : 0;
    }
    bool Passed() const { return Remaining() == 0; }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point end_;
};

// Caps every wait of a request handle at the time left. WinHTTP applies a
// request's timeouts to its live connection at once, so this also bounds a
// body read that is already under way. A timeout of 0 would mean none.
void BoundWaits(HINTERNET request, const Deadline& deadline) {
    const DWORD left = std::max<DWORD>(deadline.Remaining(), 1);
    WinHttpSetTimeouts(request, static_cast<int>(std::min(kResolveTimeoutMs, left)),
                       static_cast<int>(std::min(kConnectTimeoutMs, left)),
                       static_cast<int>(std::min(kSendTimeoutMs, left)),
                       static_cast<int>(std::min(kReceiveTimeoutMs, left)));
    BoundResponseWait(request, std::min(kReceiveTimeoutMs, left));
}

// How a request's server is trusted, decided once when the request begins:
// a pinned host on a pinning client by its pins alone (the system's verdict
// on the chain is ignored), every other secure request by ordinary
// validation. Either way the server is checked on each connection before a
// request byte leaves.
struct TrustPlan {
    DWORD securityFlags = 0;
    SendingCheck check;
};

TrustPlan PlanTrust(bool secure, bool pinning, const WString& host) {
    TrustPlan plan;
    plan.check.host = host;
    if (!secure) return plan;
    if (pinning) {
        std::optional<PinEntry> entry = FindPinEntry(host);
        if (entry && !entry->pins.empty()) {
            plan.securityFlags = kTrustPinsOnlyFlags;
            plan.check.kind = SendingCheck::Kind::Pins;
            plan.check.pins = std::move(*entry);
            return plan;
        }
    }
    plan.securityFlags = OrdinaryTrustFor(host).securityFlags;
    plan.check.kind = SendingCheck::Kind::Ordinary;
    return plan;
}

// Sends on an armed request handle. A refused server has had the handle
// closed under the caller; it is forgotten here so that nobody closes its
// value again.
bool SendChecked(InternetHandle& request, SendingCheck& check, void* body, DWORD length, DWORD& error) {
    ArmSendingCheck(request.get(), check);
    const BOOL sent =
        WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length, 0);
    error = sent ? 0 : GetLastError();
    if (check.handleClosed) request.Forget();
    // Should the notification never come, the server was never looked at:
    // its answer is not used.
    if (sent && check.kind != SendingCheck::Kind::None && !check.ran) check.refused = true;
    return sent && !check.refused;
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

HttpResponse Failure(std::string error, bool unreachable = false) {
    NoteFailure(error, unreachable);
    HttpResponse response;
    response.error = std::move(error);
    return response;
}

// No connection was made at all: the name did not resolve, the connection
// was refused or had no route, or time ran out before any server was seen.
bool Unreachable(const SendingCheck& check, DWORD error, const Deadline& deadline) {
    if (check.ran) return false;
    // Wine reports a handshake cut short by the time-out in other words.
    if (deadline.Passed()) return true;
    error = NormalizedWinHttpError(error);
    return error == ERROR_WINHTTP_NAME_NOT_RESOLVED || error == ERROR_WINHTTP_CANNOT_CONNECT ||
           error == ERROR_WINHTTP_TIMEOUT;
}

HINTERNET OpenSession() {
    const WString agent = Utf8ToWide(UnmaskConstant(Config::kUserAgent));
    HINTERNET handle =
        WinHttpOpen(WinText(agent), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (handle == nullptr) return nullptr;
    WinHttpSetTimeouts(handle, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    // Every connection is direct, whatever the machine's proxy settings say.
    WINHTTP_PROXY_INFO proxy{};
    proxy.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    WinHttpSetOption(handle, WINHTTP_OPTION_PROXY, &proxy, sizeof(proxy));
    return handle;
}

// The session of every pinning client; never closed. Null when it cannot be
// opened, and the client's own session serves.
HINTERNET PinningSession() {
    static InternetHandle* shared = new InternetHandle(OpenSession());
    return shared->get();
}

// The URL as the browser reads it: the authority ends at the first "/",
// "?", "#" or "\\", user information up to its last "@" is dropped, and
// backslashes in the path are slashes. The URL is rebuilt from those parts,
// so that the host the pins and the identity headers are looked up for is the
// host the connection goes to, whichever parser reads it next.
WString AsBrowserReadsIt(const WString& url) {
    const std::size_t schemeEnd = url.find(u"://");
    if (schemeEnd == WString::npos) return url;
    const std::size_t authorityStart = schemeEnd + 3;
    std::size_t authorityEnd = url.find_first_of(u"/?#\\", authorityStart);
    if (authorityEnd == WString::npos) authorityEnd = url.size();
    WString authority = url.substr(authorityStart, authorityEnd - authorityStart);
    if (const std::size_t at = authority.rfind(u'@'); at != WString::npos) authority.erase(0, at + 1);
    WString rest = url.substr(authorityEnd);
    const std::size_t pathEnd = std::min(rest.find_first_of(u"?#"), rest.size());
    std::replace(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(pathEnd), u'\\', u'/');
    return url.substr(0, authorityStart) + authority + rest;
}

WString WithoutBrackets(const WString& host) {
    if (host.size() >= 2 && host.front() == u'[' && host.back() == u']') return host.substr(1, host.size() - 2);
    return host;
}

// The parts of a request's URL, read by both the shared rules and WinHTTP
// (Wine's WinHttpCrackUrl accepts an empty host or a port with letters in
// it), which must name the same host; false for anything else. A fragment
// belongs to the client alone and never goes on the wire.
bool ReadRequestUrl(const WString& url, WString& host, INTERNET_PORT& port, WString& path, bool& secure) {
    wchar_t hostBuffer[256] = {};
    wchar_t pathBuffer[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = hostBuffer;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = pathBuffer;
    parts.dwUrlPathLength = 2048;
    const WString address = AsBrowserReadsIt(url);
    ParsedUrl checked;
    if (url.empty() || url.size() > 0xFFFFFFFFu || HasLineBreakOrZero(url) || !ParseHttpUrl(address, checked) ||
        !WinHttpCrackUrl(WinText(address), static_cast<DWORD>(address.size()), 0, &parts)) {
        return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    host = FromWinText(hostBuffer, parts.dwHostNameLength);
    if (WithoutBrackets(host) != WithoutBrackets(checked.host) || parts.nPort != checked.port) return false;
    path = FromWinText(pathBuffer, parts.dwUrlPathLength);
    if (const std::size_t hash = path.find(u'#'); hash != WString::npos) path.resize(hash);
    if (path.empty()) path = u"/";
    port = parts.nPort;
    secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

} // namespace

HttpClient::HttpClient() : session_(std::make_unique<Session>()) {
    session_->handle.Reset(OpenSession());
    if (!session_->handle) throw std::runtime_error("WinHttpOpen failed");
}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Request(const WString& method, const WString& url, const std::string& body,
                                 const WString& contentType) {
    // A user interface waiting on this keeps running (service/transfer_pump.h).
    return RunPumped([&] { return Exchange(method, url, body, contentType); });
}

HttpResponse HttpClient::Exchange(const WString& method, const WString& url, const std::string& body,
                                  const WString& contentType) {
    const Deadline deadline(requestDeadlineMs);
    if (deadline.Passed()) return Failure(OutOfTimeText(), true);

    WString host, path;
    INTERNET_PORT port = 0;
    bool secure = false;
    if (!ReadRequestUrl(url, host, port, path, secure)) return Failure("Failed to parse URL");
    const bool pinning = !pinningDisabled;
    TrustPlan trust = PlanTrust(secure, pinning, host);
    HINTERNET session = pinning && PinningSession() != nullptr ? PinningSession() : session_->handle.get();

    // A bare HEAD first. Since every connection is checked before it sends,
    // secrets no longer depend on it; it stays for its texts and its record of
    // hosts already seen.
    const PinEntry* pins = trust.check.kind == SendingCheck::Kind::Pins ? &trust.check.pins : nullptr;
    if (secure && pinning && !PreflightDone(host, port, pins)) {
        InternetHandle connection(WinHttpConnect(session, WinText(host), port, 0));
        if (connection) {
            InternetHandle request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
            if (request) {
                SetRequestOptions(request.get(), false, trust.securityFlags);
                BoundWaits(request.get(), deadline);
                SendingCheck check = trust.check;
                DWORD sendError = 0;
                if (SendChecked(request, check, WINHTTP_NO_REQUEST_DATA, 0, sendError)) {
                    WinHttpReceiveResponse(request.get(), nullptr);
                }
                request.Reset();
                // Not pinned: nothing to validate. Pinned: the chain seen on
                // the pre-flight's connection, or none when there was no
                // handshake.
                const bool passed = check.kind == SendingCheck::Kind::Pins && check.ran && !check.refused;
                const bool accepted =
                    check.kind != SendingCheck::Kind::Pins || passed || ValidateServerPins(check.chain, host);
                if (!accepted) return Failure(PreflightPinFailureText(host), Unreachable(check, sendError, deadline));
                if (passed) NotePinVerifiedHost(host, port, check.pins);
            }
        }
        MarkPreflightDone(host);
    }

    InternetHandle connection(WinHttpConnect(session, WinText(host), port, 0));
    if (!connection) return Failure("WinHttpConnect failed");
    InternetHandle request;
    if (IsToken(method)) {
        request.Reset(WinHttpOpenRequest(connection.get(), WinText(method), WinText(path), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    }
    if (!request) return Failure("WinHttpOpenRequest failed");
    SetRequestOptions(request.get(), true, trust.securityFlags);

    const std::map<WString, WString> headers = HeadersFor(trust.check.kind == SendingCheck::Kind::Pins, host, port);
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

    if (body.size() > 0xFFFFFFFFu) return Failure(SystemErrorText("WinHttpSendRequest", ERROR_INVALID_PARAMETER));
    if (deadline.Passed()) return Failure(OutOfTimeText(), true);
    BoundWaits(request.get(), deadline);
    SendingCheck& check = trust.check;
    DWORD sendError = 0;
    const DWORD length = static_cast<DWORD>(body.size());
    const bool sent = SendChecked(request, check, body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                                  length, sendError);
    const auto refusal = [&check, &host]() {
        if (check.kind == SendingCheck::Kind::Pins) {
            // On the platform's primary domain this shows the diagnostic
            // dialog and does not return.
            ValidateServerPins(check.chain, host);
            return Failure(PinFailureText(host));
        }
        // What WinHTTP itself reports for a chain it does not trust.
        return Failure(SystemErrorText("WinHttpSendRequest", ERROR_WINHTTP_SECURE_FAILURE));
    };
    if (check.refused) return refusal();
    if (!sent) {
        return Failure(SystemErrorText("WinHttpSendRequest", NormalizedWinHttpError(sendError)),
                       Unreachable(check, sendError, deadline));
    }
    if (check.kind == SendingCheck::Kind::Pins) NotePinVerifiedHost(host, port, check.pins);
    const BOOL answered = WinHttpReceiveResponse(request.get(), nullptr);
    const DWORD receiveError = answered ? 0 : GetLastError();
    // Should WinHTTP send again while receiving (it would for an
    // authentication round), that connection is checked the same way.
    if (check.handleClosed) request.Forget();
    if (check.refused) return refusal();
    if (!answered) {
        const DWORD code = deadline.Passed() ? kTimeoutError : NormalizedWinHttpError(receiveError);
        return Failure(SystemErrorText("WinHttpReceiveResponse", code));
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    // An announced length over the cap fails before any of the body is read.
    DWORD announced = 0;
    DWORD announcedSize = sizeof(announced);
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &announcedSize, WINHTTP_NO_HEADER_INDEX) &&
        announced > maxResponseBytes) {
        return Failure(SystemErrorText("WinHttpReceiveResponse", kResponseTooLargeError));
    }

    // Out of time is a failure; any other failed query or read ends the body
    // (the next call would fail as well, and stopping cannot spin on a
    // broken connection).
    const auto outOfTime = [&deadline](bool callFailed) {
        return deadline.Passed() || (callFailed && NormalizedWinHttpError(GetLastError()) == kTimeoutError);
    };
    const auto timedOut = [] { return Failure(SystemErrorText("WinHttpReceiveResponse", kTimeoutError)); };
    std::string received;
    std::string chunk;
    for (;;) {
        if (outOfTime(false)) return timedOut();
        BoundWaits(request.get(), deadline);
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            if (outOfTime(true)) return timedOut();
            break;
        }
        if (available == 0) break;
        if (available > maxResponseBytes - std::min(received.size(), maxResponseBytes)) {
            return Failure(SystemErrorText("WinHttpReceiveResponse", kResponseTooLargeError));
        }
        chunk.resize(available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), available, &read)) {
            if (outOfTime(true)) return timedOut();
            break;
        }
        received.append(chunk.data(), read);
    }

    HttpResponse response;
    response.statusCode = status;
    response.body = std::move(received);
    response.ok = response.statusCode >= 200 && response.statusCode <= 299;
    return response;
}

// ---- the embedded browser's requests to pinned hosts ----------------------------------

namespace {

constexpr DWORD kBrowserConnectTimeoutMs = 10000;
constexpr DWORD kBrowserTransferTimeoutMs = 30000;

// A text header of the answer; empty when it has none.
WString QueryText(HINTERNET request, DWORD info) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    return FromWinText(text.c_str(), size / sizeof(wchar_t));
}

// The answer's header lines as the browser takes them: the status line and
// the connection's own lines left out.
WString AnswerHeaders(HINTERNET request) {
    const WString raw = QueryText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    WString lines;
    std::size_t start = raw.find(u"\r\n");
    while (start != WString::npos && start + 2 < raw.size()) {
        start += 2;
        const std::size_t end = raw.find(u"\r\n", start);
        const WString line = raw.substr(start, end == WString::npos ? WString::npos : end - start);
        start = end;
        const std::size_t colon = line.find(u':');
        if (line.empty() || colon == WString::npos || colon == 0) continue;
        if (IsConnectionHeader(line.substr(0, colon)) || HasLineBreakOrZero(line)) continue;
        if (!lines.empty()) lines += u"\r\n";
        lines += line;
    }
    return lines;
}

} // namespace

bool IsConnectionHeader(const WString& name) {
    const WString lower = ToLowerCopy(name);
    for (const char16_t* header : {u"connection", u"keep-alive", u"proxy-connection", u"transfer-encoding", u"te",
                                   u"trailer", u"upgrade", u"host", u"content-length", u"proxy-authorization",
                                   u"proxy-authenticate", u"accept-encoding"}) {
        if (lower == header) return true;
    }
    return false;
}

BrowserFetchResult FetchForBrowser(const BrowserFetchRequest& in) {
    BrowserFetchResult result;
    WString host, path;
    INTERNET_PORT port = 0;
    bool secure = false;
    if (!IsToken(in.method) || in.body.size() > 0xFFFFFFFFu || !ReadRequestUrl(in.url, host, port, path, secure) ||
        !secure) {
        return result;
    }
    TrustPlan trust = PlanTrust(true, true, host);
    if (trust.check.kind != SendingCheck::Kind::Pins || PinningSession() == nullptr) return result;

    InternetHandle connection(WinHttpConnect(PinningSession(), WinText(host), port, 0));
    if (!connection) return result;
    InternetHandle request(WinHttpOpenRequest(connection.get(), WinText(in.method), WinText(path), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return result;
    SetRequestOptions(request.get(), true, trust.securityFlags);
    // The session is the service client's too: nothing of the browser's
    // sticks to it, nor of it to the browser's requests.
    DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features));
    WinHttpSetTimeouts(request.get(), kBrowserConnectTimeoutMs, kBrowserConnectTimeoutMs, kBrowserTransferTimeoutMs,
                       kBrowserTransferTimeoutMs);
    BoundResponseWait(request.get(), kBrowserTransferTimeoutMs);
    bool ranged = false;
    for (const auto& [name, value] : in.headers) {
        if (!IsToken(name) || HasLineBreakOrZero(value) || IsConnectionHeader(name)) continue;
        WString sent = value;
        if (ToLowerCopy(name) == u"range") {
            ranged = true;
            if (const std::optional<WString> window = WindowedRange(value, kAnswerWindowBytes)) sent = *window;
        }
        const WString line = name + u": " + sent;
        WinHttpAddRequestHeaders(request.get(), WinText(line), static_cast<DWORD>(line.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    SendingCheck& check = trust.check;
    DWORD sendError = 0;
    const DWORD length = static_cast<DWORD>(in.body.size());
    const bool sent =
        SendChecked(request, check, in.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(in.body.data()),
                    length, sendError);
    const auto mismatch = [&] {
        result.outcome = BrowserFetchResult::Outcome::PinMismatch;
        result.chain = check.chain;
        return result;
    };
    if (check.refused) return mismatch();
    if (!sent) return result;
    NotePinVerifiedHost(host, port, check.pins);
    const BOOL answered = WinHttpReceiveResponse(request.get(), nullptr);
    if (check.handleClosed) request.Forget();
    if (check.refused) return mismatch();
    if (!answered) return result;

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    if (status < 100 || status > 999) return result;
    result.outcome = BrowserFetchResult::Outcome::Answered;
    result.status = static_cast<int>(status);
    result.reason = QueryText(request.get(), WINHTTP_QUERY_STATUS_TEXT);
    if (HasLineBreakOrZero(result.reason)) result.reason.clear();
    result.headers = AnswerHeaders(request.get());

    // The body, read whole up to the bound: one byte more tells it runs over.
    const std::uint64_t bound = ranged ? kAnswerWindowBytes : kWholeAnswerLimitBytes;
    std::string chunk;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) return BrowserFetchResult{};
        if (available == 0) break;
        chunk.resize(std::min<std::uint64_t>(available, bound + 1 - result.body.size()));
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read))
            return BrowserFetchResult{};
        if (read == 0) break;
        result.body.append(chunk.data(), read);
        if (result.body.size() > bound) break;
    }
    if (result.body.size() <= bound) return result;
    // A server that sent more of a range than was asked (or ignored the
    // range) is answered with the window, said as such; anything else over
    // the bound is no answer. The rest of that body goes with its connection.
    const std::optional<WString> cut = ranged ? CutContentRange(result.status, HeaderValue(result.headers, u"Content-Range"),
                                                                QueryText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH),
                                                                bound)
                                              : std::nullopt;
    if (!cut) return BrowserFetchResult{};
    result.body.resize(static_cast<std::size_t>(bound));
    result.status = 206;
    result.reason = u"Partial Content";
    result.headers = WithHeader(result.headers, u"Content-Range", *cut);
    return result;
}
