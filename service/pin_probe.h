#pragma once
// The browser host's probe of a pinned host: one bare TLS exchange on its own
// short-lived handles, and the chain the server presented.
#include <cstdint>

#include "service/pins.h"

// haveCertificate is false when no TLS handshake took place.
ServerChain FetchServerChain(const WString& host, std::uint16_t port);
