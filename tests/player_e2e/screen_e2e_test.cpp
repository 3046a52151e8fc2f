// The player on the display it is given: an X display or a Wayland
// compositor (with_weston.sh), neither when none answers, and windows that
// fit a small or scaled screen framed by a window manager (with_small_screen.sh).
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "app/init_screen_qt.h"
#include "player/webview_host_qt.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Every process below pid (the browser's helpers of a player).
std::vector<pid_t> Descendants(pid_t root) {
    std::map<pid_t, pid_t> parents;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size()) continue;
        parents[std::atoi(name.c_str())] = std::atoi(stat.c_str() + close + 4);
    }
    std::vector<pid_t> out;
    for (const auto& [pid, parent] : parents) {
        for (pid_t p = parent; p > 1 && parents.count(p) != 0; p = parents[p])
            if (p == root) {
                out.push_back(pid);
                break;
            }
    }
    return out;
}

// Ends the player and its helpers, by their pids.
void EndPlayer(pid_t player) {
    const std::vector<pid_t> helpers = Descendants(player);
    kill(player, SIGTERM);
    for (int i = 0; i < 100 && waitpid(player, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(player, SIGKILL);
    waitpid(player, nullptr, 0);
    for (const pid_t pid : helpers) kill(pid, SIGKILL);
}

// The window with its frame, in the X server's pixels: x, y, width, height.
std::vector<int> FrameOnScreen(WId window) {
    const std::string info = TestSupport::RunProcess("/usr/bin/xwininfo", {"-frame", "-id", std::to_string(window)}).out;
    std::vector<int> out;
    for (const char* key : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
        const std::size_t at = info.find(key);
        if (at == std::string::npos) return {};
        out.push_back(std::atoi(info.c_str() + at + std::strlen(key)));
    }
    return out;
}

// The frame the window manager put around the window: left, right, top, bottom.
std::string FrameExtents(WId window) {
    return TestSupport::RunProcess("/usr/bin/xprop", {"-id", std::to_string(window), "_NET_FRAME_EXTENTS"}).out;
}

std::pair<int, int> ScreenSize() {
    const std::string size = std::getenv("TOVANI_TEST_SCREEN");
    return {std::atoi(size.c_str()), std::atoi(size.c_str() + size.find('x') + 1)};
}

bool FitsTheScreen(WId window, std::string* seen) {
    const std::vector<int> frame = FrameOnScreen(window);
    const auto [width, height] = ScreenSize();
    std::ostringstream text;
    for (const int v : frame) text << v << ' ';
    text << "on " << width << 'x' << height << ", extents " << FrameExtents(window);
    *seen = text.str();
    return frame.size() == 4 && frame[0] >= 0 && frame[1] >= 0 && frame[0] + frame[2] <= width &&
           frame[1] + frame[3] <= height;
}

bool Framed(WId window) {
    const std::string extents = FrameExtents(window);
    return extents.find(" = ") != std::string::npos && extents.find("= 0, 0, 0, 0") == std::string::npos;
}

class SmallScreen : public PlayerTest {};

} // namespace

TEST(PlayerProgram, ADisplayThatCannotBeOpenedIsNamedAndEndsWithOne) {
    QTemporaryDir scratch;
    const std::string log = scratch.filePath(QStringLiteral("player.log")).toStdString();
    struct Case {
        std::vector<std::pair<std::string, std::string>> environment;
        const char* named;
    };
    for (const Case& c : {Case{{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", "wayland-tovani-nowhere"}}, "\"wayland-tovani-nowhere\""},
                          Case{{{"DISPLAY", ":4093"}, {"WAYLAND_DISPLAY", ""}}, "\":4093\""}}) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t player = StartPlayerProgram("", log, c.environment);
        ASSERT_GE(player, 0);
        int status = 0;
        while (waitpid(player, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - started < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(player, &status, WNOHANG) == 0) {
            EndPlayer(player);
            ADD_FAILURE() << "the player still runs without a display";
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
        const std::string text = TestSupport::ReadFile(log);
        EXPECT_NE(text.find("Tovani - Startup Error: No display can be opened: "), std::string::npos) << text;
        EXPECT_NE(text.find(c.named), std::string::npos) << text;
    }
}

// The whole program on this run's display: the content arrives, on the
// window system asked for, drawing without OpenGL where there is no GPU, and
// the player's own choices stay out of the programs it starts.
TEST(PlayerProgram, TheContentArrivesOnTheDisplayItIsGiven) {
    QTemporaryDir scratch;
    const std::string log = scratch.filePath(QStringLiteral("player.log")).toStdString();
    const std::string link = WideToUtf8(TestSupport::SealLink("p", "pdf-1", "https://127.0.0.1:47443"));
    const pid_t player = StartPlayerProgram(link, log);
    ASSERT_GE(player, 0);
    const auto logText = [&] { return TestSupport::ReadFile(log); };
    bool arrived = false;
    for (int i = 0; i < 600 && !arrived && waitpid(player, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        arrived = logText().find("browser host: navigation completed ok https://127.0.0.1:47443/media/sample.pdf") !=
                  std::string::npos;
    }
    EXPECT_TRUE(arrived) << logText();
    const std::string maps = TestSupport::ReadFile("/proc/" + std::to_string(player) + "/maps");
    EXPECT_NE(maps.find(OnWayland() ? "libqwayland-generic.so" : "libqxcb.so"), std::string::npos);
    if (!std::filesystem::exists("/dev/dri"))
        for (const char* library : {"swrast_dri", "libLLVM"}) EXPECT_EQ(maps.find(library), std::string::npos) << library;
    const std::vector<pid_t> helpers = Descendants(player);
    EXPECT_FALSE(helpers.empty());
    for (const pid_t helper : helpers) {
        const std::string environment = TestSupport::ReadFile("/proc/" + std::to_string(helper) + "/environ");
        for (const char* chosen : {"QT_QPA_PLATFORM=", "QT_XCB_GL_INTEGRATION=", "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION="})
            EXPECT_EQ(environment.find(chosen), std::string::npos) << chosen << " reached helper " << helper;
    }
    for (const char* note : {"OpenGL", "graphics backend", "buffer integration", "qt.qpa"})
        EXPECT_EQ(logText().find(note), std::string::npos) << logText();
    EndPlayer(player);
}

// On a 1280x720 screen with a window manager, the player window with its
// frame stays on the screen, also after fullscreen.
TEST_F(SmallScreen, TheFramedPlayerWindowFits) {
    if (std::getenv("TOVANI_TEST_SCREEN") == nullptr) GTEST_SKIP() << "needs with_small_screen.sh";
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return player->Shown(); }));
    const WId id = player->winId();
    ASSERT_TRUE(WaitFor([&] { return Framed(id); }, 5000)) << "no window manager framed the window";
    std::string seen;
    EXPECT_TRUE(WaitFor([&] { return FitsTheScreen(id, &seen); }, 5000)) << seen;
    // As large as the screen leaves room for.
    EXPECT_GE(player->width(), ScreenSize().first - 20) << seen;
    EXPECT_GE(player->height(), ScreenSize().second - 80) << seen;
    PressKeys(player.get(), {"F11"});
    ASSERT_TRUE(WaitFor([&] { return player->isFullScreen(); }, 5000));
    PressKeys(player.get(), {"F11"});
    ASSERT_TRUE(WaitFor([&] { return !player->isFullScreen(); }, 5000));
    Pump(500);
    EXPECT_TRUE(WaitFor([&] { return FitsTheScreen(id, &seen); }, 5000)) << "after fullscreen: " << seen;
    Screenshot("player-small-screen");
}

// At twice the scale, the init screen (framed) stays on the screen, and its
// bar dragged past the bottom edge stays whole in the page.
TEST_F(SmallScreen, TheInitBarStaysOnAScaledScreen) {
    if (std::getenv("TOVANI_TEST_SCREEN") == nullptr) GTEST_SKIP() << "needs with_small_screen.sh";
    auto screen = std::make_unique<InitScreen>();
    ASSERT_TRUE(screen->CreateBrowser());
    QWebEngineView* view = WebView::ViewOf(*screen->Host());
    ASSERT_NE(view, nullptr);
    const auto js = [&](const QString& script) {
        bool done = false;
        QVariant value;
        view->page()->runJavaScript(script, [&](const QVariant& v) {
            value = v;
            done = true;
        });
        WaitFor([&] { return done; }, 10000);
        return value;
    };
    ASSERT_TRUE(WaitFor([&] { return js(Text("!!document.getElementById('kelbro-nav-container')")).toBool(); }));
    EXPECT_EQ(js(Text("window.devicePixelRatio")).toDouble(), screen->devicePixelRatioF());
    const WId id = screen->winId();
    ASSERT_TRUE(WaitFor([&] { return Framed(id); }, 5000)) << "no window manager framed the window";
    std::string seen;
    EXPECT_TRUE(WaitFor([&] { return FitsTheScreen(id, &seen); }, 5000)) << seen;

    // A drag from the grip to far below the window, the pointer let go there.
    const QString drag = Text(
        "(function(){var b=document.getElementById('kelbro-nav-container');var r=b.getBoundingClientRect();"
        "var x=r.left+8,y=r.top+r.height/2;"
        "b.dispatchEvent(new MouseEvent('mouseenter',{clientX:x,clientY:y}));"
        "b.dispatchEvent(new MouseEvent('mousedown',{clientX:x,clientY:y,bubbles:true}));"
        "for(var i=1;i<=10;i++)window.dispatchEvent(new MouseEvent('mousemove',{clientX:x+%1*i,clientY:y+%2*i}));"
        "window.dispatchEvent(new MouseEvent('mouseup',{clientX:x+%1*10,clientY:y+%2*10}));return true;})()");
    const QString barInside = Text(
        "(function(){var r=document.getElementById('kelbro-nav-container').getBoundingClientRect();"
        "var v=window.visualViewport,w=Math.min(innerWidth,v?v.width:innerWidth),h=Math.min(innerHeight,v?v.height:innerHeight);"
        "var ok=r.width>0&&r.left>=0&&r.top>=0&&r.right<=w&&r.bottom<=h;"
        "return (ok?'inside ':'outside ')+r.left+','+r.top+' '+r.width+'x'+r.height+' in '+w+'x'+h;})()");
    for (const auto& [dx, dy] : {std::pair{0, 200}, std::pair{300, 300}, std::pair{-300, -300}}) {
        js(drag.arg(dx).arg(dy));
        Pump(600); // the bar's own transitions
        const QString where = js(barInside).toString();
        EXPECT_TRUE(where.startsWith(Text("inside"))) << "dragged by " << dx << "," << dy << ": " << where.toStdString();
    }
    screen->grab().save(QStringLiteral(TOVANI_ARTIFACT_DIR "/init-screen-scaled.png"));
    screen.reset();
}
