#include "browser_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include "player/browser_page_qt.h"
#include "player/webview_host_qt.h"

namespace BrowserTesting {

WString DevUrl(const std::string& path) { return Utf8ToWide("https://127.0.0.1:47443" + path); }

QString ReadSourceFile(const std::string& relativePath) {
    QFile file(QString::fromStdString(std::string(TOVANI_TEST_SOURCE_DIR) + "/" + relativePath));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
}

void BrowserTest::SetUp() {
    ASSERT_TRUE(dataDir.isValid());
    window = std::make_unique<QWidget>();
    window->resize(800, 600);
    window->show();
    NewHost();
}

void BrowserTest::NewHost() {
    host = std::make_unique<WebView::WebViewHost>();
    host->onReady = [this](bool ok) { readyCalls.push_back(ok); };
    host->onWebMessage = [this](const WString& m) { messages.push_back(m); };
    host->onNavigationStarting = [this](const WString& uri, bool& cancel) {
        navigationsStarting.push_back(uri);
        if (cancelNavigation && cancelNavigation(uri)) cancel = true;
    };
    host->onNavigationCompleted = [this](bool ok, int status) { completions.emplace_back(ok, status); };
    host->onWebResourceRequested = [this](const WString& uri, WebView::ResourceRequest& request) {
        requests.push_back(uri);
        if (onRequest) onRequest(uri, request);
    };
}

void BrowserTest::TearDown() {
    host.reset();
    window.reset();
    Pump(50);
}

bool BrowserTest::Start() {
    const bool ok = host->Initialize(window.get(), (dataDir.path() + QStringLiteral("/WebView2Data")).toStdU16String(), 3);
    if (ok) {
        WebView::PageOf(*host)->onConsoleMessage = [](const QString& message, int line, const QString& source) {
            std::fprintf(stderr, "console: %s (%s:%d)\n", message.toUtf8().constData(),
                         source.left(80).toUtf8().constData(), line);
        };
    }
    return ok;
}

bool BrowserTest::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void BrowserTest::Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QVariant BrowserTest::RunJs(const QString& script, int timeoutMs) {
    WebView::BrowserPage* page = WebView::PageOf(*host);
    if (page == nullptr) return QVariant();
    auto done = std::make_shared<bool>(false);
    auto value = std::make_shared<QVariant>();
    page->runJavaScript(script, 0, [done, value](const QVariant& v) {
        *value = v;
        *done = true;
    });
    WaitFor([&] { return *done; }, timeoutMs);
    return *value;
}

bool BrowserTest::NavigateAndWait(const std::function<void()>& navigate, int timeoutMs) {
    const std::size_t before = completions.size();
    navigate();
    if (!WaitFor([&] { return completions.size() > before; }, timeoutMs)) return false;
    return completions.back().first;
}

bool BrowserTest::DevServiceUp() {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 47443);
    return socket.waitForConnected(2000);
}

} // namespace BrowserTesting
