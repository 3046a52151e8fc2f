#pragma once
// Certificate pinning: which hosts are pinned to which public keys, and the
// check of a live connection's chain against them. A pin is the Base64 of the
// SHA-256 of a certificate's DER SubjectPublicKeyInfo.
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"

struct PinEntry {
    WString scope;                 // the host itself and every host ending in "." + scope
    std::vector<std::string> pins; // Base64 SPKI SHA-256, compared in order
};

// The store starts empty: until start-up fills it, no host is pinned.
std::optional<PinEntry> FindPinEntry(const WString& host);
// The same lookup in a list of entries (the first exact match, else the
// longest suffix match).
std::optional<PinEntry> FindPinEntryIn(const std::vector<PinEntry>& entries, const WString& host);
std::vector<PinEntry> DefaultPins();
void SetPins(std::vector<PinEntry> pins);
std::vector<PinEntry> GetPins();
// Fetches the service's pin document (on a pinning client of its own, the
// only one that carries the pins secret); true when the store
// was replaced by the defaults plus the service's entries. Never throws.
bool LoadDynamicPins();
// The store a pin document body makes: the defaults, then each of its entries
// that has pins. Nothing when the body is not a JSON array or a scope is not
// a string.
std::optional<std::vector<PinEntry>> ParsePinDocument(const std::string& body);

// A live connection's certificates as the platform read them: the server's
// own certificate first, then each issuer up to the root, as far as every
// link verifies: a certificate is listed only when the one below it carries
// its name as issuer and a signature its key verifies. A forged link ends the
// list, so a pin is never matched past it.
struct ServerChain {
    bool haveCertificate = false;       // false: no handshake took place
    std::vector<std::string> spkiDer;   // DER SubjectPublicKeyInfo per certificate
};

// The pin of one DER SubjectPublicKeyInfo.
std::string SpkiPin(const std::string& spkiDer);

// True when the host is not pinned or the chain carries one of its pins
// (compared over the certificates the chain lists, which the backends limit
// to links that verify).
// A mismatch on a host of the platform's primary domain shows the diagnostic
// dialog and ends the process; every other mismatch returns false.
bool ValidateServerPins(const ServerChain& chain, const WString& host);
// The same against an entry the caller looked up (before start-up has filled
// the store, the defaults').
bool ValidateServerPinsAgainst(const ServerChain& chain, const WString& host, const PinEntry& entry);
// The same decision, without the dialog (for callers that report it themselves).
bool ChainMatchesPins(const ServerChain& chain, const PinEntry& entry);
bool IsPrimaryDomainHost(const WString& host);
