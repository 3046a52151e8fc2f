// Trust in HTTPS hosts: a pinned host is trusted through its pins alone (its
// chain may be private, self-signed or expired); every other host, and every
// host on a client without pinning, through ordinary certificate validation.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

const std::string kPreflightHost2 = "Pre-flight SSL Pin validation FAILED for 127.0.0.2. MITM Attack Prevented!";
const std::string kResponseHost2 = "SSL Pin validation FAILED for 127.0.0.2";

} // namespace

TEST(Pinning, AnyCertificateOfTheChainMayCarryThePin) {
    const ChainPins good = PinsOf("good");
    // The root is not sent by the server; it is found by completing the chain.
    for (const std::string& pin : AllPins(good)) {
        SetPins({Entry(u"127.0.0.2", {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=", pin})});
        HttpClient client;
        const HttpResponse r = client.Get(kHost2 + u"/echo");
        EXPECT_TRUE(r.ok) << pin << ": " << r.error;
    }
    // A parent scope covers the host too.
    SetPins({Entry(u"0.0.2", {good.intermediate})});
    HttpClient client;
    EXPECT_TRUE(client.Get(kHost2 + u"/echo").ok);
}

TEST(Pinning, MismatchIsCaughtBeforeTheFirstRequestIsSent) {
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("rogue")))});
    HttpClient client;
    ExpectRefused(client.Request(u"PUT", kHost2 + u"/echo", "secret=1", u"text/plain"), kPreflightHost2);
    // A failed pre-flight is not remembered as done.
    ExpectRefused(client.Get(kHost2 + u"/echo"), kPreflightHost2);
}

TEST(Pinning, EveryResponseIsCheckedAfterThePreflight) {
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient client;
    ASSERT_TRUE(client.Get(kHost2 + u"/echo").ok);
    // Same host name, another server: no second pre-flight, but the answer's chain fails.
    ExpectRefused(client.Get(kRogueHost2 + u"/echo"), kResponseHost2);
    EXPECT_TRUE(client.Get(kHost2 + u"/echo").ok);

    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("rogue")))});
    ExpectRefused(client.Get(kHost2 + u"/echo"), kResponseHost2);
    // The rogue server now matches; its chain is not trusted otherwise.
    EXPECT_TRUE(client.Get(kRogueHost2 + u"/echo").ok);
}

TEST(Pinning, UnreachablePinnedHostFailsThePreflight) {
    SetPins({Entry(u"127.0.0.9", {PinsOf("good").leaf})});
    HttpClient client;
    ExpectRefused(client.Get(u"https://127.0.0.9:1/"),
                  "Pre-flight SSL Pin validation FAILED for 127.0.0.9. MITM Attack Prevented!");
}

TEST(Pinning, PinnedChainsNeedNoOtherTrust) {
    const ChainPins expired = PinsOf("expired");
    const ChainPins selfSigned = PinsOf("selfsigned");
    const ChainPins leafOnly = PinsOf("leafonly");
    SetPins({Entry(u"127.0.0.4", {expired.leaf}), Entry(u"127.0.0.3", {selfSigned.leaf}),
             Entry(u"127.0.0.5", {leafOnly.leaf})});
    HttpClient client;
    for (const WString& base : {kExpired, kSelfSigned, kLeafOnly}) {
        const HttpResponse r = client.Get(base + u"/echo");
        EXPECT_TRUE(r.ok) << WideToUtf8(base) << ": " << r.error;
    }
    // The expired leaf's issuer is pinned: the chain is still built past the expiry.
    SetPins({Entry(u"127.0.0.4", {expired.intermediate})});
    HttpClient again;
    EXPECT_TRUE(again.Get(kExpired + u"/echo").ok);
}

TEST(Pinning, UnpinnedHostsGetOrdinaryValidation) {
    SetPins(DefaultPins());
    HttpClient client;
    // The dev chain leads to the profile's extra trust anchor.
    HttpResponse r = client.Get(kHost2 + u"/echo");
    EXPECT_TRUE(r.ok) << r.error;
    r = client.Get(u"https://localhost:47443/echo");
    EXPECT_TRUE(r.ok) << r.error;
    for (const WString& base : {kSelfSigned, kExpired, kLeafOnly, kRogueHost2}) {
        r = client.Get(base + u"/echo");
        EXPECT_TRUE(IsSendFailure(r)) << WideToUtf8(base) << ": " << r.statusCode << " " << r.error;
    }
}

TEST(Pinning, ClientWithoutPinningValidatesEveryHostOrdinarily) {
    const ChainPins rogue = PinsOf("rogue");
    SetPins({Entry(u"127.0.0.2", AllPins(rogue)), Entry(u"127.0.0.3", {PinsOf("selfsigned").leaf})});
    HttpClient client;
    client.pinningDisabled = true;
    // The pins neither refuse a valid chain...
    HttpResponse r = client.Get(kHost2 + u"/echo");
    EXPECT_TRUE(r.ok) << r.error;
    // ...nor vouch for an untrusted one.
    for (const WString& base : {kSelfSigned, kRogueHost2, kExpired}) {
        r = client.Get(base + u"/echo");
        EXPECT_TRUE(IsSendFailure(r)) << WideToUtf8(base) << ": " << r.statusCode << " " << r.error;
    }
}

TEST(Pinning, HostNamesDifferingInCaseArePreflightedSeparately) {
    SetPins({Entry(u"localhost", AllPins(PinsOf("good")))});
    HttpClient client;
    ASSERT_TRUE(client.Get(u"https://localhost:47443/echo").ok);
    SetPins({Entry(u"localhost", AllPins(PinsOf("rogue")))});
    // The pin lookup ignores case, the record of pre-flighted hosts does not.
    ExpectRefused(client.Get(u"https://localhost:47443/echo"), "SSL Pin validation FAILED for localhost");
    ExpectRefused(client.Get(u"https://LocalHost:47443/echo"),
                  "Pre-flight SSL Pin validation FAILED for LocalHost. MITM Attack Prevented!");
}

TEST(PinningDeathTest, PlatformHostMismatchInThePreflightEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetPins(DefaultPins());
            HttpClient client;
            client.Get(kRoguePlatform + u"/");
            std::exit(3); // not reached: the diagnostic dialog ends the process
        },
        ::testing::ExitedWithCode(0), "SSL_127\\.0\\.0\\.1");
}

TEST(Pinning, PlatformHostMismatchEndsInTheDiagnosticDialog) {
    // The tool loads the pins from the platform host first, so this is the
    // per-response check on an already pre-flighted host.
    TestSupport::ProcessResult r = TestSupport::RunProcess(TestSupport::ToolPath(), {"fetch", "https://127.0.0.1:47444/echo"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("SSL_127.0.0.1"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // Without pinning the same server is merely untrusted.
    r = TestSupport::RunProcess(TestSupport::ToolPath(), {"fetch", "--no-pinning", "https://127.0.0.1:47444/echo"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("WinHttpSendRequest failed: "), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("SSL_"), std::string::npos) << r.err;
}
