// tovani-tool fetch against servers that must get nothing, beyond the
// shared hostile-server tests: each run is its own process, which loads the
// pins from the platform host first, as the player's start-up does. The
// recording listeners of the development service show what reached them
// after the handshake.
#include <gtest/gtest.h>

#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

using nlohmann::json;

const std::string kBody = "pass=learner-77&id=secret-content";

TestSupport::ProcessResult Fetch(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"fetch", "--method", "PUT", "--body", kBody};
    all.insert(all.end(), args.begin(), args.end());
    return TestSupport::RunProcess(TestSupport::ToolPath(), all);
}

std::string ErrorOf(const TestSupport::ProcessResult& r) {
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const json out = json::parse(r.out, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        ADD_FAILURE() << "not JSON: " << r.out << r.err;
        return "";
    }
    EXPECT_EQ(out["statusCode"], 0);
    EXPECT_EQ(out["body"], "");
    return out.value("error", "");
}

} // namespace

TEST(ToolFetchTrust, ServersThatMustGetNothing) {
    ResetTraps();
    // A forged chain on a pinned host that is not the platform's: its pre-flight is refused.
    EXPECT_EQ(ErrorOf(Fetch({"https://127.0.0.2:47446/echo"})),
              "Pre-flight SSL Pin validation FAILED for 127.0.0.2. MITM Attack Prevented!");
    // A self-signed unpinned host, without pinning: ordinary validation refuses it.
    EXPECT_EQ(ErrorOf(Fetch({"--no-pinning", "https://127.0.0.3:47448/echo"})), "WinHttpSendRequest failed: 12175");
    const std::vector<std::pair<std::string, std::string>> listeners = {{"127.0.0.2:47446", "forged"},
                                                                         {"127.0.0.3:47448", "selfsigned"}};
    for (const auto& [listener, chain] : listeners) {
        const std::vector<TrapConnection> connections = TrapConnections(listener, 1);
        ASSERT_EQ(connections.size(), 1u) << listener;
        EXPECT_EQ(connections[0].chain, chain);
        EXPECT_TRUE(connections[0].handshake) << listener;
        EXPECT_EQ(connections[0].received, "") << listener;
    }
}

TEST(ToolFetchTrust, PlatformHostTurningRogueGetsNothingMore) {
    ResetTraps();
    // The pre-flight meets the genuine chain; the request's own connection a
    // rogue one: the diagnostic path, and nothing of the request is sent.
    const TestSupport::ProcessResult r = Fetch({"https://127.0.0.1:47447/echo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("SSL_127.0.0.1"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    const std::vector<TrapConnection> connections = TrapConnections("127.0.0.1:47447", 2);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0].chain, "good");
    EXPECT_EQ(connections[0].received.rfind("HEAD / ", 0), 0u) << connections[0].received;
    EXPECT_EQ(connections[0].received.find(kBody), std::string::npos);
    EXPECT_EQ(connections[1].chain, "rogue");
    EXPECT_EQ(connections[1].received, "");
}
