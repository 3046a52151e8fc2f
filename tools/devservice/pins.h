#pragma once
// SPKI pins (Base64 of SHA-256 over the DER SubjectPublicKeyInfo), the form
// the player compares against.
#include <optional>
#include <string>
#include <vector>

namespace devservice {

// One pin per certificate in a PEM file, in file order. Nothing when the file
// cannot be read or holds no certificate.
std::optional<std::vector<std::string>> PinsOfPemFile(const std::string& path, std::string& error);

}  // namespace devservice
