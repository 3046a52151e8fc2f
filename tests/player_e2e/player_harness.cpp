#include "tests/player_e2e/player_harness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "links/player_content.h"
#include "links/scheme_link.h"
#include "player/printer_dialog_qt.h"
#include "player/webview_host_qt.h"
#include "service/pins.h"
#include "tests/support/test_support.h"

namespace PlayerTesting {

void PlayerTest::SetUp() {
    PlayerContent = PlayerContentRecord{};
    SetPins(DefaultPins());
    LoadDynamicPins();
}

void PlayerTest::TearDown() {
    if (player) {
        player->hide();
        player.reset();
    }
    Pump(100);
}

bool PlayerTest::OpenContent(const std::string& content, const std::string& domain) {
    const WString link = TestSupport::SealLink("learner-e2e", content, domain);
    std::string error;
    if (!ParseSchemeArgs(link, error)) {
        ADD_FAILURE() << "link rejected: " << error;
        return false;
    }
    player = std::make_unique<PlayerWindow>();
    player->show();
    return player->CreateBrowser();
}

bool PlayerTest::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void PlayerTest::Pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QVariant PlayerTest::RunJs(const QString& script, int timeoutMs) {
    QWebEngineView* view = WebView::ViewOf(*player->Host());
    if (view == nullptr) return {};
    bool done = false;
    QVariant value;
    view->page()->runJavaScript(script, [&](const QVariant& v) {
        value = v;
        done = true;
    });
    WaitFor([&] { return done; }, timeoutMs);
    return value;
}

void PlayerTest::ListenForPlayerMessages() {
    RunJs(QStringLiteral("window.__tovaniResults = window.__tovaniResults || [];"
                         "window.chrome.webview.addEventListener('message', function(e) {"
                         "  window.__tovaniResults.push(JSON.stringify(e.data)); }); true;"));
}

QString PlayerTest::PlayerMessages() {
    return RunJs(QStringLiteral("(window.__tovaniResults || []).join('\\n')")).toString();
}

void PlayerTest::Screenshot(const std::string& name, QWidget* window) {
    if (window == nullptr) window = player.get();
    ASSERT_NE(window, nullptr);
    QDir().mkpath(QStringLiteral(TOVANI_ARTIFACT_DIR));
    const QString path = QStringLiteral(TOVANI_ARTIFACT_DIR) + QLatin1Char('/') + QString::fromStdString(name) + ".png";
    EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
}

pid_t StartPlayerProgram(const std::string& link, const std::string& logPath) {
    const std::string program = std::string(TOVANI_BIN_DIR) + "/tovani";
    const pid_t pid = fork();
    if (pid != 0) return pid;
    freopen(logPath.c_str(), "w", stderr);
    execl(program.c_str(), program.c_str(), link.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

pid_t StartPlayerProgram(const std::string& link, const std::string& logPath,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
    const std::string program = std::string(TOVANI_BIN_DIR) + "/tovani";
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (const auto& [name, value] : environment) {
        if (value.empty()) unsetenv(name.c_str());
        else setenv(name.c_str(), value.c_str(), 1);
    }
    freopen(logPath.c_str(), "w", stderr);
    if (link.empty()) execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    else execl(program.c_str(), program.c_str(), link.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

bool OnWayland() {
    const char* chosen = std::getenv("TOVANI_TEST_DISPLAY");
    return chosen != nullptr && std::string(chosen) == "wayland";
}

void AnswerPrinterDialog(const QString& printerName, QStringList* seen) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, [poll, printerName, seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<PrinterChoiceDialog*>(widget);
            if (dialog == nullptr || !dialog->isVisible()) continue;
            poll->stop();
            poll->deleteLater();
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("printerList"));
            if (seen != nullptr && list != nullptr) {
                for (int i = 0; i < list->count(); ++i) seen->push_back(list->item(i)->text());
            }
            int row = -1;
            for (int i = 0; list != nullptr && i < list->count(); ++i) {
                if (!printerName.isEmpty() && list->item(i)->text().startsWith(printerName)) row = i;
            }
            if (row < 0) {
                // Nothing to choose (or the printer is missing): close it, so the
                // test fails on the outcome instead of waiting on a modal dialog.
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(dialog, &escape);
                return;
            }
            list->setCurrentRow(row);
            dialog->findChild<QPushButton*>(QStringLiteral("printButton"))->click();
            return;
        }
    });
    poll->start();
}


namespace {
void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
} // namespace

void PressKeys(QWidget* window, const std::vector<std::string>& keys) {
    const std::string id = std::to_string(window->winId());
    TestSupport::RunProcess("/usr/bin/xdotool", {"windowfocus", "--sync", id});
    PumpEvents(200);
    for (const std::string& key : keys) {
        TestSupport::RunProcess("/usr/bin/xdotool", {"key", key});
        PumpEvents(300);
    }
}

void PointerTo(const QPoint& global, int clicks) {
    TestSupport::RunProcess("/usr/bin/xdotool",
                            {"mousemove", std::to_string(global.x()), std::to_string(global.y())});
    PumpEvents(100);
    if (clicks > 0)
        TestSupport::RunProcess("/usr/bin/xdotool",
                                {"click", "--repeat", std::to_string(clicks), "--delay", "80", "1"});
}

StderrCapture::StderrCapture() {
    char name[] = "/tmp/tovani-stderr-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    path_ = name;
    std::fflush(stderr);
    saved_ = dup(2);
    dup2(fd, 2);
    close(fd);
}

StderrCapture::~StderrCapture() { Text(); }

std::string StderrCapture::Text() {
    if (saved_ < 0) return std::string();
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::string text = TestSupport::ReadFile(path_);
    std::remove(path_.c_str());
    // What the player logged stays visible in the test's output.
    std::fwrite(text.data(), 1, text.size(), stderr);
    return text;
}

} // namespace PlayerTesting
