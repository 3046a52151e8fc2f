#include "app/startup_shell_win.h"

#include <shellapi.h>

#include "app/init_screen_win.h"
#include "app/messages.h"
#include "app/runtime_probe_win.h"
#include "app/scheme_registration.h"
#include "app/splash_win.h"
#include "app/windows_version_win.h"
#include "common/message_box_win.h"
#include "diagnostics/diagnostic_code.h"
#include "diagnostics/diagnostic_dialog.h"
#include "player/player_window_win.h"
#include "service/transfer_pump.h"

namespace {
const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
} // namespace

void DrainMessageQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // A quit posted this early belongs to the main loop.
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

namespace {
// The learner gave up waiting: nothing has been shown or kept yet.
void GiveUp() { ExitProcess(1); }
} // namespace

WinStartupShell::WinStartupShell(HINSTANCE instance) : instance_(instance) {
    // While start-up waits on the service its windows keep running: the
    // splash and its connecting notice, the empty player window. Closing
    // that window, or the notice, gives up.
    const DWORD thread = GetCurrentThreadId();
    SetTransferPump(TransferPump{[thread] { return GetCurrentThreadId() == thread; },
                                 [this] {
                                     MSG msg;
                                     while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                                         if (msg.message == WM_QUIT) GiveUp();
                                         if (ConnectingNoticeKey(&msg)) continue;
                                         TranslateMessage(&msg);
                                         DispatchMessageW(&msg);
                                     }
                                     if (playerWindow_ != nullptr && !IsWindow(playerWindow_)) GiveUp();
                                 },
                                 [this](bool slow) { ShowConnectingNotice(instance_, slow, GiveUp); }});
}
WinStartupShell::~WinStartupShell() { SetTransferPump({}); }

void WinStartupShell::ShowSplash() {
    ::ShowSplash(instance_);
    DrainMessageQueue();
}

int WinStartupShell::OperatingSystemClass() { return WindowsVersionClass(); }

bool WinStartupShell::EnsureBrowserRuntime() { return ::EnsureBrowserRuntime(); }

void WinStartupShell::RegisterUrlScheme() { ::RegisterUrlScheme(); }

MessageAnswer WinStartupShell::ShowMessage(const WString& text, const WString& caption, MessageIcon icon,
                                           MessageButtons buttons, bool rightToLeft) {
    return ShowMessageBox(text, caption, icon, buttons, rightToLeft);
}

void WinStartupShell::OpenExternal(const WString& url) {
    // The shared rule: only a plain https address reaches the shell.
    if (!IsOpenableUpdateLink(url)) return;
    ShellExecuteW(nullptr, L"open", W(url), nullptr, nullptr, SW_SHOWNORMAL);
}

bool WinStartupShell::CreateInitScreen() {
    // From here on requests block as before: the window's own loop runs.
    SetTransferPump({});
    RegisterInitWindowClass(instance_);
    return ::CreateInitScreen(instance_);
}

void WinStartupShell::StartInitBrowserEarly() {
    RegisterInitWindowClass(instance_);
    ::StartInitBrowserEarly(instance_);
}

void WinStartupShell::StartPlayerBrowserEarly() {
    if (playerWindow_ != nullptr) return;
    RegisterPlayerWindowClass(instance_);
    playerWindow_ = CreatePlayerFrameWindow(instance_, false);
    if (playerWindow_ == nullptr) return;
    ::StartPlayerBrowserEarly(playerWindow_);
}

void WinStartupShell::CreatePlayerFrame() {
    if (playerWindow_ == nullptr) {
        RegisterPlayerWindowClass(instance_);
        playerWindow_ = CreatePlayerFrameWindow(instance_);
    } else {
        // The window the browser started in early shows now, at the frame's place in the order.
        ShowWindow(playerWindow_, SW_SHOW);
    }
    if (playerWindow_ == nullptr) return;
    UpdateWindow(playerWindow_);
    DrainMessageQueue();
}

bool WinStartupShell::CreatePlayerWindow() {
    SetTransferPump({});
    if (playerWindow_ == nullptr) CreatePlayerFrame();
    return ::CreatePlayerWindow(instance_, playerWindow_);
}

void WinStartupShell::ShowLinkDiagnostic(const std::string& reason) {
    DiagnosticDialog(Messages::LinkErrorTitle(), Messages::LinkErrorText(), Messages::LinkErrorArabic(),
                     ErrorDiagnosticCode(reason));
}

int WinStartupShell::RunMessageLoop() {
    MSG msg{};
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return 1;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void WinStartupShell::Shutdown() {
    DestroyPlayerHost();
    DestroyInitScreenHost();
}
