// The pin store: which entry covers a host, the decision on a chain, and the
// merge of the service's pin document over the built-in defaults.
#include <gtest/gtest.h>

#include "common/base64.h"
#include "common/crypto.h"
#include "common/masking.h"
#include "tests/service/service_test_env.h"

using namespace ServiceTest;

namespace {

// Which entry FindPinEntry chose, told by its scope; "" for none.
std::string Covering(const WString& host) {
    const std::optional<PinEntry> entry = FindPinEntry(host);
    return entry ? WideToUtf8(entry->scope) : std::string();
}

std::string Describe(const std::vector<PinEntry>& entries) {
    nlohmann::json out = nlohmann::json::array();
    for (const PinEntry& e : entries) out.push_back({{"scope", WideToUtf8(e.scope)}, {"pins", e.pins}});
    return out.dump();
}

ServerChain ChainOf(std::vector<std::string> spki) {
    ServerChain chain;
    chain.haveCertificate = true;
    chain.spkiDer = std::move(spki);
    return chain;
}

} // namespace

TEST(PinStore, ExactScopeWinsOverAnySuffix) {
    SetPins({Entry(u"b", {"1"}), Entry(u"a.b", {"2"})});
    EXPECT_EQ(Covering(u"a.b"), "a.b");
    EXPECT_EQ(Covering(u"x.a.b"), "a.b");
    EXPECT_EQ(Covering(u"x.b"), "b");
    EXPECT_EQ(Covering(u"b"), "b");
}

TEST(PinStore, LongestSuffixWinsWhateverTheOrder) {
    for (bool reversed : {false, true}) {
        std::vector<PinEntry> entries = {Entry(u"a.b", {"1"}), Entry(u"x.a.b", {"2"})};
        if (reversed) std::swap(entries[0], entries[1]);
        SetPins(entries);
        EXPECT_EQ(Covering(u"y.x.a.b"), "x.a.b") << reversed;
        EXPECT_EQ(Covering(u"y.a.b"), "a.b") << reversed;
    }
    // Of equally long scopes the earlier one serves; the returned entry is a copy.
    SetPins({Entry(u"p.example", {"first"}), Entry(u"q.example", {"x"}), Entry(u"P.EXAMPLE", {"second"})});
    std::optional<PinEntry> entry = FindPinEntry(u"h.p.example");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->pins, std::vector<std::string>{"first"});
    entry->pins.clear();
    EXPECT_EQ(FindPinEntry(u"h.p.example")->pins, std::vector<std::string>{"first"});
}

TEST(PinStore, SuffixNeedsADotBoundaryAndCaseIsIgnored) {
    SetPins({Entry(u"Api.Example.TEST", {"1"})});
    EXPECT_EQ(Covering(u"xapi.example.test"), "");
    EXPECT_EQ(Covering(u"example.test"), "");
    EXPECT_EQ(Covering(u"api.example.test."), "");
    EXPECT_EQ(Covering(u"API.example.test"), "Api.Example.TEST");
    EXPECT_EQ(Covering(u"cdn.API.EXAMPLE.test"), "Api.Example.TEST");
    // Only A to Z are folded.
    SetPins({Entry(u"\u00c9cole.test", {"1"})});
    EXPECT_EQ(Covering(u"\u00e9cole.test"), "");
    EXPECT_EQ(Covering(u"\u00c9COLE.test"), WideToUtf8(u"\u00c9cole.test"));
}

TEST(PinStore, EmptyStoreAndEmptyNames) {
    SetPins({});
    EXPECT_EQ(Covering(u"127.0.0.1"), "");
    EXPECT_EQ(Covering(u""), "");
    SetPins({Entry(u"", {"1"})});
    EXPECT_TRUE(FindPinEntry(u""));
    EXPECT_FALSE(FindPinEntry(u"example.test"));
}

TEST(PinStore, DefaultsComeFromTheProfile) {
    const std::vector<PinEntry> defaults = DefaultPins();
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_EQ(WideToUtf8(defaults[0].scope), UnmaskConstant(Config::kDefaultPinScope));
    ASSERT_EQ(defaults[0].pins.size(), 4u);
    for (const std::string& pin : defaults[0].pins) {
        EXPECT_EQ(pin.size(), 44u);
        EXPECT_EQ(Base64Encode(Base64Decode(pin)), pin);
    }
    // The platform's own chain carries them.
    const ChainPins good = PinsOf("good");
    EXPECT_EQ(defaults[0].pins[0], good.leaf);
}

TEST(PinValidation, DecisionOnAChain) {
    EXPECT_EQ(SpkiPin("abc"), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
    const std::string pinA = SpkiPin("key-a");
    const std::string pinB = SpkiPin("key-b");
    SetPins({Entry(u"pinned.test", {pinA, pinB}), Entry(u"nopins.test", {})});

    // Hosts without pins are accepted without looking at anything.
    EXPECT_TRUE(ValidateServerPins(ServerChain{}, u"other.test"));
    EXPECT_TRUE(ValidateServerPins(ServerChain{}, u"nopins.test"));
    // A pinned host needs a certificate...
    EXPECT_FALSE(ValidateServerPins(ServerChain{}, u"pinned.test"));
    // ...and any certificate of its chain may carry any of the pins.
    EXPECT_TRUE(ValidateServerPins(ChainOf({"key-b"}), u"www.pinned.test"));
    EXPECT_TRUE(ValidateServerPins(ChainOf({"leaf", "", "key-a"}), u"pinned.test"));
    EXPECT_FALSE(ValidateServerPins(ChainOf({"leaf", "intermediate", "root"}), u"pinned.test"));
    EXPECT_FALSE(ValidateServerPins(ChainOf({"", ""}), u"pinned.test"));

    // Pins are compared exactly: no prefix, no case folding.
    SetPins({Entry(u"pinned.test", {"sha256/" + pinA, ToLowerAscii(pinB)})});
    EXPECT_FALSE(ValidateServerPins(ChainOf({"key-a", "key-b"}), u"pinned.test"));
}

namespace {

// Replaces the service's pin document for one test and restores it after.
class DynamicPins : public ::testing::Test {
protected:
    void SetUp() override {
        SetPins(DefaultPins());
        Control(u"DELETE", "");
    }
    void TearDown() override { Control(u"DELETE", ""); }

    void Publish(const std::string& document) {
        const HttpResponse r = Control(u"PUT", document);
        ASSERT_TRUE(r.ok) << r.statusCode << " " << r.error;
    }

    // Loads into a known store and reports whether the store was replaced.
    bool LoadOver(const std::vector<PinEntry>& before) {
        SetPins(before);
        const bool loaded = LoadDynamicPins();
        if (!loaded) EXPECT_EQ(Describe(GetPins()), Describe(before)) << "a failed load changed the store";
        return loaded;
    }

private:
    HttpResponse Control(const WString& method, const std::string& body) {
        HttpClient client;
        return client.Request(method, kPlatform + u"/control/pins", body, body.empty() ? u"" : u"application/json");
    }
};

} // namespace

TEST_F(DynamicPins, ServiceEntriesFollowTheDefaults) {
    const ChainPins good = PinsOf("good");
    ASSERT_TRUE(LoadOver(DefaultPins()));
    // The service's own document pins the certificates it sends, the leaf
    // with the "sha256/" prefix.
    std::vector<PinEntry> expected = DefaultPins();
    const std::vector<PinEntry> loaded = GetPins();
    ASSERT_EQ(loaded.size(), 2u) << Describe(loaded);
    EXPECT_EQ(Describe({loaded[0]}), Describe(expected));
    EXPECT_EQ(loaded[1].scope, u"127.0.0.2");
    EXPECT_EQ(loaded[1].pins, (std::vector<std::string>{good.leaf, good.intermediate}));

    // With the real pins loaded the other host is reachable through them.
    HttpClient client;
    EXPECT_TRUE(client.Get(kHost2 + u"/echo").ok);
}

TEST_F(DynamicPins, EntriesWithoutUsablePinsAreDropped) {
    Publish(R"([
        {"scope": "a.test", "pins": ["sha256/AAAA", "BBBB"], "comment": "kept"},
        {"scope": "empty.test", "pins": []},
        {"scope": "numbers.test", "pins": [1, 2.5, null]},
        {"scope": "prefix.test", "pins": ["sha256/", 7, "sha256/x", "SHA256/y"]},
        {"scope": "notarray.test", "pins": "sha256/zzz"},
        {"scope": "nopins.test"},
        {"pins": ["orphan"]},
        "stray",
        42,
        {"scope": "127.0.0.1", "pins": ["other"]},
        {"scope": "\u00e9.test", "pins": ["u"]}
    ])");
    ASSERT_TRUE(LoadOver({}));
    std::vector<PinEntry> expected = DefaultPins();
    expected.push_back(Entry(u"a.test", {"AAAA", "BBBB"}));
    expected.push_back(Entry(u"prefix.test", {"sha256/", "x", "SHA256/y"}));
    expected.push_back(Entry(u"127.0.0.1", {"other"}));
    expected.push_back(Entry(u"\u00e9.test", {"u"}));
    EXPECT_EQ(Describe(GetPins()), Describe(expected));
    // The service cannot override the built-in entry: it stands first.
    EXPECT_EQ(FindPinEntry(u"127.0.0.1")->pins, DefaultPins()[0].pins);
}

TEST_F(DynamicPins, BadDocumentsKeepTheStore) {
    const std::vector<PinEntry> before = {Entry(u"kept.test", {"k"})};
    for (const std::string& document :
         {std::string("not json"), std::string("{\"scope\":\"a\",\"pins\":[\"p\"]}"), std::string("\"[]\""),
          std::string("[{\"scope\": 5, \"pins\": [\"p\"]}]"),
          std::string("[{\"scope\": \"ok.test\", \"pins\": [\"p\"]}, {\"scope\": null, \"pins\": [\"q\"]}]"),
          std::string("[1, 2")}) {
        Publish(document);
        EXPECT_FALSE(LoadOver(before)) << document;
    }
    // An empty array is a valid document: the defaults alone.
    Publish("[]");
    EXPECT_TRUE(LoadOver(before));
    EXPECT_EQ(Describe(GetPins()), Describe(DefaultPins()));
}

TEST_F(DynamicPins, TheSecretTravelsWithThePinsRequestAlone) {
    // The load succeeds only when the service saw the secret ...
    ASSERT_TRUE(LoadOver(DefaultPins()));
    // ... and no later request of the shared client carries it, not even to the platform.
    const nlohmann::json echo = EchoOf(SharedClient().Get(kPlatform + u"/echo"));
    EXPECT_FALSE(echo["headers"].contains("x-secret")) << echo.dump();
}
