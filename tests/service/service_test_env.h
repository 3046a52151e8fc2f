#pragma once
// What the service tests know about the development service they run
// against: its listeners and the pins of the chains they present.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "service/http_client.h"
#include "service/pins.h"
#include "tests/support/test_support.h"

namespace ServiceTest {

inline const WString kPlatform = u"https://127.0.0.1:47443";      // dev chain, the platform host
inline const WString kHost2 = u"https://127.0.0.2:47443";         // dev chain, not a platform host
inline const WString kSelfSigned = u"https://127.0.0.3:47443";    // self-signed leaf
inline const WString kExpired = u"https://127.0.0.4:47443";       // expired leaf from the dev intermediate
inline const WString kLeafOnly = u"https://127.0.0.5:47443";      // dev leaf without its intermediate
inline const WString kRoguePlatform = u"https://127.0.0.1:47444"; // a foreign chain on the platform host
inline const WString kRogueHost2 = u"https://127.0.0.2:47445";    // a foreign chain on the other host
inline const WString kHttp = u"http://127.0.0.1:47480";

struct ChainPins {
    std::string leaf;
    std::string intermediate; // empty when the chain has none
    std::string root;
};

// The pins of one of the service's chains: "good", "selfsigned", "expired",
// "rogue" or "leafonly".
inline ChainPins PinsOf(const std::string& chain) {
    const std::string path = TestSupport::Env("TOVANI_TEST_STATE") + "/certs/pins.json";
    const nlohmann::json all = nlohmann::json::parse(TestSupport::ReadFile(path), nullptr, false);
    ChainPins pins;
    if (all.is_discarded() || !all.contains(chain)) {
        ADD_FAILURE() << "no pins for the '" << chain << "' chain in " << path;
        return pins;
    }
    const nlohmann::json& entry = all[chain];
    pins.leaf = entry.value("leaf", "");
    if (entry.contains("intermediate") && entry["intermediate"].is_string()) pins.intermediate = entry["intermediate"];
    pins.root = entry.value("root", "");
    return pins;
}

inline std::vector<std::string> AllPins(const ChainPins& pins) {
    std::vector<std::string> all = {pins.leaf};
    if (!pins.intermediate.empty()) all.push_back(pins.intermediate);
    all.push_back(pins.root);
    return all;
}

inline PinEntry Entry(const WString& scope, std::vector<std::string> pins) { return PinEntry{scope, std::move(pins)}; }

// The /echo route's account of the request it received.
inline nlohmann::json EchoOf(const HttpResponse& response) {
    EXPECT_TRUE(response.ok) << response.statusCode << " " << response.error;
    nlohmann::json echo = nlohmann::json::parse(response.body, nullptr, false);
    if (echo.is_discarded() || !echo.is_object()) {
        ADD_FAILURE() << "not an echo: " << response.body;
        return nlohmann::json::object({{"headers", nlohmann::json::object()}});
    }
    return echo;
}

// What one recording listener (it finishes the handshake and keeps whatever
// arrives after it) saw on one connection.
struct TrapConnection {
    int connection = 0;
    std::string chain;
    bool handshake = false;
    std::string received;
};

// Forgets every listener's records; the switching ones serve the dev chain again.
inline void ResetTraps() {
    HttpClient plain;
    const HttpResponse r = plain.Get(kHttp + u"/control/traps/reset");
    ASSERT_TRUE(r.ok) << r.statusCode << " " << r.error;
}

// The connections a listener ("ADDR:PORT") has recorded, once at least
// `expected` of them are finished (a record is written when its connection
// closes), or what there is after five seconds.
inline std::vector<TrapConnection> TrapConnections(const std::string& listener, std::size_t expected) {
    std::vector<TrapConnection> out;
    for (int attempt = 0; attempt < 50; ++attempt) {
        HttpClient plain;
        const HttpResponse r = plain.Get(kHttp + u"/control/traps");
        const nlohmann::json all = nlohmann::json::parse(r.body, nullptr, false);
        out.clear();
        if (!all.is_discarded() && all.contains(listener) && all[listener].is_array()) {
            for (const nlohmann::json& record : all[listener]) {
                out.push_back({record.value("connection", 0), record.value("chain", ""),
                               record.value("handshake", false), record.value("received", "")});
            }
        }
        if (out.size() >= expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return out;
}

// A refused exchange: its text, and nothing read.
inline void ExpectRefused(const HttpResponse& r, const std::string& error) {
    EXPECT_EQ(r.error, error);
    EXPECT_EQ(r.statusCode, 0u);
    EXPECT_EQ(r.body, "");
    EXPECT_FALSE(r.ok);
}

inline bool IsSendFailure(const HttpResponse& response) {
    return response.error.rfind("WinHttpSendRequest failed: ", 0) == 0 && response.statusCode == 0 &&
           response.body.empty() && !response.ok;
}

} // namespace ServiceTest
