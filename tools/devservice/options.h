#pragma once
// Command line of the development service.
#include <string>
#include <vector>

#include "trap.h"

namespace devservice {

struct Listener {
  std::string address;
  int port = 0;
  bool tls = false;
  std::string chainPem;  // leaf first, then the intermediates to send
  std::string keyPem;

  std::string Name() const;
};

struct Options {
  std::vector<Listener> listeners;
  std::vector<Trap> traps;
  std::string mediaDir;
  std::string stateDir;
  std::string profileFile;
  std::string pinsFile;
  std::string pinsScope = "127.0.0.2";
  bool help = false;
};

// sourceDir supplies the defaults (dev certificates, media, profile).
bool ParseOptions(int argc, char** argv, const std::string& sourceDir, Options& options,
                  std::string& error);

extern const char kUsage[];

}  // namespace devservice
