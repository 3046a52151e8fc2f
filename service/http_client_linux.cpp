// The transport's Linux backend: libcurl over OpenSSL. Connections are kept
// and reused (see curl_transfer_linux.h); a pinned host is trusted through
// its pins alone, every other HTTPS host through the system's certificate
// validation, each checked in the handshake of every new connection.
#include "service/http_client.h"

#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "common/masking.h"
#include "service/curl_transfer_linux.h"
#include "service/pins.h"

struct HttpClient::Session {
    std::string userAgent;
};

HttpClient::HttpClient() {
    if (!CurlAvailable()) throw std::runtime_error("WinHttpOpen failed");
    session_ = std::make_unique<Session>();
    session_->userAgent = UnmaskConstant(Config::kUserAgent);
}

HttpClient::~HttpClient() = default;

namespace {

bool IsTokenChar(char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    return std::string_view("\"(),/:;<=>?@[\\]{}").find(c) == std::string_view::npos;
}

bool IsToken(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!IsTokenChar(c)) return false;
    }
    return true;
}

bool IsHeaderValue(const std::string& value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

bool IsBlank(const std::string& value) { return value.find_first_not_of(" \t") == std::string::npos; }

// Add-or-replace by name, ignoring letter case, as the platform's header API does.
void PutHeader(std::vector<std::pair<std::string, std::string>>& headers, std::string name, std::string value) {
    const std::string lower = ToLowerAscii(name);
    for (auto& [existing, existingValue] : headers) {
        if (ToLowerAscii(existing) == lower) {
            existingValue = std::move(value);
            return;
        }
    }
    headers.emplace_back(std::move(name), std::move(value));
}

// The lines libcurl sends: an empty value needs the "Name;" form, since
// "Name:" would remove the header. Lines that no HTTP header can be are
// dropped, and the headers libcurl would add by itself (a catch-all Accept,
// Expect: 100-continue, a form Content-Type) are suppressed unless set here.
std::vector<std::string> HeaderLines(const std::vector<std::pair<std::string, std::string>>& headers) {
    std::vector<std::string> lines;
    for (const auto& [name, value] : headers) {
        if (!IsToken(name) || !IsHeaderValue(value)) continue;
        lines.push_back(IsBlank(value) ? name + ";" : name + ": " + value);
    }
    for (const char* own : {"Accept", "Expect", "Content-Type"}) {
        bool present = false;
        for (const auto& header : headers) present = present || ToLowerAscii(header.first) == ToLowerAscii(own);
        if (!present) lines.push_back(std::string(own) + ":");
    }
    return lines;
}

std::string SendFailure(const CurlOutcome& outcome) {
    if (outcome.tooLarge) return "WinHttpReceiveResponse failed: " + std::to_string(kResponseTooLargeError);
    // A request that went out and got no answer failed while receiving.
    const char* step = outcome.requestSent ? "WinHttpReceiveResponse failed: " : "WinHttpSendRequest failed: ";
    const CURLcode code = outcome.code == CURLE_OK ? CURLE_WEIRD_SERVER_REPLY : outcome.code;
    return step + std::to_string(WinHttpErrorFor(code));
}

} // namespace

HttpResponse HttpClient::Request(const WString& method, const WString& url, const std::string& body,
                                 const WString& contentType) {
    HttpResponse response;
    const auto fail = [&response](std::string error, bool unreachable) {
        NoteFailure(error, unreachable);
        response.error = std::move(error);
        return response;
    };
    ParsedUrl parsed;
    if (!ParseHttpUrl(url, parsed)) return fail("Failed to parse URL", false);
    const std::string host = WideToUtf8(parsed.host);
    const bool pinning = parsed.secure && !pinningDisabled;
    // A pinned host is judged by its pins alone (its chain may be private or
    // expired), on every connection, during the handshake: a server that
    // fails them never sees a request byte. Every other host gets ordinary
    // validation, also before anything is sent.
    std::optional<PinEntry> pins;
    if (pinning) {
        pins = FindPinEntry(parsed.host);
        if (pins && pins->pins.empty()) pins.reset();
    }
    if (ServiceWaitLeftMs(requestDeadlineMs) == 0) return fail(OutOfTimeText(), true);

    if (pinning && !PreflightDone(parsed.host, parsed.port, pins ? &*pins : nullptr)) {
        // A bare HEAD first, kept for its bookkeeping and its own failure text.
        CurlTransfer preflight;
        preflight.method = "HEAD";
        preflight.url = BuildRequestUrl(true, host, parsed.port, "/");
        preflight.userAgent = session_->userAgent;
        preflight.pins = pins;
        preflight.verifyPeer = !pins;
        preflight.deadlineMs = ServiceWaitLeftMs(requestDeadlineMs);
        const CurlOutcome outcome = RunCurlTransfer(preflight);
        // An unreachable pinned host showed no chain at all: that fails too.
        // A kept connection was checked when it was made.
        const bool noChain = !outcome.chain.haveCertificate && !outcome.reused;
        if (pins && (outcome.pinRejected || noChain) && !ValidateServerPins(outcome.chain, parsed.host)) {
            return fail(PreflightPinFailureText(parsed.host), outcome.unreachable);
        }
        if (pins && !noChain) NotePinVerifiedHost(parsed.host, parsed.port, *pins);
        MarkPreflightDone(parsed.host);
    }

    const std::string verb = WideToUtf8(method);
    if (!IsToken(verb)) return fail("WinHttpOpenRequest failed", false);

    std::vector<std::pair<std::string, std::string>> headers;
    // The identity only over a connection checked against the host's pins.
    for (const auto& [name, value] : HeadersFor(pins.has_value(), parsed.host, parsed.port))
        PutHeader(headers, WideToUtf8(name), WideToUtf8(value));
    if (!contentType.empty()) PutHeader(headers, "Content-Type", WideToUtf8(contentType));

    CurlTransfer transfer;
    transfer.method = verb;
    transfer.url = BuildRequestUrl(parsed.secure, host, parsed.port, WideToUtf8(parsed.path));
    transfer.headerLines = HeaderLines(headers);
    // A GET without a body sends no length at all; every other request states its length.
    if (!(verb == "GET" && body.empty())) transfer.body = &body;
    transfer.userAgent = session_->userAgent;
    transfer.pins = pins;
    transfer.verifyPeer = !pins;
    transfer.deadlineMs = ServiceWaitLeftMs(requestDeadlineMs);
    transfer.maxBodyBytes = maxResponseBytes;
    if (transfer.deadlineMs == 0) return fail(OutOfTimeText(), true);
    CurlOutcome outcome = RunCurlTransfer(transfer);

    if (outcome.pinRejected) {
        // Shows the diagnostic path for the platform's own domain.
        ValidateServerPins(outcome.chain, parsed.host);
        return fail(PinFailureText(parsed.host), false);
    }
    if (pins && outcome.chain.haveCertificate) NotePinVerifiedHost(parsed.host, parsed.port, *pins);
    if (!outcome.responseRead) return fail(SendFailure(outcome), outcome.unreachable);
    response.statusCode = outcome.statusCode;
    response.body = std::move(outcome.body);
    response.ok = response.statusCode >= 200 && response.statusCode <= 299;
    return response;
}
