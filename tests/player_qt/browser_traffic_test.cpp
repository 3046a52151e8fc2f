// What the host does to the page's traffic, seen from the development
// service: headers on navigations and resources, certificate decisions and
// the pin check of every HTTPS host.
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <chrono>

#include <gmock/gmock.h>

#include "browser_fixture.h"
#include "player/browser_rules.h"
#include "player/certificate_trust_qt.h"
#include "player/web_error_status_qt.h"
#include "player/webview_host_qt.h"
#include "service/device_identity.h"
#include "tests/service/service_test_env.h"

using BrowserTesting::BrowserTest;
using BrowserTesting::DevUrl;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The pins of the committed dev chain (leaf and intermediate).
std::vector<std::string> GoodPins() {
    const QList<QSslCertificate> chain = QSslCertificate::fromData(
        BrowserTesting::ReadSourceFile("config/dev/service-chain.pem").toUtf8(), QSsl::Pem);
    std::vector<std::string> pins;
    for (const std::string& spki : WebView::ChainFromCertificates(chain).spkiDer) pins.push_back(SpkiPin(spki));
    return pins;
}

class BrowserTrafficTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        ASSERT_TRUE(DevServiceUp());
        SetPins({});
        // The relay reports from a thread of its own.
        WebView::SetTrafficChecks(*host, WebView::TrafficChecks{[this](const WString& h) {
                                      QMetaObject::invokeMethod(qApp, [this, h] { blockedHosts.push_back(h); },
                                                                Qt::QueuedConnection);
                                  }});
    }
    void TearDown() override {
        BrowserTest::TearDown();
        SetPins({});
    }
    // The request headers the /echo page shows, lower-cased names.
    QJsonObject EchoedHeaders() {
        const QString text = RunJs(QStringLiteral("document.body ? document.body.innerText : ''")).toString();
        return QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("headers")).toObject();
    }
    static QString Q(const WString& text) { return QString::fromStdU16String(text); }

    std::vector<WString> blockedHosts;
};

TEST_F(BrowserTrafficTest, NavigateToAddsIdentityHeadersForMarkedAddresses) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/echo?n=1")); }));
    const QJsonObject headers = EchoedHeaders();
    const HeaderPair client = ClientHeader();
    EXPECT_EQ(headers.value(Q(ToLowerCopy(client.name))).toString(), Q(client.value));
    const WString identity = GetDeviceIdentity();
    const WString description = GetDeviceDescription();
    ASSERT_FALSE(description.empty());
    // The navigation carries all four identity headers.
    const std::optional<std::vector<HeaderPair>> expectedHeaders = NavigationHeaders(DevUrl("/echo?n=1"), identity, description);
    ASSERT_TRUE(expectedHeaders.has_value());
    for (const HeaderPair& expected : *expectedHeaders) {
        EXPECT_EQ(headers.value(Q(ToLowerCopy(expected.name))).toString(), Q(expected.value))
            << WideToUtf8(expected.name);
    }
}

TEST_F(BrowserTrafficTest, EveryRequestGetsTheClientHeaderAndUnmarkedOnesNoIdentity) {
    ASSERT_TRUE(Start());
    // 127.0.0.2 carries no header-selection marker.
    ASSERT_TRUE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47443/echo"); }));
    const QJsonObject headers = EchoedHeaders();
    EXPECT_EQ(headers.value(Q(ToLowerCopy(ClientHeader().name))).toString(), Q(ClientHeader().value));
    const std::optional<std::vector<HeaderPair>> identityHeaders = NavigationHeaders(DevUrl("/"), u"id", u"description");
    ASSERT_TRUE(identityHeaders.has_value());
    for (const HeaderPair& identityHeader : *identityHeaders) {
        if (identityHeader.name == ClientHeader().name) continue;
        EXPECT_FALSE(headers.contains(Q(ToLowerCopy(identityHeader.name)))) << WideToUtf8(identityHeader.name);
    }
    EXPECT_THAT(requests, Contains(u"https://127.0.0.2:47443/echo"));
}

// A page on an outside host asks for its own addresses dressed up with the
// platform's markers in the query, the fragment and the path: the outside
// host sees the client header and nothing of the machine's identity. The
// platform's own page, asking the same, does get it.
TEST_F(BrowserTrafficTest, AHostilePageCannotSendTheIdentityElsewhere) {
    ASSERT_TRUE(Start());
    const std::optional<std::vector<HeaderPair>> identity = NavigationHeaders(DevUrl("/"), u"i", u"d");
    ASSERT_TRUE(identity.has_value());
    const auto echoOf = [&](const QString& path) {
        RunJs(QStringLiteral("window.__echo = ''; fetch('%1').then(r => r.text()).then(t => window.__echo = t); true")
                  .arg(path));
        WaitFor([&] { return !RunJs(QStringLiteral("window.__echo")).toString().isEmpty(); });
        return QJsonDocument::fromJson(RunJs(QStringLiteral("window.__echo")).toString().toUtf8())
            .object()
            .value(QStringLiteral("headers"))
            .toObject();
    };
    const QStringList paths = {
        QStringLiteral("/echo/x?api.tovani.test"),     QStringLiteral("/echo/x?u=https://127.0.0.1:47443/"),
        QStringLiteral("/echo/x#api.tovani.test"),     QStringLiteral("/echo/media/x.png"),
        QStringLiteral("/echo/lesson/video"),          QStringLiteral("/echo/api/player/progress"),
        QStringLiteral("/echo/media/x.png?127.0.0.1:47443")};

    ASSERT_TRUE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47443/media/page.html"); }));
    for (const QString& path : paths) {
        const QJsonObject headers = echoOf(path);
        ASSERT_FALSE(headers.isEmpty()) << path.toStdString();
        EXPECT_EQ(headers.value(Q(ToLowerCopy(ClientHeader().name))).toString(), Q(ClientHeader().value));
        for (const HeaderPair& header : *identity) {
            if (header.name == ClientHeader().name) continue;
            EXPECT_FALSE(headers.contains(Q(ToLowerCopy(header.name)))) << path.toStdString() << " " << WideToUtf8(header.name);
        }
    }

    // The same requests from the platform's own page reach the platform with its identity.
    ASSERT_TRUE(NavigateAndWait([&] { host->Navigate(DevUrl("/media/page.html")); }));
    const QJsonObject own = echoOf(QStringLiteral("/echo/media/x.png"));
    for (const HeaderPair& header : ResourceIdentityHeaders(DevUrl("/echo/media/x.png"), GetDeviceIdentity(), GetDeviceDescription()))
        EXPECT_EQ(own.value(Q(ToLowerCopy(header.name))).toString(), Q(header.value)) << WideToUtf8(header.name);
    EXPECT_FALSE(GetDeviceDescription().empty());
}

// A page asks for images on storage buckets and CDN zones under the allowed
// providers' suffixes, names anyone can rent: none of them receives the
// machine's identity, on video paths or any other. The platform's own domain
// and the product's video domain still get the video identity. The names lead
// to the service's recording listener, which keeps each request as it arrived.
TEST_F(BrowserTrafficTest, StorageBucketsUnderProviderSuffixesGetNoIdentity) {
    ASSERT_TRUE(Start());
    ServiceTest::ResetTraps();
    const std::vector<std::string> hosts = {"their-bucket.s3.amazonaws.com", "d111111abcdef8.cloudfront.net",
                                            "theirs.blob.core.windows.net",  "theirs.nyc3.digitaloceanspaces.com",
                                            "s3.wasabisys.com",              "theirs.akamaized.net",
                                            "vz-1.b-cdn.net",                "media.tovani-cdn.test",
                                            "stream.tovanivideo.test"};
    const auto addressOn = [](const std::string& host) {
        return "https://" + host + ":47449" + (host.rfind("stream.", 0) == 0 ? "/lesson/video" : "/media/x.png");
    };
    ASSERT_TRUE(NavigateAndWait([&] { host->Navigate(DevUrl("/media/page.html")); }));
    for (const std::string& name : hosts) RunJs(QString::fromStdString("new Image().src = '" + addressOn(name) + "'; true"));

    // What arrived, by the host it was meant for.
    std::map<std::string, std::string> arrived;
    WaitFor([&] {
        for (const ServiceTest::TrapConnection& c : ServiceTest::TrapConnections("127.0.0.6:47449", 0)) {
            std::string lower = c.received;
            for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            const std::size_t at = lower.find("\r\nhost: ");
            if (at != std::string::npos) arrived[lower.substr(at + 8, lower.find(':', at + 8) - at - 8)] = lower;
        }
        return arrived.size() >= hosts.size();
    });
    const WString identity = GetDeviceIdentity(), description = GetDeviceDescription();
    ASSERT_FALSE(description.empty());
    const std::optional<std::vector<HeaderPair>> all = NavigationHeaders(DevUrl("/"), identity, description);
    ASSERT_TRUE(all.has_value());
    for (const std::string& name : hosts) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(arrived.count(name)) << "nothing arrived for " << addressOn(name);
        const std::string& request = arrived[name];
        EXPECT_NE(request.find("\r\n" + WideToUtf8(ToLowerCopy(ClientHeader().name)) + ": "), std::string::npos) << request;
        const std::vector<HeaderPair> expected = ResourceIdentityHeaders(Utf8ToWide(addressOn(name)), identity, description);
        const bool own = name.find("tovani") != std::string::npos;
        EXPECT_EQ(expected.empty(), !own);
        for (const HeaderPair& header : *all) {
            if (header.name == ClientHeader().name) continue;
            const std::string line = "\r\n" + WideToUtf8(ToLowerCopy(header.name)) + ": ";
            const bool sent = std::find(expected.begin(), expected.end(), header) != expected.end();
            EXPECT_EQ(request.find(line) != std::string::npos, sent) << WideToUtf8(header.name) << "\n" << request;
            if (sent) EXPECT_NE(request.find(line + WideToUtf8(ToLowerCopy(header.value))), std::string::npos) << request;
        }
    }
}

TEST_F(BrowserTrafficTest, OwnerCallbackSetsHeadersOnPageRequestsButCannotBreakThem) {
    onRequest = [](const WString& uri, WebView::ResourceRequest& request) {
        if (!Contains(uri, u"/echo")) return;
        request.SetHeader(u"X-Test", u"from-callback");
        request.SetHeader(u"Referer", u"https://referer.example/");
        request.SetHeader(u"X-Split", u"a\r\nInjected: 1");
        request.SetHeader(u"Bad Name", u"x");
    };
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/page.html")); }));
    // A resource request of the page, not a navigation.
    RunJs(QStringLiteral("fetch('/echo/sub').then(r => r.text()).then(t => window.__echo = t)"));
    ASSERT_TRUE(WaitFor([&] { return !RunJs(QStringLiteral("window.__echo || ''")).toString().isEmpty(); }));
    EXPECT_THAT(requests, Contains(DevUrl("/echo/sub")));
    const QJsonObject headers = QJsonDocument::fromJson(RunJs(QStringLiteral("window.__echo")).toString().toUtf8())
                                    .object()
                                    .value(QStringLiteral("headers"))
                                    .toObject();
    EXPECT_EQ(headers.value(QStringLiteral("x-test")).toString(), QStringLiteral("from-callback"));
    EXPECT_EQ(headers.value(Q(ToLowerCopy(ClientHeader().name))).toString(), Q(ClientHeader().value));
    EXPECT_EQ(headers.value(QStringLiteral("referer")).toString(), QStringLiteral("https://referer.example/"));
    EXPECT_FALSE(headers.contains(QStringLiteral("x-split")));
    EXPECT_FALSE(headers.contains(QStringLiteral("injected")));
}

TEST_F(BrowserTrafficTest, UntrustedCertificatesFailTheNavigation) {
    ASSERT_TRUE(Start());
    // Self-signed, expired, sent without its intermediate, and a foreign root.
    for (const char* address : {"https://127.0.0.3:47443/echo", "https://127.0.0.4:47443/echo",
                                "https://127.0.0.5:47443/echo", "https://127.0.0.1:47444/echo"}) {
        EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(Utf8ToWide(address)); })) << address;
        EXPECT_NE(completions.back().second, 0) << address;
    }
    // The dev chain leads to the profile's anchor: accepted.
    EXPECT_TRUE(NavigateAndWait([&] { host->Navigate(DevUrl("/echo")); }));
    EXPECT_EQ(completions.back().second, 0);
    EXPECT_THAT(blockedHosts, IsEmpty());
}

// The browser reaches a pinned host through the relay, which checks each of
// its connections: the genuine server is reached, a rogue one on another
// port is refused and reported, every time it is asked, whatever the
// address's user info says, and the page's own request never reaches it.
TEST_F(BrowserTrafficTest, APinnedHostIsReachedOnlyOverAConnectionCheckedAgainstItsPins) {
    SetPins({PinEntry{u"127.0.0.2", GoodPins()}});
    ASSERT_TRUE(Start());
    EXPECT_TRUE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47443/echo"); }));
    EXPECT_EQ(EchoedHeaders().value(Q(ToLowerCopy(ClientHeader().name))).toString(), Q(ClientHeader().value));
    EXPECT_THAT(blockedHosts, IsEmpty());
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47445/echo"); }));
    EXPECT_NE(completions.back().second, 0);
    ASSERT_TRUE(WaitFor([&] { return !blockedHosts.empty(); }));
    EXPECT_THAT(blockedHosts, Each(WString(u"127.0.0.2")));
    // Nothing is remembered: the next connection is checked again.
    const std::size_t before = blockedHosts.size();
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(u"https://user@127.0.0.2:47445/echo?again"); }));
    EXPECT_TRUE(WaitFor([&] { return blockedHosts.size() > before; }));
    // The genuine server still passes, on connections of its own.
    EXPECT_TRUE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47443/echo?after"); }));
    // Plain HTTP is never host-checked.
    SetPins({PinEntry{u"127.0.0.1", {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="}}});
    EXPECT_TRUE(NavigateAndWait([&] { host->Navigate(u"http://127.0.0.1:47480/echo"); }));
}

// The forged leaf names the genuine intermediate and is sent with it, but the
// intermediate never signed it: the intermediate's and root's pins prove nothing.
TEST_F(BrowserTrafficTest, AForgedChainForAPinnedHostIsRefused) {
    const std::vector<std::string> good = GoodPins();
    ASSERT_GE(good.size(), 2u);
    SetPins({PinEntry{u"127.0.0.2", {good.begin() + 1, good.end()}}});
    ASSERT_TRUE(Start());
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.2:47446/page"); }));
    ASSERT_TRUE(WaitFor([&] { return !blockedHosts.empty(); }));
    // A sub-resource of a genuine page is refused the same way.
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/page.html")); }));
    const std::size_t before = blockedHosts.size();
    RunJs(QStringLiteral("fetch('https://127.0.0.2:47446/sub').then(() => window.__got = 'loaded', "
                         "() => window.__got = 'failed')"));
    ASSERT_TRUE(WaitFor([&] { return !RunJs(QStringLiteral("window.__got || ''")).toString().isEmpty(); }));
    EXPECT_EQ(RunJs(QStringLiteral("window.__got")).toString(), QStringLiteral("failed"));
    EXPECT_TRUE(WaitFor([&] { return blockedHosts.size() > before; }));
    EXPECT_THAT(blockedHosts, Each(WString(u"127.0.0.2")));
    const QList<QSslCertificate> forged = QSslCertificate::fromPath(
        qEnvironmentVariable("TOVANI_TEST_STATE") + QStringLiteral("/certs/forged/chain.pem"));
    ASSERT_EQ(forged.size(), 2);
    EXPECT_EQ(WebView::ChainFromCertificates(forged).spkiDer.size(), 1u) << "no link above the forged leaf counts";
}

// A pinned host that takes the connection and never finishes the handshake:
// the window keeps painting, the server never gets a request byte (only the
// relay's hello), nothing is reported, and the next request tries a
// connection of its own.
TEST_F(BrowserTrafficTest, ASilentPinnedHostNeitherFreezesTheWindowNorPassesUnchecked) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress(QStringLiteral("127.0.0.7")), 0));
    std::vector<std::unique_ptr<QTcpSocket>> held; // accepted, never answered
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection()) held.emplace_back(socket);
    });
    SetPins({PinEntry{u"127.0.0.7", GoodPins()}});
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateTo(DevUrl("/media/page.html")); }));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);
    const QString address = QStringLiteral("https://127.0.0.7:%1/x").arg(silent.serverPort());
    RunJs(QStringLiteral("fetch('%1').catch(() => 0); true").arg(address));
    ASSERT_TRUE(WaitFor([&] { return held.size() == 1; }, 15000));
    EXPECT_TRUE(WaitFor([&] { return ticks >= 40; }, 5000)) << "the window did not run while the relay waited";
    for (const auto& socket : held) {
        const QByteArray hello = socket->readAll();
        ASSERT_FALSE(hello.isEmpty());
        EXPECT_EQ(static_cast<unsigned char>(hello[0]), 0x16) << "only a handshake reached the host";
        EXPECT_FALSE(hello.contains("GET ")) << hello.toStdString();
    }
    RunJs(QStringLiteral("fetch('%1?again').catch(() => 0); true").arg(address));
    EXPECT_TRUE(WaitFor([&] { return held.size() >= 2; }, 15000));
    EXPECT_THAT(blockedHosts, IsEmpty()) << "no chain was seen, so none was refused";
}

// Nothing answers where a pinned host should be: the navigation fails and no
// interception is reported.
TEST_F(BrowserTrafficTest, AnUnreachablePinnedHostIsNotLetThroughUnchecked) {
    SetPins({PinEntry{u"127.0.0.6", GoodPins()}});
    ASSERT_TRUE(Start());
    EXPECT_FALSE(NavigateAndWait([&] { host->Navigate(u"https://127.0.0.6:47443/echo"); }));
    EXPECT_NE(completions.back().second, 0);
    EXPECT_THAT(blockedHosts, IsEmpty());
}

} // namespace
