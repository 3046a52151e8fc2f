#include "trap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "routes.h"

namespace devservice {

namespace {

constexpr size_t kMaxRecorded = 64 * 1024;
constexpr int kIdleSeconds = 2;

struct Record {
  int connection = 0;
  std::string chain;
  bool handshake = false;
  std::string received;
};

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, CtxFree>;

struct RunningTrap {
  Trap trap;
  int listener = -1;
  CtxPtr firstCtx;
  CtxPtr laterCtx;
  int connections = 0;  // since start or reset; guarded by gMutex
  std::vector<Record> records;
  std::thread acceptor;
};

std::mutex gMutex;
std::vector<std::unique_ptr<RunningTrap>> gTraps;
std::vector<std::thread> gWorkers;
std::atomic<bool> gStop{false};

CtxPtr MakeContext(const TrapChain& chain, std::string& error) {
  CtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) {
    error = "cannot create a TLS context";
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  // No resumption: every connection must show its certificate afresh.
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_TICKET);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), chain.chainPem.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx.get(), chain.keyPem.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1) {
    error = "cannot load " + chain.chainPem + " / " + chain.keyPem;
    ERR_clear_error();
    return nullptr;
  }
  return ctx;
}

// The end of an HTTP request: its header block and the body it announced.
bool RequestComplete(const std::string& data) {
  const size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  size_t length = 0;
  std::string lower = data.substr(0, end);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("\r\ncontent-length:");
  if (at != std::string::npos) length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
  return data.size() >= end + 4 + length;
}

void Serve(RunningTrap* running, int socket) {
  timeval idle{kIdleSeconds, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);
  Record record;
  SSL_CTX* ctx = nullptr;
  {
    std::lock_guard lock(gMutex);
    record.connection = ++running->connections;
    const bool later = record.connection > 1 && running->laterCtx;
    ctx = later ? running->laterCtx.get() : running->firstCtx.get();
    record.chain = later ? running->trap.later.name : running->trap.first.name;
  }
  SSL* ssl = SSL_new(ctx);
  if (ssl != nullptr) {
    SSL_set_fd(ssl, socket);
    record.handshake = SSL_accept(ssl) == 1;
    if (record.handshake) {
      char buffer[4096];
      while (record.received.size() < kMaxRecorded && !RequestComplete(record.received)) {
        const int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got <= 0) break;
        record.received.append(buffer, static_cast<size_t>(got));
      }
      const std::string body = "{\"trap\":true}";
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      if (!record.received.empty()) SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
  }
  ERR_clear_error();
  close(socket);
  LogLine("[trap " + running->trap.Name() + "] connection " + std::to_string(record.connection) + " (" +
          record.chain + "): handshake " + (record.handshake ? "done" : "failed") + ", " +
          std::to_string(record.received.size()) + " bytes after it");
  std::lock_guard lock(gMutex);
  running->records.push_back(std::move(record));
}

void Accept(RunningTrap* running) {
  while (!gStop) {
    pollfd waiting{running->listener, POLLIN, 0};
    if (poll(&waiting, 1, 200) <= 0) continue;
    const int socket = accept(running->listener, nullptr, nullptr);
    if (socket < 0) continue;
    std::lock_guard lock(gMutex);
    gWorkers.emplace_back(Serve, running, socket);
  }
}

int Bind(const Trap& trap, std::string& error) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(trap.port));
  if (sock < 0 || inet_pton(AF_INET, trap.address.c_str(), &address.sin_addr) != 1 ||
      bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(sock, 16) != 0) {
    error = "cannot listen on trap " + trap.Name() + ": " + std::strerror(errno);
    if (sock >= 0) close(sock);
    return -1;
  }
  return sock;
}

}  // namespace

bool StartTraps(const std::vector<Trap>& traps, std::string& error) {
  for (const Trap& trap : traps) {
    auto running = std::make_unique<RunningTrap>();
    running->trap = trap;
    running->firstCtx = MakeContext(trap.first, error);
    if (!running->firstCtx) return false;
    if (!trap.later.name.empty()) {
      running->laterCtx = MakeContext(trap.later, error);
      if (!running->laterCtx) return false;
    }
    running->listener = Bind(trap, error);
    if (running->listener < 0) return false;
    gTraps.push_back(std::move(running));
  }
  for (auto& running : gTraps) running->acceptor = std::thread(Accept, running.get());
  return true;
}

void StopTraps() {
  gStop = true;
  for (auto& running : gTraps) {
    if (running->acceptor.joinable()) running->acceptor.join();
    close(running->listener);
  }
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(gMutex);
    workers.swap(gWorkers);
  }
  for (auto& worker : workers) worker.join();
}

nlohmann::json TrapRecords() {
  std::lock_guard lock(gMutex);
  nlohmann::json all = nlohmann::json::object();
  for (const auto& running : gTraps) {
    nlohmann::json list = nlohmann::json::array();
    for (const Record& record : running->records) {
      list.push_back({{"connection", record.connection},
                      {"chain", record.chain},
                      {"handshake", record.handshake},
                      {"bytes", record.received.size()},
                      {"received", record.received}});
    }
    all[running->trap.Name()] = std::move(list);
  }
  return all;
}

void ResetTraps() {
  std::lock_guard lock(gMutex);
  for (auto& running : gTraps) {
    running->records.clear();
    running->connections = 0;
  }
}

}  // namespace devservice
