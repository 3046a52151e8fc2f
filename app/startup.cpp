#include "app/startup.h"

#include <chrono>
#include <exception>

#include "app/messages.h"
#include "common/app_constants.h"
#include "common/debug_log.h"
#include "common/masking.h"
#include "common/url_host.h"
#include "links/player_content.h"
#include "links/scheme_link.h"
#include "service/device_identity.h"
#include "service/http_client.h"
#include "service/pins.h"

bool IsOpenableUpdateLink(const WString& link) {
    if (!StartsWith(ToLowerCopy(link), u"https://")) return false;
    const std::optional<UrlAuthority> authority = ReadAuthority(link);
    if (!authority || authority->scheme != u"https") return false;
    // Nothing an opener's command line could split on or take for quoting.
    static constexpr WStringView kUrlCharacters = u"-._~:/?#[]@!$&'()*+,;=%";
    for (const char16_t c : link) {
        const bool alphanumeric = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        if (!alphanumeric && kUrlCharacters.find(c) == WStringView::npos) return false;
    }
    return true;
}

WString UpdateLinkToOpen(const WString& published) {
    return PublishedUpdateLinkFitsThisSystem() && IsOpenableUpdateLink(published) ? published : DefaultUpdateLink();
}

bool RunUpdatePrompt(StartupShell& shell, const VersionCheckResult& result) {
    if (!result.hasUpdate) return false;
    // The service's link goes to the desktop's opener: a file, a program, a
    // desktop entry or a share would be opened (or run) as given.
    const WString link = UpdateLinkToOpen(result.link);
    const WString product = ApplicationConstants.productName;
    if (!result.isRequired) {
        const MessageAnswer answer = shell.ShowMessage(Messages::UpdateAvailable(), product + u" - Update Available",
                                                       MessageIcon::Information, MessageButtons::YesNo);
        if (answer != MessageAnswer::Yes) return false;
        shell.OpenExternal(link);
        return true;
    }
    const MessageAnswer answer = shell.ShowMessage(Messages::UpdateRequired(), product + u" - Update Required",
                                                   MessageIcon::Warning, MessageButtons::OkCancel);
    if (answer == MessageAnswer::Ok) shell.OpenExternal(link);
    return true;
}

int ClassifyWindowsVersion(unsigned major, unsigned minor, unsigned build) {
    if (major >= 10) return build >= 22000 ? 11 : 10;
    if (major == 6) return minor < 2 ? 7 : 8;
    return -1;
}

int RunStartup(StartupShell& shell, const std::vector<WString>& args, const WString& rawTail) {
    shell.ShowSplash();

    if (shell.OperatingSystemClass() < 10) {
        shell.ShowMessage(Messages::UnsupportedOs(), u"Unsupported OS", MessageIcon::Error, MessageButtons::Ok);
        return 1;
    }
    // Computed early: the identity query is slow and every later request needs it.
    GetDeviceIdentity();

    if (!shell.EnsureBrowserRuntime()) return 1;

    const WString link = FindSchemeLink(args, rawTail);
    const bool hasLink = HasSchemeLink(link);
    // Unseen until its window shows; it comes up while the service is asked.
    if (hasLink) {
        DebugLog("Starting the player's browser early, unseen");
        shell.StartPlayerBrowserEarly();
    } else {
        DebugLog("Starting the start page's browser early, unseen");
        shell.StartInitBrowserEarly();
    }

    DebugLog("Step 7: Initializing SSL pinning defaults");
    SetPins(DefaultPins());
    // Everything start-up asks the service before content shows (pins,
    // version, content data, the second version) shares one bound.
    BoundServiceWait(std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartupServiceWaitMs));
    DebugLog("Step 7: Loading dynamic pins synchronously");
    try {
        DebugLog(LoadDynamicPins() ? "Step 7: Dynamic pins loaded OK"
                                   : "Step 7: Dynamic pins NOT loaded, built-in pins in force");
    } catch (...) {
        DebugLog("Step 7: Dynamic pins FAILED (exception)");
    }

    DebugLog("Step 7B: Checking app version...");
    VersionCheckResult version = CheckVersion(CurrentVersion(), WString());
    DebugLog(std::string("Step 7B: Version check done. hasUpdate=") + (version.hasUpdate ? "1" : "0"));
    {
        // The learner's time on the prompt is no wait on the service.
        const unsigned long left = ServiceWaitLeftMs(kStartupServiceWaitMs);
        if (RunUpdatePrompt(shell, version)) return 0;
        BoundServiceWait(std::chrono::steady_clock::now() + std::chrono::milliseconds(left));
    }

    DebugLog("Step 8: Registering URL protocol...");
    shell.RegisterUrlScheme();

    DebugLog("Step 9: Parsing command line...");
    DebugLog(std::string("Step 9: hasSchemeArgs=") + (hasLink ? "1" : "0"));

    if (!hasLink) {
        ClearServiceWaitBound();
        if (!shell.CreateInitScreen()) {
            shell.ShowMessage(Messages::StartupWindowFailed(), ApplicationConstants.productName + u" - Startup Error",
                              MessageIcon::Error, MessageButtons::Ok);
            return 1;
        }
    } else {
        shell.CreatePlayerFrame();
        std::string error;
        if (!ParseSchemeArgs(link, error)) {
            if (error.rfind("server:", 0) == 0 && WasUnreachable(error.substr(7))) {
                // Not an attack and not the service's word: no connection could be made.
                shell.ShowMessage(Messages::CannotReachService(), Messages::ConnectionErrorCaption(),
                                  MessageIcon::Error, MessageButtons::Ok);
                return 1;
            }
            if (error.rfind("server:", 0) == 0) {
                // The service's text is shown as plain text, bounded: it is not ours.
                shell.ShowMessage(DisplayText(Utf8ToWide(error.substr(7))), Messages::ServerErrorCaption(),
                                  MessageIcon::Warning, MessageButtons::Ok, true);
                return 1;
            }
            shell.ShowLinkDiagnostic(error);
        }
        // Its handshake overlaps the version check below.
        shell.PrepareContentConnection(PlayerContent.url);
        // After the content data, on the connection it kept: a required
        // update still ends the start here, before any content shows.
        version = CheckVersion(CurrentVersion(), PlayerContent.domain);
        ClearServiceWaitBound();
        if (RunUpdatePrompt(shell, version)) return 0;
        if (!shell.CreatePlayerWindow()) return 1;
    }
    const int code = shell.RunMessageLoop();
    shell.Shutdown();
    return code;
}
