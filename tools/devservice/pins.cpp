#include "pins.h"

#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "codec.h"

namespace devservice {

std::optional<std::vector<std::string>> PinsOfPemFile(const std::string& path, std::string& error) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), &BIO_free);
  if (!bio) {
    error = "cannot read certificates from " + path;
    return std::nullopt;
  }
  std::vector<std::string> pins;
  while (X509* raw = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(raw, &X509_free);
    unsigned char* der = nullptr;
    const int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der);
    if (len <= 0) continue;
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, static_cast<size_t>(len), digest);
    OPENSSL_free(der);
    pins.push_back(Base64Encode({reinterpret_cast<const char*>(digest), sizeof digest}));
  }
  ERR_clear_error();  // the loop ends on a "no start line" error by design
  if (pins.empty()) {
    error = "no certificate in " + path;
    return std::nullopt;
  }
  return pins;
}

}  // namespace devservice
