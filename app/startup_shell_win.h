#pragma once
// The Windows shell of the start-up sequence: Win32 windows and message
// boxes, the splash resource, the WebView2 runtime probe, the registry's
// scheme registration and the thread's message loop.
#include <windows.h>

#include "app/startup.h"

class WinStartupShell : public StartupShell {
public:
    explicit WinStartupShell(HINSTANCE instance);
    ~WinStartupShell() override;

    void ShowSplash() override;
    int OperatingSystemClass() override;
    bool EnsureBrowserRuntime() override;
    void RegisterUrlScheme() override;
    MessageAnswer ShowMessage(const WString& text, const WString& caption, MessageIcon icon, MessageButtons buttons,
                              bool rightToLeft) override;
    void OpenExternal(const WString& url) override;
    bool CreateInitScreen() override;
    void StartPlayerBrowserEarly() override;
    void StartInitBrowserEarly() override;
    void CreatePlayerFrame() override;
    bool CreatePlayerWindow() override;
    [[noreturn]] void ShowLinkDiagnostic(const std::string& reason) override;
    int RunMessageLoop() override;
    void Shutdown() override;

    HWND PlayerWindow() const { return playerWindow_; }

private:
    HINSTANCE instance_;
    HWND playerWindow_ = nullptr;
};

// Dispatches what is queued now, so new windows paint before a long step.
void DrainMessageQueue();
