#pragma once
// The browser's process-wide settings on Linux. Qt WebEngine reads them once,
// when the first browser starts, from the environment: they must be in place
// before the QApplication exists.
#include <string>
#include <string_view>

namespace WebView {

// Sets the Chromium switches (a user's own from QTWEBENGINE_CHROMIUM_FLAGS,
// then the profile's, plus --disable-gpu on a display without a GPU), turns
// the sandbox off (and with it the zygote) when running as root and makes
// sure no remote debugging port is opened, whoever asked for one.
// extraSwitches are for test programs (a fake camera). Call first thing in
// main().
void PrepareBrowserProcessEnvironment(std::string_view extraSwitches = {});
// On a display without a GPU the window draws in software, without OpenGL
// (the engine's frames are software ones there too). Once the QApplication
// exists, this takes that choice, and the window system chosen by
// ChooseWindowSystem, out of the environment that the programs the player
// starts (the desktop's opener, a relaunch) inherit.
void ForgetProcessOnlySettings();

// Held around the creation of the first browser profile, when the engine
// reads its switches: adds the renderer's accessibility while an assistive
// technology listens, and afterwards gives the environment the user's own
// switches back, so that none of the player's reach the programs it starts.
class BrowserEngineStart {
public:
    BrowserEngineStart();
    ~BrowserEngineStart();
    BrowserEngineStart(const BrowserEngineStart&) = delete;
    BrowserEngineStart& operator=(const BrowserEngineStart&) = delete;
};
// True when a screen reader or other assistive technology listens: the
// accessibility bus says so (org.a11y.Status), or QT_LINUX_ACCESSIBILITY_ALWAYS_ON.
bool AssistiveTechnologyActive();

// Picks the window system before the QApplication exists, as Qt aborts the
// process when the one it tries cannot be opened: a Wayland compositor that
// answers (with Qt's Wayland plugin installed), else an X display that
// answers; off screen when none is named. A user's QT_QPA_PLATFORM wins.
// False, with the reason in failure, when displays are named but none of
// them can be opened.
bool ChooseWindowSystem(std::string& failure);

// The switch list handed to Chromium: the extra switches, then the
// profile's, without any that would open dev tools to other programs, plus
// --disable-gpu when asked. Exposed for tests.
std::string ComposeChromiumFlags(std::string_view profileSwitches, std::string_view extraSwitches, bool disableGpu);

// True when the display has no usable GPU: Xvfb and other virtual X servers,
// the offscreen platform, or a machine without a DRM device.
bool DisplayLacksGpu();

// True when Qt WebEngine's helper program can be found and run. Qt aborts
// the whole process when it is missing, so the host asks first.
bool BrowserHelperAvailable();

} // namespace WebView
