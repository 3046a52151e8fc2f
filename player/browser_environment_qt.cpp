#include "player/browser_environment_qt.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "player/browser_relay_linux.h"
#include "player/browser_rules.h"

namespace WebView {

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> SplitSwitches(std::string_view text) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    std::string item;
    while (in >> item) out.push_back(item);
    return out;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Switches that would let another program drive or inspect the browser.
bool OpensDevTools(std::string_view sw) {
    return StartsWithText(sw, "--remote-debugging") || StartsWithText(sw, "--remote-allow-origins") ||
           StartsWithText(sw, "--auto-open-devtools");
}

bool HasDrmDevice() {
    std::error_code ec;
    std::filesystem::directory_iterator it("/dev/dri", ec);
    if (ec) return false;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (StartsWithText(name, "renderD") || StartsWithText(name, "card")) return true;
    }
    return false;
}

// The program name of the local X server behind DISPLAY, read through its
// lock file; empty when it cannot be told (remote display, other namespace).
std::string LocalXServerName() {
    const std::string display = EnvOrEmpty("DISPLAY");
    if (display.size() < 2 || display[0] != ':') return std::string();
    std::string number;
    for (std::size_t i = 1; i < display.size() && display[i] >= '0' && display[i] <= '9'; ++i) number += display[i];
    if (number.empty() || number.size() > 6) return std::string();
    std::ifstream lock("/tmp/.X" + number + "-lock");
    long pid = 0;
    if (!(lock >> pid) || pid <= 0) return std::string();
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool HasSwitch(std::string_view switches, std::string_view name) {
    for (const std::string& sw : SplitSwitches(switches))
        if (sw == name) return true;
    return false;
}

bool IsExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The two lines Qt and Qt WebEngine print when the OpenGL they probe for
// at start-up is not there: here it is left out on purpose.
QtMessageHandler gPreviousHandler = nullptr;
constexpr const char* kNoWaylandBuffers = "none";
void DropNoOpenGlNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString text = message.trimmed();
    if (type == QtWarningMsg &&
        (text == QLatin1String("QXcbIntegration: Cannot create platform OpenGL context, neither GLX nor EGL are enabled") ||
         text == QLatin1String("No suitable graphics backend found") ||
         text == QLatin1String("Failed to load client buffer integration: \"none\"") ||
         text.startsWith(QLatin1String("Available client buffer integrations:"))))
        return;
    if (gPreviousHandler != nullptr) gPreviousHandler(type, context, message);
}

// Without a GPU, OpenGL is Mesa's software rasteriser, which loads and
// compiles its shaders at start-up (a fifth of a second here) only to copy
// frames the browser already draws in software: the window shows them
// through Qt Quick's software renderer instead, with no OpenGL at all.
// A user's own choice of renderer still wins.
bool gOpenGlLeftOut = false;
bool gWaylandGlLeftOut = false;
void UseSoftwareWindowRendering() {
    for (const char* chosen : {"QT_QUICK_BACKEND", "QSG_RHI_BACKEND"})
        if (!EnvOrEmpty(chosen).empty()) return;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    const std::string integration = EnvOrEmpty("QT_XCB_GL_INTEGRATION");
    gOpenGlLeftOut = integration.empty();
    if (gOpenGlLeftOut) ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    // The same on Wayland: a buffer integration that does not exist leaves
    // shared-memory buffers and no EGL (Qt 6.4 loads EGL despite
    // QT_WAYLAND_DISABLE_HW_INTEGRATION).
    const std::string waylandIntegration = EnvOrEmpty("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
    gWaylandGlLeftOut = waylandIntegration.empty();
    if (gWaylandGlLeftOut) ::setenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", kNoWaylandBuffers, 1);
    if (gOpenGlLeftOut || integration == "none" || gWaylandGlLeftOut)
        gPreviousHandler = qInstallMessageHandler(DropNoOpenGlNotes);
}

// The window system this process picked for itself, left for no other program.
bool gPlatformChosen = false;

// A display name as it may appear in a message: printable, and short.
std::string Shown(const std::string& name) {
    std::string out;
    for (const char c : name.substr(0, 80)) out += (c >= 0x20 && c < 0x7f && c != '"') ? c : '?';
    return out;
}

// Whether a Wayland compositor accepts a connection on the socket the
// environment names (or has handed over an open one).
bool WaylandAnswers() {
    if (!EnvOrEmpty("WAYLAND_SOCKET").empty()) return true;
    const std::string name = EnvOrEmpty("WAYLAND_DISPLAY");
    if (name.empty()) return false;
    std::string path = name;
    if (name[0] != '/') {
        const std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + '/' + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Whether the X display named by DISPLAY accepts a connection, asked through
// libxcb as Qt's X11 plugin would (without it, that plugin cannot load).
bool XAnswers() {
    if (EnvOrEmpty("DISPLAY").empty()) return false;
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool answers = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(nullptr, nullptr);
        answers = connection != nullptr && hasError(connection) == 0;
        if (connection != nullptr) disconnect(connection);
    }
    ::dlclose(xcb);
    return answers;
}

// The user's own switches as the player found them (a screen reader's or a
// packager's live there), put back once the engine has read the player's.
std::optional<std::string> gUserChromiumFlags;
// Set by the player (as root), not by the user: taken back once the engine read it.
bool gSandboxSwitchedOff = false;
bool gChromiumFlagsLent = false;
constexpr const char* kChromiumFlags = "QTWEBENGINE_CHROMIUM_FLAGS";
constexpr const char* kRendererAccessibility = "--force-renderer-accessibility";

// One property of org.a11y.Status, asked without starting the accessibility
// bus when nothing runs it.
bool A11yStatus(const QDBusConnection& bus, const char* property) {
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    ask << QStringLiteral("org.a11y.Status") << QString::fromLatin1(property);
    ask.setAutoStartService(false);
    const QDBusMessage answer = bus.call(ask, QDBus::Block, 500);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return false;
    return answer.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

bool WaylandPluginInstalled() {
    const QString platforms = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/");
    return QFileInfo::exists(platforms + QStringLiteral("libqwayland-generic.so")) ||
           QFileInfo::exists(platforms + QStringLiteral("libqwayland-egl.so"));
}

} // namespace

std::string ComposeChromiumFlags(std::string_view profileSwitches, std::string_view extraSwitches, bool disableGpu) {
    std::vector<std::string> kept;
    bool haveDisableGpu = false;
    // The profile's switches come last so that they win.
    for (std::string_view source : {extraSwitches, profileSwitches}) {
        for (std::string& sw : SplitSwitches(source)) {
            if (OpensDevTools(sw)) continue;
            if (sw == "--disable-gpu") haveDisableGpu = true;
            kept.push_back(std::move(sw));
        }
    }
    if (disableGpu && !haveDisableGpu) kept.emplace_back("--disable-gpu");
    std::string out;
    for (const std::string& sw : kept) {
        if (!out.empty()) out += ' ';
        out += sw;
    }
    return out;
}

bool DisplayLacksGpu() {
    const std::string platform = EnvOrEmpty("QT_QPA_PLATFORM");
    if (StartsWithText(platform, "offscreen") || StartsWithText(platform, "minimal") || StartsWithText(platform, "vnc"))
        return true;
    // On Wayland, DISPLAY (if any) names XWayland or another server, not the window's.
    const std::string server = StartsWithText(platform, "wayland") ? std::string() : LocalXServerName();
    if (StartsWithText(server, "Xvfb") || StartsWithText(server, "Xvnc")) return true;
    return !HasDrmDevice();
}

bool BrowserHelperAvailable() {
    // The places Qt WebEngine looks, in its order; a set variable is final.
    const QString overridden = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (!overridden.isEmpty()) return IsExecutableFile(overridden);
    const QString name = QStringLiteral("/QtWebEngineProcess");
    return IsExecutableFile(QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + name) ||
           IsExecutableFile(QCoreApplication::applicationDirPath() + name);
}

void PrepareBrowserProcessEnvironment(std::string_view extraSwitches) {
    // The engine's own chatter (D-Bus, certificate verifier, its start-up
    // banner) would bury the player's start-up steps: only on request.
    const bool browserLog = !EnvOrEmpty("TOVANI_BROWSER_LOG").empty();
    std::string extra(extraSwitches);
    if (!browserLog) {
        extra += " --log-level=3";
        // Below QT_LOGGING_RULES in precedence: a user's own rules still win.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
    }
    // Chromium's sandbox refuses to start as root; every other user keeps it.
    if (::geteuid() == 0 && EnvOrEmpty("QTWEBENGINE_DISABLE_SANDBOX").empty()) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        gSandboxSwitchedOff = true;
    }
    const std::string profileSwitches = WideToUtf8(BrowserSwitches());
    // Without a sandbox the zygote only stands between the browser and its
    // first page: one more process to start before the page's own.
    if (!EnvOrEmpty("QTWEBENGINE_DISABLE_SANDBOX").empty() || HasSwitch(profileSwitches + ' ' + extra, "--no-sandbox"))
        extra += " --no-zygote";
    const bool noGpu = DisplayLacksGpu();
    // A user's switches are kept, before the player's so that the player's win.
    if (const char* user = std::getenv(kChromiumFlags)) gUserChromiumFlags = std::string(user);
    const std::string flags =
        ComposeChromiumFlags(profileSwitches, gUserChromiumFlags.value_or(std::string()) + ' ' + extra, noGpu);
    ::setenv(kChromiumFlags, flags.c_str(), 1);
    gChromiumFlagsLent = true;
    if (noGpu) UseSoftwareWindowRendering();
    // This variable would open a dev tools port to any local program.
    ::unsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    // Qt WebEngine renders through contexts shared with the application's.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void ForgetProcessOnlySettings() {
    // Read by then (the engine asked for OpenGL while the application was
    // made); the programs the player starts choose their own.
    if (gOpenGlLeftOut) ::unsetenv("QT_XCB_GL_INTEGRATION");
    if (gWaylandGlLeftOut) ::unsetenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
    if (gPlatformChosen) ::unsetenv("QT_QPA_PLATFORM");
    gOpenGlLeftOut = gWaylandGlLeftOut = gPlatformChosen = false;
}

bool AssistiveTechnologyActive() {
    if (qEnvironmentVariableIntValue("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") != 0) return true;
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && (A11yStatus(bus, "IsEnabled") || A11yStatus(bus, "ScreenReaderEnabled"));
}

BrowserEngineStart::BrowserEngineStart() {
    // The browser's https traffic goes through the relay, which alone may
    // reach the platform's pinned hosts.
    const std::string relay = BrowserRelaySwitches();
    if (!gChromiumFlagsLent) {
        if (relay.empty()) return;
        if (const char* user = std::getenv(kChromiumFlags)) gUserChromiumFlags = std::string(user);
        gChromiumFlagsLent = true;
    }
    std::string flags = EnvOrEmpty(kChromiumFlags);
    SetBrowserRelayHostRules(flags);
    if (!relay.empty()) flags += ' ' + relay;
    // Pages reach a screen reader only with the renderer's accessibility on;
    // it costs the renderer work, so only while one listens.
    if (!HasSwitch(flags, kRendererAccessibility) && AssistiveTechnologyActive())
        flags += std::string(" ") + kRendererAccessibility;
    ::setenv(kChromiumFlags, flags.c_str(), 1);
}

BrowserEngineStart::~BrowserEngineStart() {
    // Read by now too: the programs the player starts choose for themselves.
    if (gSandboxSwitchedOff) ::unsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    gSandboxSwitchedOff = false;
    if (!gChromiumFlagsLent) return;
    // Read by now: the programs the player starts get the user's own.
    if (gUserChromiumFlags) ::setenv(kChromiumFlags, gUserChromiumFlags->c_str(), 1);
    else ::unsetenv(kChromiumFlags);
    gChromiumFlagsLent = false;
}

bool ChooseWindowSystem(std::string& failure) {
    if (!EnvOrEmpty("QT_QPA_PLATFORM").empty()) return true;
    const std::string x = EnvOrEmpty("DISPLAY");
    const std::string wayland = EnvOrEmpty("WAYLAND_DISPLAY");
    const bool waylandNamed = !wayland.empty() || !EnvOrEmpty("WAYLAND_SOCKET").empty();
    const char* platform = nullptr;
    if (x.empty() && !waylandNamed) {
        // No display at all: the windows render off screen and every
        // message goes to standard error.
        platform = "offscreen";
    } else if (waylandNamed && WaylandAnswers() && WaylandPluginInstalled()) {
        platform = "wayland";
    } else if (XAnswers()) {
        platform = "xcb";
    } else if (waylandNamed && WaylandAnswers()) {
        failure = "The Wayland display \"" + Shown(wayland) +
                  "\" cannot be used without Qt's Wayland platform plugin (package qt6-wayland)" +
                  (x.empty() ? std::string() : ", and the X display \"" + Shown(x) + "\" does not answer") + ".";
        return false;
    } else {
        const std::string xName = "the X display \"" + Shown(x) + "\"";
        const std::string waylandName = "the Wayland display \"" + Shown(wayland) + "\"";
        failure = "No display can be opened: " +
                  (x.empty() ? waylandName + " does not answer."
                   : waylandNamed ? "neither " + xName + " nor " + waylandName + " answers."
                                  : xName + " does not answer.");
        return false;
    }
    ::setenv("QT_QPA_PLATFORM", platform, 1);
    gPlatformChosen = true;
    return true;
}

} // namespace WebView
