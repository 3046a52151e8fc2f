#include "counts.h"

#include <map>
#include <mutex>

namespace devservice {

namespace {

struct Count {
  int handshakes = 0;
  int requests = 0;
};

std::mutex gMutex;
std::map<std::string, Count> gCounts;

int NameIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// A flag on the connection: a handshake counts once, whatever messages follow it.
int CountedIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

void OnInfo(const SSL* ssl, int where, int) {
  if ((where & SSL_CB_HANDSHAKE_DONE) == 0) return;
  SSL* connection = const_cast<SSL*>(ssl);
  if (SSL_get_ex_data(connection, CountedIndex()) != nullptr) return;
  static int marker = 1;
  SSL_set_ex_data(connection, CountedIndex(), &marker);
  const auto* name = static_cast<const std::string*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), NameIndex()));
  if (name == nullptr) return;
  std::lock_guard lock(gMutex);
  ++gCounts[*name].handshakes;
}

}  // namespace

void CountHandshakes(SSL_CTX& ctx, const std::string& listenerName) {
  // Lives as long as the context, which lives as long as the service.
  SSL_CTX_set_ex_data(&ctx, NameIndex(), new std::string(listenerName));
  SSL_CTX_set_info_callback(&ctx, OnInfo);
}

void CountRequest(const std::string& listenerName, const std::string& path) {
  if (path.rfind("/control/", 0) == 0) return;
  std::lock_guard lock(gMutex);
  ++gCounts[listenerName].requests;
}

nlohmann::json Counts() {
  std::lock_guard lock(gMutex);
  nlohmann::json all = nlohmann::json::object();
  for (const auto& [name, count] : gCounts) all[name] = {{"handshakes", count.handshakes}, {"requests", count.requests}};
  return all;
}

void ResetCounts() {
  std::lock_guard lock(gMutex);
  gCounts.clear();
}

}  // namespace devservice
