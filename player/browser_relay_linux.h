#pragma once
// The Linux browser's only way to the platform's pinned hosts: a relay on
// loopback that the browser takes as its HTTPS proxy. For a pinned host the
// relay opens the connection itself, checks that very connection's chain
// against the pins before a byte of the browser's goes out, and only then
// gives the browser a TLS session of its own (a key made for this process,
// whose certificates the browser host accepts and nothing else issues);
// what the browser sends is then carried over the checked connection. Any
// other host is tunnelled untouched, the browser checking it as ever. The
// check and the use are one connection: nothing is remembered between them.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/text.h"

namespace WebView {

// Starts the process's relay on the first call (later calls return the same
// port); 0 when it could not listen.
std::uint16_t StartBrowserRelay();

// The Chromium switches that send the browser's https and wss traffic through
// the relay (loopback addresses included); empty when the relay cannot run.
std::string BrowserRelaySwitches();

// Opens and checks, on a thread of its own, a connection to a pinned host
// that the browser's first tunnel there will take instead of opening its
// own, so the browser's first request pays no handshake of its own. A
// parked connection the browser has not taken within 30 s is closed.
void PreconnectBrowserRelay(const std::string& host, std::uint16_t port);

// True when the DER certificate is one the relay of this process issued.
bool IssuedByBrowserRelay(const std::string& certificateDer);

// The browser's own name mappings (Chromium's --host-resolver-rules "MAP
// pattern host[:port]" entries, found in its switches): the relay resolves
// the names the browser asks for as the browser would have.
void SetBrowserRelayHostRules(std::string_view chromiumSwitches);

// Called, on a relay thread, for a pinned host whose connection presented a
// chain that misses its pins. By default ReportBlockedHostLater.
void SetBrowserRelayMismatchListener(std::function<void(const WString& host)> listener);

} // namespace WebView
