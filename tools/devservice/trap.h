#pragma once
// Listeners that play a man in the middle: they complete the TLS handshake
// with a chosen chain and record every byte that arrives after it, so tests
// can show that a client refused the chain before it sent anything.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace devservice {

struct TrapChain {
  std::string name;  // how records name the chain ("forged", "good", ...)
  std::string chainPem;
  std::string keyPem;
};

struct Trap {
  std::string address;
  int port = 0;
  TrapChain first;  // the first connection after start or reset
  TrapChain later;  // every later one; empty name: the first chain throughout

  std::string Name() const { return address + ":" + std::to_string(port); }
};

// Binds every trap; false with a reason when one cannot be set up.
bool StartTraps(const std::vector<Trap>& traps, std::string& error);
void StopTraps();

// {"ADDR:PORT": [{"connection", "chain", "handshake", "bytes", "received"}, ...], ...}
nlohmann::json TrapRecords();
// Forgets the records; each trap serves its first chain again.
void ResetTraps();

}  // namespace devservice
