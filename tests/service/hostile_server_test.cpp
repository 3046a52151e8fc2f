// Servers that play a man in the middle: a forged chain, a chain that turns
// rogue after the first connection, an untrusted unpinned host, answers that
// never end or never stop growing. None of them may receive a request byte
// (the development service's recording listeners show what arrived after the
// handshake), and each failure comes back as its own text.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

const WString kForgedPlatform = u"https://127.0.0.1:47446";
const WString kForgedHost2 = u"https://127.0.0.2:47446";
const WString kSwitchHost2 = u"https://127.0.0.2:47447";
const WString kSelfSignedTrap = u"https://127.0.0.3:47448";

// Every connection after the genuine first one (when there is one) saw its
// handshake refused or ended with nothing received. Waits for the records of
// at least `expected` connections (a record is written when its connection closes).
void ExpectNothingArrived(const std::string& trap, bool genuineFirst, std::size_t expected = 1) {
    const std::vector<TrapConnection> records = TrapConnections(trap, expected);
    ASSERT_GE(records.size(), expected) << trap << " was not contacted as often as expected";
    for (const TrapConnection& record : records) {
        if (genuineFirst && record.chain == "good") continue;
        EXPECT_EQ(record.received, "") << trap << " received it";
    }
}

const std::string kPutBody = "pass=secret&id=link";

} // namespace

TEST(HostileServer, ForgedChainReceivesNothing) {
    ResetTraps();
    // The pins of the genuine intermediate and root: the forged leaf names
    // that intermediate and is sent with it, but was never signed by it.
    const ChainPins forged = PinsOf("forged");
    SetPins({Entry(u"127.0.0.2", {forged.intermediate, forged.root})});
    HttpClient client;
    client.SetHeader(u"X-Secret", u"top-secret");
    HttpResponse r = client.Request(u"PUT", kForgedHost2 + u"/api", kPutBody, u"application/x-www-form-urlencoded");
    EXPECT_EQ(r.error, "Pre-flight SSL Pin validation FAILED for 127.0.0.2. MITM Attack Prevented!");
    EXPECT_EQ(r.statusCode, 0u);
    EXPECT_EQ(r.body, "");
    ExpectNothingArrived("127.0.0.2:47446", false);

    // The tool on the platform's own host: the diagnostic path, nothing printed as an answer.
    const TestSupport::ProcessResult tool = TestSupport::RunProcess(
        TestSupport::ToolPath(), {"fetch", "--method", "PUT", "--body", kPutBody, WideToUtf8(kForgedPlatform) + "/api"});
    EXPECT_EQ(tool.status, 0) << tool.out << tool.err;
    EXPECT_NE(tool.err.find("SSL_127.0.0.1"), std::string::npos) << tool.err;
    EXPECT_EQ(tool.out.find("trap"), std::string::npos) << tool.out;
    ExpectNothingArrived("127.0.0.1:47446", false);

    // The same chain is still accepted when the forged leaf's own key is pinned:
    // the server holds that key, and no link above it is counted.
    SetPins({Entry(u"127.0.0.2", {forged.leaf})});
    HttpClient leafPinned;
    EXPECT_TRUE(leafPinned.Get(kForgedHost2 + u"/").ok);
}

TEST(HostileServer, EveryLaterConnectionIsCheckedBeforeItCarriesAnything) {
    ResetTraps();
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient client;
    client.SetHeader(u"X-Secret", u"top-secret");
    // The pre-flight meets the genuine chain; the request's own connection a rogue one.
    for (int i = 0; i < 2; ++i) {
        const HttpResponse r = client.Request(u"PUT", kSwitchHost2 + u"/api", kPutBody, u"text/plain");
        EXPECT_EQ(r.error, "SSL Pin validation FAILED for 127.0.0.2");
        EXPECT_EQ(r.statusCode, 0u);
    }
    const std::vector<TrapConnection> records = TrapConnections("127.0.0.2:47447", 3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].chain, "good");
    EXPECT_EQ(records[0].received.rfind("HEAD / ", 0), 0u) << records[0].received;
    ExpectNothingArrived("127.0.0.2:47447", true, 3);
}

TEST(HostileServer, UntrustedUnpinnedHostReceivesNothing) {
    ResetTraps();
    SetPins(DefaultPins());
    for (const bool pinningDisabled : {false, true}) {
        HttpClient client;
        client.pinningDisabled = pinningDisabled;
        client.SetHeader(u"X-Secret", u"top-secret");
        const HttpResponse r = client.Request(u"PUT", kSelfSignedTrap + u"/api", kPutBody, u"text/plain");
        EXPECT_TRUE(IsSendFailure(r)) << pinningDisabled << ": " << r.statusCode << " " << r.error;
    }
    ExpectNothingArrived("127.0.0.3:47448", false, 2);
}

TEST(HostileServer, AnswersAreBoundedInSizeAndTime) {
    SetPins(DefaultPins());
    HttpClient client;
    HttpResponse r = client.Get(kPlatform + u"/large/" + Utf8ToWide(std::to_string(kMaxResponseBytes + 1)));
    EXPECT_EQ(r.error, "WinHttpReceiveResponse failed: 12184");
    EXPECT_EQ(r.statusCode, 0u);
    EXPECT_EQ(r.body, "");
    // Just within the cap still arrives whole.
    r = client.Get(kPlatform + u"/large/" + Utf8ToWide(std::to_string(kMaxResponseBytes)));
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body.size(), kMaxResponseBytes);
    // A client that asks for more gets up to its own cap, and no more.
    HttpClient documents;
    documents.maxResponseBytes = kMaxResponseBytes * 2;
    r = documents.Get(kPlatform + u"/large/" + Utf8ToWide(std::to_string(kMaxResponseBytes * 2)));
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body.size(), kMaxResponseBytes * 2);
    r = documents.Get(kPlatform + u"/large/" + Utf8ToWide(std::to_string(kMaxResponseBytes * 2 + 1)));
    EXPECT_EQ(r.error, "WinHttpReceiveResponse failed: 12184");

    // One byte a second never trips a stall limit; the deadline ends it.
    const auto start = std::chrono::steady_clock::now();
    r = client.Get(kPlatform + u"/trickle");
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.error, "WinHttpReceiveResponse failed: 12002");
    EXPECT_EQ(r.body, "");
    EXPECT_GE(seconds, static_cast<long long>(kRequestDeadlineMs / 1000) - 1);
    EXPECT_LE(seconds, static_cast<long long>(kRequestDeadlineMs / 1000) + 10);
}
