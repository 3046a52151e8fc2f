#pragma once
// The browser host's probe of a pinned host: one bare TLS exchange on its own
// short-lived handles, and the chain the server presented.
#include <cstdint>

#include "service/pins.h"

// The browser's user agent and a 3000 ms limit on the whole exchange; the
// connection ends in the handshake, once the chain is read.
// haveCertificate is false when no TLS handshake took place.
ServerChain FetchServerChain(const WString& host, std::uint16_t port);
