#pragma once
// Windows backend only: the check of a connection's server between the TLS
// handshake and the first request byte. WinHTTP reports that moment on every
// request, on a new connection as on one taken from its pool, with the
// server's certificate already known: the sending-request notification. A
// server that fails the check is cut off there and receives nothing.
#include <windows.h>
#include <winhttp.h>

#include "service/pins.h"

struct SendingCheck {
    enum class Kind {
        None,     // plain HTTP: nothing to check
        Pins,     // a pinned host on a pinning client: the chain must carry a pin
        Ordinary, // every other secure request: ordinary validation with the anchors
    };
    Kind kind = Kind::None;
    WString host;
    PinEntry pins; // Kind::Pins: the host's entry, fixed when the request began

    // Filled in by the notification.
    bool ran = false;          // a connection was ready to send
    bool refused = false;      // the server failed and the request was cancelled
    bool handleClosed = false; // the request handle was closed as part of that
    ServerChain chain;         // Kind::Pins: the chain that was judged
};

// Installs the check on a request handle before WinHttpSendRequest; the
// check must outlive the send. After a refusal the handle may have been
// closed (handleClosed): the caller must not use or close it again.
void ArmSendingCheck(HINTERNET request, SendingCheck& check);

// Stops a request whose handshake is done from sending anything: the
// connection's socket is shut down (what stops Wine, which sends even after
// its request handle was closed) and the request handle is closed (what
// cancels the send on Windows). True when the handle was closed.
bool CancelSending(HINTERNET request);
