// tovani-tool fetch against servers that must get nothing: the recording
// listeners of the development service show what reached them after the
// handshake. The tool loads the pins from the platform host first, as the
// player's start-up does.
#include <gtest/gtest.h>

#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

using nlohmann::json;

const std::string kBody = "pass=learner-77&id=secret-content";

TestSupport::ProcessResult Fetch(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"fetch"};
    all.insert(all.end(), args.begin(), args.end());
    return TestSupport::RunProcess(TestSupport::ToolPath(), all);
}

json ErrorOf(const TestSupport::ProcessResult& r) {
    const json out = json::parse(r.out, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        ADD_FAILURE() << "not JSON: " << r.out << r.err;
        return json();
    }
    EXPECT_EQ(out["statusCode"], 0);
    EXPECT_EQ(out["body"], "");
    return out["error"];
}

void ExpectNothingArrived(const std::string& listener, std::size_t count) {
    const std::vector<TrapConnection> connections = TrapConnections(listener, count);
    ASSERT_EQ(connections.size(), count) << listener;
    for (const TrapConnection& c : connections) {
        EXPECT_TRUE(c.handshake) << listener << " connection " << c.connection;
        EXPECT_EQ(c.received, "") << listener << " connection " << c.connection;
    }
}

} // namespace

TEST(ToolFetchTrust, ForgedChainsGetNoRequest) {
    ResetTraps();
    // The platform host: its pre-flight passed while the pins loaded, so the
    // request's own connection is refused, in the diagnostic dialog.
    TestSupport::ProcessResult r = Fetch({"--method", "PUT", "--body", kBody, "https://127.0.0.1:47446/echo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("SSL_127.0.0.1"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    ExpectNothingArrived("127.0.0.1:47446", 1);

    // Another pinned host: refused on its pre-flight.
    r = Fetch({"--method", "PUT", "--body", kBody, "https://127.0.0.2:47446/echo"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(ErrorOf(r), "Pre-flight SSL Pin validation FAILED for 127.0.0.2. MITM Attack Prevented!");
    ExpectNothingArrived("127.0.0.2:47446", 1);
}

TEST(ToolFetchTrust, ServerTurningRogueGetsNothingMore) {
    ResetTraps();
    // The first connection shows the genuine chain and is served...
    TestSupport::ProcessResult r = Fetch({"--method", "PUT", "--body", kBody, "https://127.0.0.1:47447/echo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(json::parse(r.out, nullptr, false).value("body", ""), "{\"trap\":true}") << r.out;
    // ...the next one shows a rogue chain and gets nothing.
    r = Fetch({"--method", "PUT", "--body", kBody, "https://127.0.0.1:47447/echo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("SSL_127.0.0.1"), std::string::npos) << r.err;
    const std::vector<TrapConnection> connections = TrapConnections("127.0.0.1:47447", 2);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0].chain, "good");
    EXPECT_NE(connections[0].received.find(kBody), std::string::npos);
    EXPECT_EQ(connections[1].chain, "rogue");
    EXPECT_EQ(connections[1].received, "");
}

TEST(ToolFetchTrust, UnpinnedSelfSignedServerGetsNothing) {
    ResetTraps();
    TestSupport::ProcessResult r = Fetch({"--no-pinning", "--method", "PUT", "--body", kBody,
                                          "https://127.0.0.3:47448/echo"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(ErrorOf(r), "WinHttpSendRequest failed: 12175");
    ExpectNothingArrived("127.0.0.3:47448", 1);
}
