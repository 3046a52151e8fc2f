#pragma once
// Linux backend only: the certificates of a finished libcurl transfer as the
// pin check wants them, and the profile's extra trust anchors.
#include <curl/curl.h>
#include <openssl/ssl.h>

#include "service/pins.h"

// The chain the server presented on the handle's connection (the transfer
// must have run with CURLOPT_CERTINFO), completed towards a trusted root so
// that a root the server did not send is hashed too. Leaf first.
// haveCertificate is false when no TLS handshake took place.
ServerChain ServerChainFromTransfer(CURL* easy);

// Adds the profile's extra trust anchors to a TLS context's certificate
// store, next to the system's own (CURLOPT_SSL_CTX_FUNCTION).
CURLcode AddExtraTrustAnchors(CURL* easy, void* sslCtx, void* unused);
// The DER SubjectPublicKeyInfo of a certificate (empty when it cannot be encoded).
std::string SpkiDer(X509* cert);
