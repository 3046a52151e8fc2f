#pragma once
// Linux backend only: one HTTP exchange over libcurl with the transport's
// fixed settings (direct connection, no redirects, the session timeouts).
// Connections are kept and reused by later exchanges that trust their server
// on the same terms (the same pins, or ordinary validation); every new
// connection is checked in its handshake, and TLS sessions are never resumed
// or renegotiated, so no connection is used unchecked.
#include <curl/curl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/http_client.h"
#include "service/pins.h"
#include "service/transfer_pump.h"

struct CurlTransfer {
    std::string method = "GET";           // "HEAD" asks for no body
    std::string url;                      // absolute, already encoded
    std::vector<std::string> headerLines; // curl syntax: "Name: value", "Name;", "Name:"
    const std::string* body = nullptr;    // sent exactly, also when empty; null: no body
    std::string userAgent;
    // Ordinary validation of the server against the system's roots and the
    // profile's anchors, before anything is sent.
    bool verifyPeer = true;
    // Trust rests on these pins alone: the handshake is refused, before any
    // request byte leaves, unless the linked chain carries one of them.
    std::optional<PinEntry> pins;
    // Only record the linked chain (the browser's probe) and end the
    // connection in the handshake: the server never sees a request.
    bool collectChain = false;
    unsigned long deadlineMs = kRequestDeadlineMs; // the whole exchange
    std::size_t maxBodyBytes = kMaxResponseBytes;
};

struct CurlOutcome {
    CURLcode code = CURLE_OK;
    bool requestSent = false;  // the request line went out
    bool responseRead = false; // a final status line and its headers arrived
    std::uint32_t statusCode = 0;
    std::string body;
    bool tooLarge = false;     // the body passed maxBodyBytes
    ServerChain chain;         // as seen in the handshake (pins or collectChain)
    bool pinRejected = false;  // the handshake was refused for the pins
    bool reused = false;       // went over a kept connection, checked when it was made
    // No connection could be made at all: the name did not resolve, the
    // connection was refused or had no route, or time ran out before the
    // server showed a certificate and before anything was sent.
    bool unreachable = false;
};

// False when libcurl cannot be set up at all. Initialises it once per process.
bool CurlAvailable();

// Runs the exchange (under the transfer pump where it applies). Throws std::bad_alloc when memory runs out; every other
// failure is in the outcome.
CurlOutcome RunCurlTransfer(const CurlTransfer& transfer);

// Under the transfer pump (service/transfer_pump.h) the exchange runs on a
// thread of its own while the user interface keeps running.

// The WinHTTP error number that stands for a libcurl failure, so that both
// platforms report the same texts.
unsigned long WinHttpErrorFor(CURLcode code);

// "scheme://host:port" with the path appended, percent-encoding what a
// request line cannot carry raw (controls, spaces, bytes above ASCII).
std::string BuildRequestUrl(bool secure, const std::string& host, std::uint16_t port, const std::string& path);
