#pragma once
// Linux backend only: the certificates of a finished libcurl transfer as the
// pin check wants them, and the profile's extra trust anchors.
#include <curl/curl.h>
#include <openssl/ssl.h>

#include "service/pins.h"

// The chain a server presented (its leaf and what it sent besides), completed
// towards a trusted root so that a root the server did not send is hashed
// too. Leaf first, then each issuer only as long as its signature over the
// certificate below it verifies: a pin further up proves nothing about a
// leaf that the pinned key never signed.
ServerChain LinkedChain(X509* leaf, STACK_OF(X509) * sent);

// The system's roots plus the profile's extra trust anchors, shared by every
// connection; null when it cannot be built.
X509_STORE* SharedTrustStore();
// The DER SubjectPublicKeyInfo of a certificate (empty when it cannot be encoded).
std::string SpkiDer(X509* cert);
