#pragma once
// Sealed envelopes: base64 of a JSON object {"iv", "value", "mac"} holding an
// AES-256-CBC ciphertext and an HMAC-SHA256 tag over iv + value.
#include <string>
#include <string_view>

// Checks the tag (when one is present) and decrypts. Throws std::runtime_error
// or the JSON library's type errors on every failure; never returns partial data.
std::string OpenSealedEnvelope(std::string_view envelopeText, std::string_view key);

// Seals a plaintext as the platform does (for the tool, the development
// service and the tests). withMac false leaves "mac" out; upperMac writes the
// tag in capitals.
std::string SealEnvelope(std::string_view plaintext, std::string_view key, bool withMac = true, bool upperMac = false);
