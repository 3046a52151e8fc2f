// Reading a host's certificate chain without a request of one's own: the keys
// come leaf first, and the chain reaches a trusted root the server never sent.
#include <gtest/gtest.h>

#include "service/pin_probe.h"
#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

std::vector<std::string> PinsOfChain(const ServerChain& chain) {
    std::vector<std::string> pins;
    for (const std::string& spki : chain.spkiDer) pins.push_back(SpkiPin(spki));
    return pins;
}

} // namespace

TEST(ServerChainProbe, ChainsAreCompletedTowardsATrustedRoot) {
    const ChainPins good = PinsOf("good");
    const ChainPins expired = PinsOf("expired");
    const ChainPins selfSigned = PinsOf("selfsigned");
    const ChainPins leafOnly = PinsOf("leafonly");
    struct Case {
        WString host;
        std::vector<std::string> pins;
    };
    const std::vector<Case> cases = {
        {u"127.0.0.2", {good.leaf, good.intermediate, good.root}},
        {u"localhost", {good.leaf, good.intermediate, good.root}},
        // Expiry does not stop the chain from being built.
        {u"127.0.0.4", {expired.leaf, expired.intermediate, expired.root}},
        {u"127.0.0.3", {selfSigned.leaf}},
        // Without its intermediate the leaf has no path to the root.
        {u"127.0.0.5", {leafOnly.leaf}},
    };
    for (const Case& c : cases) {
        const ServerChain chain = FetchServerChain(c.host, 47443);
        EXPECT_TRUE(chain.haveCertificate) << WideToUtf8(c.host);
        EXPECT_EQ(PinsOfChain(chain), c.pins) << WideToUtf8(c.host);
    }

    // An untrusted chain ends where the server's certificates end.
    const ChainPins rogue = PinsOf("rogue");
    const ServerChain chain = FetchServerChain(u"127.0.0.2", 47445);
    EXPECT_EQ(PinsOfChain(chain), (std::vector<std::string>{rogue.leaf, rogue.intermediate}));
}

TEST(ServerChainProbe, NoHandshakeNoCertificate) {
    const std::vector<std::pair<WString, std::uint16_t>> targets = {
        {u"127.0.0.9", 1},        // nothing listens
        {u"127.0.0.1", 47480},    // plain HTTP
        {u"", 443},               // no host at all
        {u"127.0.0.1/x", 47443},  // not a host name
        {u"a b", 47443},
        {WString(300, u'a'), 47443},
        {u"127.0.0.1", 0},
    };
    for (const auto& [host, port] : targets) {
        const ServerChain chain = FetchServerChain(host, port);
        EXPECT_FALSE(chain.haveCertificate) << WideToUtf8(host) << ":" << port;
        EXPECT_TRUE(chain.spkiDer.empty());
    }
}
