#include "player/browser_start.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/debug_log.h"
#include "links/player_content.h"
#include "player/browser_rules.h"
#include "player/page_builder.h"
#include "player/page_scripts.h"
#include "player/web_messages.h"
#include "runtime/repair.h"

namespace WebView {

void SweepBeforeBrowserStart(const WString& userDataFolder) {
    Repair::OrphanBrowserSweep(userDataFolder);
    // From UTF-16 the path is right on both systems (not through the ANSI code page).
    if (!userDataFolder.empty()) Repair::StaleDataSweep(std::filesystem::path(userDataFolder));
}

bool RunHostStart(const WString& userDataFolder, const HostStartSteps& steps,
                  const std::function<void(bool)>& onReady) {
    const auto windowUsable = [&steps] { return steps.windowUsable && steps.windowUsable(); };
    if (steps.sweep) SweepBeforeBrowserStart(userDataFolder);
    const int attempts = std::max(1, steps.attempts);
    for (int attempt = 1; attempt <= attempts && windowUsable(); ++attempt) {
        if (attempt > 1) {
            // A fresh start: nothing of the failed one is reused.
            if (steps.tearDown) steps.tearDown();
            const int pauseMs = attempt == 2 ? 250 : 1000;
            DebugLog("browser host: the browser did not come up; trying again in " + std::to_string(pauseMs) + " ms (" +
                     std::to_string(attempt) + " of " + std::to_string(attempts) + ")");
            if (steps.pause) steps.pause(pauseMs);
            if (!windowUsable() || (steps.worthAnotherTry && !steps.worthAnotherTry())) break;
        }
        if (steps.createAndWait && steps.createAndWait()) return true;
        if (steps.worthAnotherTry && !steps.worthAnotherTry()) break;
    }
    if (steps.tearDown) steps.tearDown();
    // Only a browser that could not come up is repaired; a call without a
    // window or a data folder is the caller's mistake, a window closed during
    // the start is the user's choice, and a missing runtime is not mended by
    // clearing data.
    if (windowUsable() && !userDataFolder.empty() && steps.repairOrReport &&
        (!steps.repairMends || steps.repairMends())) {
        steps.repairOrReport();
    } else if (steps.repairMends && !steps.repairMends()) {
        DebugLog("browser host: the browser runtime is missing; nothing to repair");
    }
    if (onReady) {
        try {
            onReady(false);
        } catch (...) {
            DebugLog("browser host: callback failed: onReady");
        }
    }
    return false;
}

} // namespace WebView

namespace {
void NavigateToContent(WebView::WebViewHost& host, const PlayerLoadPlan& plan) {
    if (plan.load == PlayerLoadPlan::Load::NavigateToString) {
        host.NavigateToString(plan.target);
    } else {
        host.NavigateTo(plan.target);
    }
}
} // namespace

void LoadPlayerContent(WebView::WebViewHost& host) {
    host.ConfigureForProduction();
    const PlayerLoadPlan plan = PlanPlayerLoad(PlayerContent);
    for (const WString& script : plan.documentScripts) host.AddScriptToExecuteOnDocumentCreated(script);
    NavigateToContent(host, plan);
}

void ReloadPlayerContent(WebView::WebViewHost& host) { NavigateToContent(host, PlanPlayerLoad(PlayerContent)); }

void ReloadInitScreen(WebView::WebViewHost& host) { host.NavigateTo(StartPageUrl()); }

void LoadInitScreen(WebView::WebViewHost& host) {
    host.ConfigureForProduction();
    host.AddScriptToExecuteOnDocumentCreated(NavigationBarScript());
    host.NavigateTo(StartPageUrl());
}

void InitScreenMessageHandler(WebView::WebViewHost& host, const WString& message,
                              const std::function<void()>& toggleFullscreen) {
    DispatchInitScreenMessage(message, InitScreenActions{
                                           .home = [&host] { host.NavigateTo(HomePageUrl()); },
                                           .canGoBack = [&host] { return host.CanGoBack(); },
                                           .back = [&host] { host.GoBack(); },
                                           .toggleFullscreen = toggleFullscreen,
                                       });
}
