#pragma once
// Linux backend only: one HTTP exchange over libcurl with the transport's
// fixed settings (direct connection, no redirects, the session timeouts), on
// a fresh handle so that every exchange makes its own TLS handshake and the
// server's chain is always there to be checked.
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/pins.h"

struct CurlTransfer {
    std::string method = "GET";           // "HEAD" asks for no body
    std::string url;                      // absolute, already encoded
    std::vector<std::string> headerLines; // curl syntax: "Name: value", "Name;", "Name:"
    const std::string* body = nullptr;    // sent exactly, also when empty; null: no body
    std::string userAgent;
    bool verifyPeer = true; // false: trust is left to the pin check
    bool wantChain = false; // collect the server's chain for the pin check
};

struct CurlOutcome {
    CURLcode code = CURLE_OK;
    bool requestSent = false;  // the request line went out
    bool responseRead = false; // a final status line and its headers arrived
    std::uint32_t statusCode = 0;
    std::string body;
    ServerChain chain;
};

// False when libcurl cannot be set up at all. Initialises it once per process.
bool CurlAvailable();

// Runs the exchange. Throws std::bad_alloc when memory runs out; every other
// failure is in the outcome.
CurlOutcome RunCurlTransfer(const CurlTransfer& transfer);

// The WinHTTP error number that stands for a libcurl failure, so that both
// platforms report the same texts.
unsigned long WinHttpErrorFor(CURLcode code);

// "scheme://host:port" with the path appended, percent-encoding what a
// request line cannot carry raw (controls, spaces, bytes above ASCII).
std::string BuildRequestUrl(bool secure, const std::string& host, std::uint16_t port, const std::string& path);
