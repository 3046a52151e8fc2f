#pragma once
// Linux backend only: one HTTP exchange over libcurl with the transport's
// fixed settings (direct connection, no redirects, the session timeouts), on
// a fresh handle so that every exchange makes its own TLS handshake and the
// server's chain is always there to be checked.
#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/http_client.h"
#include "service/pins.h"

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
};

struct CurlOutcome {
    CURLcode code = CURLE_OK;
    bool requestSent = false;  // the request line went out
    bool responseRead = false; // a final status line and its headers arrived
    std::uint32_t statusCode = 0;
    std::string body;
    bool tooLarge = false;     // the body passed kMaxResponseBytes
    ServerChain chain;         // as seen in the handshake (pins or collectChain)
    bool pinRejected = false;  // the handshake was refused for the pins
};

// False when libcurl cannot be set up at all. Initialises it once per process.
bool CurlAvailable();

// Runs the exchange. Throws std::bad_alloc when memory runs out; every other
// failure is in the outcome.
CurlOutcome RunCurlTransfer(const CurlTransfer& transfer);

// Lets a user interface keep running while its thread waits on an exchange:
// when applies() is true on the calling thread, the exchange runs on a
// thread of its own and pumpOnce() is called until it is done.
struct TransferPump {
    std::function<bool()> applies;
    std::function<void()> pumpOnce;
};
void SetTransferPump(TransferPump pump);

// The WinHTTP error number that stands for a libcurl failure, so that both
// platforms report the same texts.
unsigned long WinHttpErrorFor(CURLcode code);

// "scheme://host:port" with the path appended, percent-encoding what a
// request line cannot carry raw (controls, spaces, bytes above ASCII).
std::string BuildRequestUrl(bool secure, const std::string& host, std::uint16_t port, const std::string& path);
