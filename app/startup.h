#pragma once
// The start-up sequence, written once: each platform supplies its shell
// operations (message boxes, windows, browser runtime, scheme registration).
#include <string>
#include <vector>

#include "common/message_box.h"
#include "common/text.h"
#include "service/version_check.h"

class StartupShell {
public:
    virtual ~StartupShell() = default;

    virtual void ShowSplash() = 0;
    // 10 or 11 for supported systems, lower for older ones, -1 when unknown.
    virtual int OperatingSystemClass() = 0;
    // True when the browser runtime is usable (it may install or explain itself).
    virtual bool EnsureBrowserRuntime() = 0;
    virtual void RegisterUrlScheme() = 0;
    virtual MessageAnswer ShowMessage(const WString& text, const WString& caption, MessageIcon icon,
                                      MessageButtons buttons, bool rightToLeft = false) = 0;
    virtual void OpenExternal(const WString& url) = 0;

    virtual bool CreateInitScreen() = 0;
    // Starts the player's browser in its window, neither of them shown, so
    // that the browser comes up while start-up waits on the service. What
    // was started and never shown goes when the shell does.
    virtual void StartPlayerBrowserEarly() {}
    // The same for the init screen's browser and window, when there is no link.
    virtual void StartInitBrowserEarly() {}
    // Opens, ahead of the browser, the checked connection its first request
    // for the content will take, where the browser's connections are the
    // player's own (the Linux relay); the address is the content's.
    virtual void PrepareContentConnection(const WString& /*url*/) {}
    // The empty player window, shown while the link is parsed.
    virtual void CreatePlayerFrame() = 0;
    virtual bool CreatePlayerWindow() = 0;
    [[noreturn]] virtual void ShowLinkDiagnostic(const std::string& reason) = 0;
    // Runs until the last window closes; returns the exit code.
    virtual int RunMessageLoop() = 0;
    virtual void Shutdown() = 0;
};

// How long start-up waits on the service in all before content shows.
inline constexpr int kStartupServiceWaitMs = 15000;

// The default download address when the service names none: this system's
// own (the Windows installer on Windows, the Linux package's page on Linux).
WString DefaultUpdateLink();
// The service publishes one link, to the Windows installer: only the Windows
// player follows it.
bool PublishedUpdateLinkFitsThisSystem();
// True for what may be handed to the desktop's opener: an https address with
// a readable host, written "https://" and made of URL characters alone, so
// no opener can take it for a file, a program, another scheme or an option.
bool IsOpenableUpdateLink(const WString& link);
// The address the update prompt opens: the published link when it fits this
// system and is openable, otherwise the default download address.
WString UpdateLinkToOpen(const WString& published);

// True when the update prompt ends the program (exit code 0).
bool RunUpdatePrompt(StartupShell& shell, const VersionCheckResult& result);

// The whole start-up: returns the process exit code.
int RunStartup(StartupShell& shell, const std::vector<WString>& args, const WString& rawTail);

// The Windows version classes of the version check.
int ClassifyWindowsVersion(unsigned major, unsigned minor, unsigned build);
