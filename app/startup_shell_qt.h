#pragma once
// The Linux shell of the start-up sequence: Qt windows and message boxes,
// the WebEngine runtime probe, the desktop-entry scheme registration.
#include <memory>

#include "app/startup.h"

class InitScreen;
class PlayerWindow;

class QtStartupShell : public StartupShell {
public:
    QtStartupShell();
    ~QtStartupShell() override;

    void ShowSplash() override;
    int OperatingSystemClass() override;
    bool EnsureBrowserRuntime() override;
    void RegisterUrlScheme() override;
    MessageAnswer ShowMessage(const WString& text, const WString& caption, MessageIcon icon, MessageButtons buttons,
                              bool rightToLeft) override;
    void OpenExternal(const WString& url) override;
    bool CreateInitScreen() override;
    void StartPlayerBrowserEarly() override;
    void PrepareContentConnection(const WString& url) override;
    void StartInitBrowserEarly() override;
    void CreatePlayerFrame() override;
    bool CreatePlayerWindow() override;
    [[noreturn]] void ShowLinkDiagnostic(const std::string& reason) override;
    int RunMessageLoop() override;
    void Shutdown() override;

private:
    std::unique_ptr<InitScreen> initScreen_;
    std::unique_ptr<PlayerWindow> player_;
    bool frameShown_ = false; // the empty frame is up and start-up still waits
};
