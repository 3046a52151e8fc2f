#pragma once
// Windows backend only: the server's certificates as the pin check wants
// them, and the check of hosts that are not pinned against the profile's
// extra trust anchors.
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "service/pins.h"

// The chain of a server certificate, built by the system's default chain
// engine: the server's own certificate first, then each issuer whose link to
// the certificate below it verifies (names and signature); the first link
// that does not ends the list. The profile's extra trust anchors (dev only)
// stand beside the system's roots, so that a dev root the server does not
// send is part of the chain as an installed root would be. haveCertificate
// is false for a null certificate.
ServerChain ServerChainFromCertificate(PCCERT_CONTEXT certificate);
// The same for the certificate the server presented on an open request
// handle; haveCertificate is false when no handshake took place.
ServerChain ServerChainFromRequest(HINTERNET request);

// DER certificates of every "CERTIFICATE" block of a PEM text; unreadable
// blocks are skipped.
std::vector<std::string> ParsePemCertificates(const std::string& pem);
// The profile's extra trust anchors (DER), parsed once.
const std::vector<std::string>& ExtraTrustAnchors();

// A memory store holding the anchors and the certificates that came with
// the certificate, for the chain engine; the caller closes it.
HCERTSTORE OpenChainSupportStore(PCCERT_CONTEXT certificate, const std::vector<std::string>& anchors);

// How WinHTTP is set up for a host whose trust does not rest on pins. Such a
// server is always checked with ChainTrustedWithAnchors before a request
// byte is sent (SendingCheck); the flags only keep WinHTTP from refusing
// what that check decides: with extra anchors an unknown authority, and for
// an address literal the name, since Wine's system check does not match
// addresses against the certificate's names.
struct OrdinaryTrust {
    DWORD securityFlags = 0;
};
OrdinaryTrust OrdinaryTrustFor(const WString& host);

// Ordinary validation of a server certificate for a host: a chain to a
// trusted root, valid dates and usage, and the host among its names. An
// untrusted root is forgiven only when it is one of the anchors and nothing
// else is wrong with the chain.
bool ChainTrustedWithAnchors(PCCERT_CONTEXT certificate, const WString& host, const std::vector<std::string>& anchors);
// The same for the certificate of an open request handle and the profile's
// anchors; false when the handle has no certificate.
bool ServerTrustedOrdinarily(HINTERNET request, const WString& host);
