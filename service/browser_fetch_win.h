#pragma once
// Windows backend only: a request of the embedded browser to a pinned host,
// made by the player itself on the pinning clients' session, so on the
// connections the service client keeps, each checked against the host's
// pins between its handshake and the first request byte. The browser never
// opens a connection of its own to such a host: what it shows from there
// came over a connection the player checked.
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "service/pins.h"

struct BrowserFetchRequest {
    WString method = u"GET";
    WString url;
    std::vector<std::pair<WString, WString>> headers; // as the browser would send them
    std::string body;
};

struct BrowserFetchResult {
    enum class Outcome {
        Answered,    // status, reason, headers and body hold the server's answer
        PinMismatch, // the server's chain missed the host's pins: nothing was sent, chain holds it
        Failed,      // no answer: not a pinned https address, unreachable, no handshake, cut off
    };
    Outcome outcome = Outcome::Failed;
    int status = 0;
    WString reason;
    // "Name: value" lines joined by CRLF, without those that describe the
    // connection rather than the answer (its length and framing among them).
    WString headers;
    // The whole body: the runtime takes nothing else. A ranged request is
    // asked for one window of its range (service/answer_window.h); any
    // other answer over the whole-answer limit fails.
    std::string body;
    ServerChain chain;
};

// One exchange; blocks until the answer is in. Only an https
// address on a host with pins is fetched; anything else fails unsent. No
// cookie of the session and no redirect is followed: the browser keeps its
// own cookies and follows a redirect itself, through its own checks.
BrowserFetchResult FetchForBrowser(const BrowserFetchRequest& request);

// Whether a header of the browser's request or of the answer belongs to
// one connection (or WinHTTP sets it itself) and is never passed on.
bool IsConnectionHeader(const WString& name);
