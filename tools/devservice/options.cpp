#include "options.h"

#include <string_view>

#include "codec.h"

namespace devservice {

const char kUsage[] =
    "usage: tovani-devservice [options]\n"
    "  --listen ADDR:PORT:CHAIN_PEM:KEY_PEM  HTTPS listener (repeatable); the chain file\n"
    "                                        holds the leaf first, then intermediates\n"
    "  --http ADDR:PORT                      plain HTTP listener (repeatable)\n"
    "  --trap ADDR:PORT:NAME:CHAIN_PEM:KEY_PEM  recording TLS listener (repeatable): completes\n"
    "                                        the handshake, records what arrives after it\n"
    "  --trap-later ADDR:PORT:NAME:CHAIN_PEM:KEY_PEM  the chain that trap shows from its\n"
    "                                        second connection on\n"
    "  --media DIR                           folder served under /media/\n"
    "  --state DIR                           writes DIR/ready (the pid) once all listeners are bound\n"
    "  --profile FILE                        build profile whose names the service answers to\n"
    "  --pins-file FILE                      pin document to serve as is\n"
    "  --pins-scope HOST                     scope of the computed pin document (default 127.0.0.2)\n"
    "Without --listen: 127.0.0.1:47443 with the committed dev chain.\n"
    "The computed pin document pins the certificates of the first --listen chain.\n";

std::string Listener::Name() const {
  return std::string(tls ? "https " : "http ") + address + ":" + std::to_string(port);
}

namespace {

bool ParseAddressPort(std::string_view text, Listener& listener, std::string& error) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = "expected ADDR:PORT, got '" + std::string(text) + "'";
    return false;
  }
  const auto port = ParseInteger(text.substr(colon + 1), 1, 65535);
  if (!port) {
    error = "bad port in '" + std::string(text) + "'";
    return false;
  }
  listener.address = std::string(text.substr(0, colon));
  listener.port = static_cast<int>(*port);
  return true;
}

// ADDR:PORT:CHAIN:KEY. The key path is taken after the last colon so that only
// the chain path may contain one.
bool ParseTlsListener(std::string_view text, Listener& listener, std::string& error) {
  const size_t first = text.find(':');
  const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  const size_t last = text.rfind(':');
  if (second == std::string_view::npos || last <= second) {
    error = "expected ADDR:PORT:CHAIN_PEM:KEY_PEM, got '" + std::string(text) + "'";
    return false;
  }
  if (!ParseAddressPort(text.substr(0, second), listener, error)) return false;
  listener.tls = true;
  listener.chainPem = std::string(text.substr(second + 1, last - second - 1));
  listener.keyPem = std::string(text.substr(last + 1));
  if (listener.chainPem.empty() || listener.keyPem.empty()) {
    error = "empty certificate or key path in '" + std::string(text) + "'";
    return false;
  }
  return true;
}

// ADDR:PORT:NAME:CHAIN:KEY, the key path after the last colon.
bool ParseTrapChain(std::string_view text, Trap& trap, TrapChain& chain, std::string& error) {
  const size_t first = text.find(':');
  const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  const size_t third = second == std::string_view::npos ? second : text.find(':', second + 1);
  const size_t last = text.rfind(':');
  if (third == std::string_view::npos || last <= third) {
    error = "expected ADDR:PORT:NAME:CHAIN_PEM:KEY_PEM, got '" + std::string(text) + "'";
    return false;
  }
  Listener where;
  if (!ParseAddressPort(text.substr(0, second), where, error)) return false;
  trap.address = where.address;
  trap.port = where.port;
  chain.name = std::string(text.substr(second + 1, third - second - 1));
  chain.chainPem = std::string(text.substr(third + 1, last - third - 1));
  chain.keyPem = std::string(text.substr(last + 1));
  if (chain.name.empty() || chain.chainPem.empty() || chain.keyPem.empty()) {
    error = "empty name, certificate or key path in '" + std::string(text) + "'";
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, const std::string& sourceDir, Options& options,
                  std::string& error) {
  options.mediaDir = sourceDir + "/tools/devservice/media";
  options.profileFile = sourceDir + "/config/dev.json";
  bool anyTls = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return true;
    }
    if (i + 1 >= argc) {
      error = "unknown option or missing value: " + std::string(arg);
      return false;
    }
    const std::string value = argv[++i];
    if (arg == "--listen") {
      Listener listener;
      if (!ParseTlsListener(value, listener, error)) return false;
      options.listeners.push_back(listener);
      anyTls = true;
    } else if (arg == "--http") {
      Listener listener;
      if (!ParseAddressPort(value, listener, error)) return false;
      options.listeners.push_back(listener);
    } else if (arg == "--trap") {
      Trap trap;
      if (!ParseTrapChain(value, trap, trap.first, error)) return false;
      options.traps.push_back(trap);
    } else if (arg == "--trap-later") {
      Trap where;
      TrapChain chain;
      if (!ParseTrapChain(value, where, chain, error)) return false;
      Trap* target = nullptr;
      for (Trap& trap : options.traps)
        if (trap.Name() == where.Name()) target = &trap;
      if (target == nullptr) {
        error = "--trap-later names no earlier --trap: " + where.Name();
        return false;
      }
      target->later = chain;
    } else if (arg == "--media") {
      options.mediaDir = value;
    } else if (arg == "--state") {
      options.stateDir = value;
    } else if (arg == "--profile") {
      options.profileFile = value;
    } else if (arg == "--pins-file") {
      options.pinsFile = value;
    } else if (arg == "--pins-scope") {
      options.pinsScope = value;
    } else {
      error = "unknown option: " + std::string(arg);
      return false;
    }
  }
  if (!anyTls) {
    Listener listener;
    listener.address = "127.0.0.1";
    listener.port = 47443;
    listener.tls = true;
    listener.chainPem = sourceDir + "/config/dev/service-chain.pem";
    listener.keyPem = sourceDir + "/config/dev/service.key";
    options.listeners.insert(options.listeners.begin(), listener);
  }
  return true;
}

}  // namespace devservice
