// tovani-devservice: the platform's HTTPS service played on loopback, for
// development runs and the test suites. See options.cpp for the command line.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "options.h"
#include "pins.h"
#include "counts.h"
#include "pool.h"
#include "profile.h"
#include "routes.h"
#include "trap.h"

#ifndef TOVANI_SOURCE_DIR
#error "TOVANI_SOURCE_DIR must name the source tree"
#endif

namespace {

using namespace devservice;

constexpr size_t kInitialWorkers = 4;
constexpr size_t kMaxWorkers = 256;  // per listener

std::string OpenSslError() {
  char text[256] = "unknown TLS error";
  if (unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

std::unique_ptr<httplib::Server> MakeServer(const Listener& listener, std::string& error) {
  if (!listener.tls) return std::make_unique<httplib::Server>();
  auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& ctx) {
    SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
    // The chain file sends the leaf and every intermediate after it.
    if (SSL_CTX_use_certificate_chain_file(&ctx, listener.chainPem.c_str()) != 1) {
      error = "cannot load chain " + listener.chainPem + ": " + OpenSslError();
      return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&ctx, listener.keyPem.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(&ctx) != 1) {
      error = "cannot load key " + listener.keyPem + ": " + OpenSslError();
      return false;
    }
    CountHandshakes(ctx, listener.Name());
    return true;
  });
  if (!server->is_valid()) {
    if (error.empty()) error = "cannot set up TLS for " + listener.Name();
    return nullptr;
  }
  return server;
}

void Configure(httplib::Server& server, size_t maxBody) {
  // Plain SO_REUSEADDR: httplib's default SO_REUSEPORT would let a second
  // instance bind the same port silently instead of failing.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_payload_max_length(maxBody);
  // Headers and body go out in separate writes: without this each answer
  // waited for the client's delayed acknowledgement (about 40 ms).
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(3);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  server.new_task_queue = [] { return new GrowingPool(kInitialWorkers, kMaxWorkers); };
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// One entry pinning every certificate of the chain; the leaf carries the
// "sha256/" prefix and the others not, so both spellings are exercised.
bool ComputedPinsDocument(const Options& options, std::string& document, std::string& error) {
  const Listener* first = nullptr;
  for (const auto& listener : options.listeners)
    if (listener.tls && !first) first = &listener;
  nlohmann::json pins = nlohmann::json::array();
  if (first) {
    auto computed = PinsOfPemFile(first->chainPem, error);
    if (!computed) return false;
    for (size_t i = 0; i < computed->size(); ++i)
      pins.push_back((i == 0 ? "sha256/" : "") + (*computed)[i]);
  }
  document = nlohmann::json::array({{{"scope", options.pinsScope}, {"pins", pins}}}).dump();
  return true;
}

bool WriteReadyFile(const std::string& dir, std::string& readyPath, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  readyPath = dir + "/ready";
  const std::string temp = readyPath + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << getpid() << "\n";
    if (!out) {
      error = "cannot write " + temp;
      return false;
    }
  }
  if (std::rename(temp.c_str(), readyPath.c_str()) != 0) {
    error = "cannot write " + readyPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int Fail(const std::string& message, int code) {
  std::cerr << "tovani-devservice: " << message << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken synchronously by sigwait below; every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a client hanging up mid-answer is routine

  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, TOVANI_SOURCE_DIR, options, error))
    return Fail(error + "\n" + kUsage, 2);
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }

  ServiceState state;
  state.mediaDir = options.mediaDir;
  state.stateDir = options.stateDir;
  if (!LoadProfile(options.profileFile, state.profile, error)) return Fail(error, 2);
  if (!options.pinsFile.empty()) {
    if (!ReadFile(options.pinsFile, state.defaultPinsDocument))
      return Fail("cannot read " + options.pinsFile, 2);
  } else if (!ComputedPinsDocument(options, state.defaultPinsDocument, error)) {
    return Fail(error, 2);
  }
  state.pinsDocument = state.defaultPinsDocument;

  std::vector<std::unique_ptr<httplib::Server>> servers;
  for (const auto& listener : options.listeners) {
    auto server = MakeServer(listener, error);
    if (!server) return Fail(error, 2);
    Configure(*server, state.maxBody);
    InstallRoutes(*server, state, listener.Name());
    servers.push_back(std::move(server));
  }
  for (size_t i = 0; i < servers.size(); ++i) {
    const auto& listener = options.listeners[i];
    errno = 0;
    if (!servers[i]->bind_to_port(listener.address, listener.port)) {
      const std::string reason = errno ? std::strerror(errno) : "bind failed";
      return Fail("cannot listen on " + listener.Name() + ": " + reason, 3);
    }
  }

  if (!StartTraps(options.traps, error)) return Fail(error, 3);

  // Bound sockets already queue connections, so "ready" may be said before
  // the accept loops run.
  std::string readyPath;
  if (!options.stateDir.empty() && !WriteReadyFile(options.stateDir, readyPath, error))
    return Fail(error, 1);

  std::vector<std::thread> threads;
  for (auto& server : servers)
    threads.emplace_back([&server] { server->listen_after_bind(); });
  // stop() does nothing to a server whose loop has not started yet, so an
  // early signal would otherwise leave a thread that never ends.
  for (auto& server : servers)
    for (int i = 0; i < 5000 && !server->is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (const auto& listener : options.listeners) LogLine("listening: " + listener.Name());
  for (const auto& trap : options.traps) LogLine("trap: https " + trap.Name());
  std::cout << "ready" << std::endl;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  LogLine(std::string("stopping on ") + strsignal(signal));
  WakeSleepers();
  for (auto& server : servers) server->stop();
  for (auto& thread : threads) thread.join();
  StopTraps();
  if (!readyPath.empty()) std::remove(readyPath.c_str());
  return 0;
}
