#pragma once
// The synchronous HTTPS client every platform call goes through (WinHTTP on
// Windows, libcurl over OpenSSL on Linux). One call, one request, the whole
// response in memory.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/text.h"
#include "service/pins.h"

// What one exchange may cost at most: a larger body fails with the receive
// failure of WinHTTP's drain overflow (12184), a request that has not finished
// by the deadline with its timeout (12002), so a server that trickles bytes
// cannot hold start-up for ever.
inline constexpr std::size_t kMaxResponseBytes = 8 * 1024 * 1024;
inline constexpr unsigned long kRequestDeadlineMs = 30000;
inline constexpr unsigned long kResponseTooLargeError = 12184;
inline constexpr unsigned long kTimeoutError = 12002;

struct HttpResponse {
    std::uint32_t statusCode = 0; // 0 when no response was read
    std::string body;             // exactly as received
    bool ok = false;              // 200 <= statusCode <= 299
    std::string error;            // set only when no response was read
};

class HttpClient {
public:
    // Throws std::runtime_error("WinHttpOpen failed") when no session can be opened.
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sent with every later request of this client; replaces a same-named entry.
    void SetHeader(const WString& name, const WString& value);
    HttpResponse Get(const WString& url);
    // Reports every network, TLS, pin and HTTP failure in the result.
    HttpResponse Request(const WString& method, const WString& url, const std::string& body,
                         const WString& contentType);

    // True: no pre-flight and no pin check. Hosts are then trusted only through
    // the system's ordinary certificate validation, done before any request
    // byte is sent, and no request carries the machine's identity.
    bool pinningDisabled = false;
    // What one exchange of this client may cost at most (a document the user
    // asked for may be larger and slower than a service answer); the bound on
    // the start-up's wait still applies.
    std::size_t maxResponseBytes = kMaxResponseBytes;
    unsigned long requestDeadlineMs = kRequestDeadlineMs;

    // The platform backend; defined beside each implementation.
    struct Session;

private:
    friend struct HttpClientAccess;
    std::unique_ptr<Session> session_;
    std::mutex lock_;
    std::map<WString, WString> defaultHeaders_; // ordered by UTF-16 code units
    std::set<WString> preflightVerifiedHosts_;  // case-sensitive, as in the URL

    // The headers of one request: the defaults, with the device's identity
    // set for a platform host whose connection is checked against its pins,
    // and taken out everywhere else.
    std::map<WString, WString> HeadersFor(bool pinChecked, const WString& host, std::uint16_t port);
    // Also true, and recorded, when another pinning client of the process
    // verified the host against the same pins.
    bool PreflightDone(const WString& host, std::uint16_t port, const PinEntry* pins);
    // One request on the calling thread (the Windows backend's Request runs
    // it under the transfer pump).
    HttpResponse Exchange(const WString& method, const WString& url, const std::string& body,
                          const WString& contentType);
    void MarkPreflightDone(const WString& host);
};

// The process-wide client of all platform calls (pinning on, no proxy).
// Created on first use; a failed creation throws and the next call retries.
HttpClient& SharedClient();

// The parts of an absolute http(s) URL the transport needs.
struct ParsedUrl {
    bool secure = false;
    WString host;
    std::uint16_t port = 0;
    WString path; // path and query, "/" at least
};
// False for anything that is not an absolute http or https URL with a host of
// at most 255 and a path of at most 2047 units.
bool ParseHttpUrl(const WString& url, ParsedUrl& out);

// True when the host is one of the platform's own servers: it is one of the
// profile's platform hosts or under it (and on its port, where one is named).
// Requests to them over a pin-checked connection carry the identity headers.
bool IsPlatformHost(const WString& host, std::uint16_t port);

// Error texts shared by both backends.
std::string PreflightPinFailureText(const WString& host);
std::string PinFailureText(const WString& host);
// The text of a request that was not even begun because the start-up's
// wait on the service had run out: WinHTTP's timeout.
std::string OutOfTimeText();

// A bound on the whole wait for the service: every request that begins
// before the moment given waits at most until then, and one that begins
// after it fails at once with OutOfTimeText(). Cleared (no bound) by
// default and by ClearServiceWaitBound().
void BoundServiceWait(std::chrono::steady_clock::time_point until);
void ClearServiceWaitBound();
// Milliseconds a request may wait: at most cap, less when the bound is nearer;
// 0 when the bound has passed.
unsigned long ServiceWaitLeftMs(unsigned long cap);

// Whether a failed exchange whose error text this is could not make a
// connection at all (the name did not resolve, the connection was refused or
// had no route, or time ran out before the server showed a certificate),
// as opposed to a server that was reached and failed (a certificate or pin
// failure, a broken answer). The backends record each failure's reading.
void NoteFailure(const std::string& error, bool unreachable);
bool WasUnreachable(const std::string& error);

// Hosts whose pins were checked on a connection made in this process, by
// any pinning client: a later pinning client that would use that connection
// (the same host and port, and the same pins) does not pre-flight them again.
void NotePinVerifiedHost(const WString& host, std::uint16_t port, const PinEntry& pins);
bool PinVerifiedHost(const WString& host, std::uint16_t port, const PinEntry& pins);
// The same pins give the same key: the connections a server was judged on
// by these pins.
std::string PinsKey(const PinEntry& pins);
