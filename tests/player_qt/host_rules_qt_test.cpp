// The Qt host's own decisions that need no page: switches, message decoding,
// header checks, error numbers, certificate overrides and input filtering.
#include <QDir>
#include <QKeyEvent>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QWebEngineCertificateError>
#include <QWheelEvent>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "browser_fixture.h"
#include "player/browser_environment_qt.h"
#include "player/browser_rules.h"
#include "player/certificate_trust_qt.h"
#include "player/input_guard_qt.h"
#include "player/request_interceptor_qt.h"
#include "player/user_data_qt.h"
#include "player/web_bridge_qt.h"
#include "player/web_error_status_qt.h"

namespace {

using namespace WebView;

QList<QSslCertificate> DevChain() {
    return QSslCertificate::fromData(BrowserTesting::ReadSourceFile("config/dev/service-chain.pem").toUtf8(), QSsl::Pem);
}
QSslCertificate DevRoot() {
    return QSslCertificate::fromData(BrowserTesting::ReadSourceFile("config/dev/root-ca.pem").toUtf8(), QSsl::Pem)
        .value(0);
}
std::string PinOf(const QSslCertificate& certificate) {
    return SpkiPin(ChainFromCertificates({certificate}).spkiDer.at(0));
}

constexpr int kAuthorityInvalid = QWebEngineCertificateError::CertificateAuthorityInvalid;

// The pin store is process-wide; every test leaves it empty.
class PinStoreGuard {
public:
    explicit PinStoreGuard(std::vector<PinEntry> pins) { SetPins(std::move(pins)); }
    ~PinStoreGuard() { SetPins({}); }
};

TEST(ChromiumFlags, DropsDevToolsSwitchesAndAddsDisableGpuOnce) {
    EXPECT_EQ(ComposeChromiumFlags("--a=1 --remote-debugging-port=9222", "  --b --remote-allow-origins=*  ", true),
              "--b --a=1 --disable-gpu");
    EXPECT_EQ(ComposeChromiumFlags("--disable-gpu", "", true), "--disable-gpu");
    EXPECT_EQ(ComposeChromiumFlags("", "--auto-open-devtools-for-tabs --remote-debugging-pipe", false), "");
    EXPECT_EQ(ComposeChromiumFlags("--x", "--x", false), "--x --x");
}

TEST(ChromiumFlags, AUsersSwitchesAreKeptAndGetTheirPlaceBack) {
    // Set by the test program before the application started; no browser
    // has started in this test's process yet.
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    EXPECT_TRUE(flags.startsWith("--inherited-switch --use-fake-device-for-media-stream")) << flags.constData();
    EXPECT_FALSE(flags.contains("remote-debugging")) << flags.constData();
    EXPECT_TRUE(flags.contains("--disable-gpu")) << flags.constData();
    EXPECT_TRUE(flags.endsWith(QByteArray::fromStdString(WideToUtf8(BrowserSwitches())) + " --disable-gpu"))
        << flags.constData();
    EXPECT_FALSE(qEnvironmentVariableIsSet("QTWEBENGINE_REMOTE_DEBUGGING"));
    // As root the engine cannot sandbox; any other user keeps the sandbox.
    EXPECT_EQ(qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"), geteuid() == 0);
    {
        const BrowserEngineStart engineStart;
        // While the engine starts, its https traffic is sent through the relay.
        EXPECT_TRUE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains(" --proxy-server=https=127.0.0.1:"));
    }
    // Once the engine has read them, programs the player starts see the user's
    // own switches and none of the player's engine settings.
    EXPECT_EQ(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), QByteArray("--inherited-switch --remote-debugging-port=9555"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
}

TEST(ChromiumFlags, ThisXvfbDisplayCountsAsWithoutGpu) {
    // The tests run on their own Xvfb.
    EXPECT_TRUE(DisplayLacksGpu());
    EXPECT_TRUE(BrowserHelperAvailable());
}

TEST(PostedMessages, OnlyJsonStringsAreMessages) {
    EXPECT_EQ(DecodePostedMessage(QStringLiteral("\"x\"")), QStringLiteral("x"));
    EXPECT_EQ(DecodePostedMessage(QStringLiteral("\"\\\"requestPrint\\\"\"")), QStringLiteral("\"requestPrint\""));
    EXPECT_EQ(DecodePostedMessage(QStringLiteral("\"\"")), QString());
    EXPECT_EQ(DecodePostedMessage(QStringLiteral("\"\\u0627\"")), QString(QChar(0x0627)));
    for (const char* bad : {"{\"a\":1}", "42", "null", "[\"x\"]", "", "x", "\"x\"]", "\"x\",\"y\"", "\"x\"],[\"y\"",
                            "\"unterminated", "true"}) {
        EXPECT_FALSE(DecodePostedMessage(QString::fromUtf8(bad)).has_value()) << bad;
    }
}

TEST(RequestHeaders, NamesAreTokensAndValuesStayOnOneLine) {
    EXPECT_TRUE(IsValidHeaderName(u"X-Device-Id"));
    EXPECT_TRUE(IsValidHeaderName(u"Referer"));
    for (const WString bad : {WString(), WString(u"Bad Name"), WString(u"a:b"), WString(u"a\r\nb"),
                              WString(u"\u00e9"), WString(300, u'a')})
        EXPECT_FALSE(IsValidHeaderName(bad));
    EXPECT_TRUE(IsValidHeaderValue(u"https://127.0.0.1:47443"));
    EXPECT_TRUE(IsValidHeaderValue(u""));
    EXPECT_FALSE(IsValidHeaderValue(u"a\r\nInjected: 1"));
    EXPECT_FALSE(IsValidHeaderValue(u"a\nb"));
    EXPECT_FALSE(IsValidHeaderValue(WString(u"a\0b", 3)));
}

TEST(WebErrors, FailuresNeverReportZero) {
    using D = QWebEngineLoadingInfo;
    EXPECT_EQ(WebErrorStatusFor(D::DnsErrorDomain, -105), WebErrorStatus::kHostNameNotResolved);
    EXPECT_EQ(WebErrorStatusFor(D::ConnectionErrorDomain, -102), WebErrorStatus::kCannotConnect);
    EXPECT_EQ(WebErrorStatusFor(D::ConnectionErrorDomain, -118), WebErrorStatus::kTimeout);
    EXPECT_EQ(WebErrorStatusFor(D::CertificateErrorDomain, -200), WebErrorStatus::kCertificateCommonNameIsIncorrect);
    EXPECT_EQ(WebErrorStatusFor(D::CertificateErrorDomain, -201), WebErrorStatus::kCertificateExpired);
    EXPECT_EQ(WebErrorStatusFor(D::CertificateErrorDomain, -202), WebErrorStatus::kCertificateIsInvalid);
    EXPECT_EQ(WebErrorStatusFor(D::InternalErrorDomain, -3), WebErrorStatus::kOperationCanceled);
    EXPECT_EQ(WebErrorStatusFor(D::HttpStatusCodeDomain, 401), WebErrorStatus::kValidAuthenticationCredentialsRequired);
    EXPECT_EQ(WebErrorStatusFor(D::HttpStatusCodeDomain, 404), WebErrorStatus::kUnexpectedError);
    for (int code : {0, 1, -1, -20, -99999, 12345})
        for (D::ErrorDomain domain : {D::NoErrorDomain, D::InternalErrorDomain, D::HttpErrorDomain, D::FtpErrorDomain})
            EXPECT_NE(WebErrorStatusFor(domain, code), 0) << code;
}

TEST(CertificateOverrides, DevChainLeadsToTheProfileAnchorForItsOwnNames) {
    const QList<QSslCertificate> chain = DevChain();
    ASSERT_EQ(chain.size(), 2);
    EXPECT_TRUE(ChainEndsAtExtraAnchor(chain, QStringLiteral("127.0.0.1")));
    EXPECT_TRUE(ChainEndsAtExtraAnchor(chain, QStringLiteral("127.0.0.6")));
    EXPECT_TRUE(ChainEndsAtExtraAnchor(chain, QStringLiteral("localhost")));
    EXPECT_TRUE(ChainEndsAtExtraAnchor({chain[0], chain[1], DevRoot()}, QStringLiteral("127.0.0.1")));
    // Not its names, not a complete path, not a server certificate.
    EXPECT_FALSE(ChainEndsAtExtraAnchor(chain, QStringLiteral("127.0.0.9")));
    EXPECT_FALSE(ChainEndsAtExtraAnchor(chain, QStringLiteral("example.com")));
    EXPECT_FALSE(ChainEndsAtExtraAnchor({chain[0]}, QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(ChainEndsAtExtraAnchor({chain[1]}, QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(ChainEndsAtExtraAnchor({}, QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(ChainEndsAtExtraAnchor({QSslCertificate()}, QStringLiteral("127.0.0.1")));
}

TEST(CertificateOverrides, UnpinnedHostsNeedTheAnchorAndOnlyForAMissingRoot) {
    PinStoreGuard pins({});
    const QList<QSslCertificate> chain = DevChain();
    const QUrl url(QStringLiteral("https://127.0.0.1:47443/x"));
    EXPECT_TRUE(ShouldAcceptCertificateError(url, kAuthorityInvalid, chain));
    EXPECT_FALSE(ShouldAcceptCertificateError(url, QWebEngineCertificateError::CertificateDateInvalid, chain));
    EXPECT_FALSE(ShouldAcceptCertificateError(url, QWebEngineCertificateError::CertificateCommonNameInvalid, chain));
    EXPECT_FALSE(ShouldAcceptCertificateError(QUrl(QStringLiteral("https://10.1.2.3/")), kAuthorityInvalid, chain));
    EXPECT_FALSE(ShouldAcceptCertificateError(QUrl(QStringLiteral("data:text/html,x")), kAuthorityInvalid, chain));
}

// The browser meets a pinned host only through the relay, so a chain it
// presented directly did not come over a checked connection: refused even
// when it carries the pins and leads to the anchor.
TEST(CertificateOverrides, APinnedHostsOwnChainIsNeverTakenForTheRelays) {
    const QList<QSslCertificate> chain = DevChain();
    PinStoreGuard pins({PinEntry{u"127.0.0.1", {PinOf(chain[1]), PinOf(DevRoot())}}});
    EXPECT_FALSE(ShouldAcceptCertificateError(QUrl(QStringLiteral("https://127.0.0.1:47443/x")), kAuthorityInvalid, chain));
    EXPECT_FALSE(ShouldAcceptCertificateError(QUrl(QStringLiteral("https://a.127.0.0.1/x")), kAuthorityInvalid, chain));
}

TEST(InputFilter, ZoomGesturesAndForeignDropsAreBlocked) {
    const QPointF at(10, 10);
    QWheelEvent ctrlWheel(at, at, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QWheelEvent plainWheel(at, at, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    EXPECT_TRUE(InputGuard::Blocks(&ctrlWheel, true));
    EXPECT_FALSE(InputGuard::Blocks(&ctrlWheel, false));
    EXPECT_FALSE(InputGuard::Blocks(&plainWheel, true));
    // Keys are the page's own: Qt WebEngine binds no zoom or browser keys.
    for (int key : {int(Qt::Key_Plus), int(Qt::Key_0), int(Qt::Key_P), int(Qt::Key_S)}) {
        QKeyEvent withCtrl(QEvent::KeyPress, key, Qt::ControlModifier);
        EXPECT_FALSE(InputGuard::Blocks(&withCtrl, true)) << key;
    }
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at, at, 0.5,
                              QPointF());
    EXPECT_TRUE(InputGuard::Blocks(&pinch, true));
    EXPECT_FALSE(InputGuard::Blocks(&pinch, false));
    QMimeData data;
    QDropEvent foreignDrop(at, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    // Foreign drops are refused from the start, production or not.
    EXPECT_TRUE(InputGuard::Blocks(&foreignDrop, false));
}

TEST(UserData, FolderIsUnderTheUsersDataLocationAndItsParentExists) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    const WString folder = UserDataFolder();
    if (saved.isEmpty()) qunsetenv("XDG_DATA_HOME");
    else qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(QString::fromStdU16String(folder), home.path() + QStringLiteral("/Tovani/WebView2Data"));
    EXPECT_TRUE(QDir(home.path() + QStringLiteral("/Tovani")).exists());
    // The browser makes the folder itself.
    EXPECT_FALSE(QDir(QString::fromStdU16String(folder)).exists());
}

} // namespace
