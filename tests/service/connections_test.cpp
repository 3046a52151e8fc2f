// Kept connections: a start's service requests share one verified
// connection to the platform host, and every new connection, also one that
// replaces a connection the server closed, is checked in its handshake.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "links/player_content.h"
#include "links/scheme_link.h"
#include "service/content_data.h"
#include "service/version_check.h"
#include "tests/service/service_test_env.h"
#include "tests/support/silent_listener.h"

using namespace ServiceTest;

namespace {

struct ListenerCount {
    int handshakes = -1;
    int requests = -1;
};

void ResetCounts() {
    HttpClient plain;
    const HttpResponse r = plain.Get(kHttp + u"/control/counts/reset");
    ASSERT_TRUE(r.ok) << r.statusCode << " " << r.error;
}

// What the service's TLS listener "ADDR:PORT" has seen since the reset
// (asked over plain HTTP, which counts nowhere).
ListenerCount CountsOf(const std::string& listener) {
    HttpClient plain;
    const HttpResponse r = plain.Get(kHttp + u"/control/counts");
    const nlohmann::json all = nlohmann::json::parse(r.body, nullptr, false);
    ListenerCount count;
    const std::string name = "https " + listener;
    if (all.is_discarded() || !all.contains(name)) return ListenerCount{0, 0};
    count.handshakes = all[name].value("handshakes", -1);
    count.requests = all[name].value("requests", -1);
    return count;
}

} // namespace

TEST(Connections, AStartsServiceRequestsShareOneVerifiedConnection) {
    ResetCounts();
    SetPins(DefaultPins());
    // What start-up asks, in its order: the pins (a client of their own),
    // the version, the link's content data and the version again.
    ASSERT_TRUE(LoadDynamicPins());
    CheckVersion(4.9, WString());
    std::string message;
    const ContentData content = GetContentData(kPlatform, "video-1", "pass", message);
    EXPECT_TRUE(content.succeeded) << message;
    CheckVersion(4.9, kPlatform);

    // The service counts a request once it has answered it: the last one's
    // count may come a moment after its answer.
    ListenerCount count = CountsOf("127.0.0.1:47443");
    for (int i = 0; i < 20 && count.requests < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        count = CountsOf("127.0.0.1:47443");
    }
#ifdef _WIN32
    // Wine's WinHTTP waits for the body a HEAD answer's Content-Length
    // announces, so the pre-flight's connection never goes back to the pool
    // and the next request opens a second one (Windows reads a HEAD answer
    // as bodiless). Every later request reuses a kept connection.
    EXPECT_LE(count.handshakes, 2);
#else
    EXPECT_EQ(count.handshakes, 1);
#endif
    // One pre-flight for the host, whichever client asked first, then the four requests.
    EXPECT_EQ(count.requests, 5);
}

// A YouTube content's page script runs in its pages and comes from the
// platform's host: it is fetched on the pin-checked connection the content
// data came over, never on one the system's trust alone let through (which
// a connection cache of its own, and a second handshake, would show).
TEST(Connections, APageScriptComesOverThePinCheckedConnection) {
    SetPins(DefaultPins());
    ResetCounts();
    PlayerContent = PlayerContentRecord{};
    std::string error;
    ASSERT_TRUE(ParseSchemeArgs(TestSupport::SealLink("p", "youtube-1", "https://127.0.0.1:47443"), error)) << error;
    EXPECT_NE(WideToUtf8(PlayerContent.pageScript).find("variant 2"), std::string::npos);
    const ListenerCount count = CountsOf("127.0.0.1:47443");
#ifdef _WIN32
    EXPECT_LE(count.handshakes, 2); // Wine's pre-flight keeps its connection (above)
#else
    EXPECT_EQ(count.handshakes, 1);
#endif
    // The pre-flight, the content data and the page script.
    EXPECT_EQ(count.requests, 3);
}

TEST(Connections, AConnectionTheServerClosedIsReopenedAndChecked) {
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient client;
    ResetCounts();
    ASSERT_TRUE(client.Get(kHost2 + u"/echo").ok);
    ASSERT_TRUE(client.Get(kHost2 + u"/echo").ok);
    const int kept = CountsOf("127.0.0.2:47443").handshakes;
#ifndef _WIN32
    EXPECT_EQ(kept, 1);
#endif
    // The service ends idle connections after 3 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(3600));
    const HttpResponse again = client.Get(kHost2 + u"/echo");
    EXPECT_TRUE(again.ok) << again.error;
    EXPECT_EQ(CountsOf("127.0.0.2:47443").handshakes, kept + 1);
    EXPECT_EQ(CountsOf("127.0.0.2:47443").requests, 4);
}

TEST(Connections, ANewConnectionThatShowsAnotherCertificateIsRefusedInItsHandshake) {
    // The listener shows the good chain on its first connection and a rogue
    // one on every later one, and closes each connection after one answer:
    // the pre-flight passes on the first, the request needs a second.
    ResetTraps();
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient client;
    ExpectRefused(client.Request(u"PUT", u"https://127.0.0.2:47447/echo", "secret=1", u"text/plain"),
                  "SSL Pin validation FAILED for 127.0.0.2");
    const std::vector<TrapConnection> seen = TrapConnections("127.0.0.2:47447", 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].chain, "good");
    EXPECT_EQ(seen[0].received.rfind("HEAD / ", 0), 0u) << seen[0].received;
    EXPECT_EQ(seen[0].received.find("secret"), std::string::npos);
    EXPECT_EQ(seen[1].chain, "rogue");
    EXPECT_EQ(seen[1].received, "");
}

// A connection that cannot be made is read as such, a refused certificate
// never; start-up's bound ends a silent wait, and every request after it
// fails at once.
TEST(Connections, UnreachableServersAreToldApartAndTheWaitIsBounded) {
    SetPins({Entry(u"127.0.0.2", AllPins(PinsOf("good")))});
    HttpClient client;
    const HttpResponse refused = client.Get(u"https://127.0.0.2:9/echo");
    EXPECT_EQ(refused.error, "Pre-flight SSL Pin validation FAILED for 127.0.0.2. MITM Attack Prevented!");
    EXPECT_TRUE(WasUnreachable(refused.error));
    const HttpResponse rogue = client.Get(kRogueHost2 + u"/echo");
    EXPECT_FALSE(rogue.ok);
    EXPECT_FALSE(WasUnreachable(rogue.error)) << rogue.error;

    TestSupport::SilentListener silent;
    ASSERT_FALSE(silent.Base().empty());
    BoundServiceWait(std::chrono::steady_clock::now() + std::chrono::milliseconds(1500));
    const auto started = std::chrono::steady_clock::now();
    HttpClient other;
    const HttpResponse silence = other.Get(Utf8ToWide(silent.Base()) + u"/echo");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    EXPECT_FALSE(silence.ok) << silence.error;
    EXPECT_TRUE(WasUnreachable(silence.error)) << "[" << silence.error << "]";
    const HttpResponse after = other.Get(kHost2 + u"/echo");
    EXPECT_EQ(after.error, OutOfTimeText());
    EXPECT_TRUE(WasUnreachable(after.error));
    ClearServiceWaitBound();
    EXPECT_TRUE(other.Get(kHost2 + u"/echo").ok);
}
