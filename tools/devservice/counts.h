#pragma once
// How many TLS handshakes and requests each listener has seen, so that tests
// can show how many connections a client opened for its requests.
#include <string>

#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

namespace devservice {

// Counts every completed handshake on contexts set up with this, under the
// listener's name.
void CountHandshakes(SSL_CTX& ctx, const std::string& listenerName);
// One request answered (control requests are not counted).
void CountRequest(const std::string& listenerName, const std::string& path);

// {"https ADDR:PORT": {"handshakes": N, "requests": M}, ...}
nlohmann::json Counts();
void ResetCounts();

}  // namespace devservice
