#pragma once
// How a browser host comes up and what its owners do once it is ready, the
// same on both systems; the platform supplies only the browser's creation.
#include <functional>

#include "common/text.h"
#include "player/webview_host.h"

namespace WebView {

// The steps of one start that differ by platform.
struct HostStartSteps {
    // Whether the owner's window can hold a browser; asked again after a
    // failed start, since the user may have closed the window meanwhile.
    std::function<bool()> windowUsable;
    // False when the sweeps already ran (a browser started early).
    bool sweep = true;
    // Creates the browser in a usable window and waits until it is ready
    // (the platform then calls the owner's ready callback with true) or has
    // failed.
    std::function<bool()> createAndWait;
    // Releases what a failed start left behind.
    std::function<void()> tearDown;
    // How many creations are tried before the repair (at least one): the
    // runtime's start fails now and then for a moment (a browser process of
    // the same data folder still ending, a busy machine).
    int attempts = 1;
    // Waits so long before another try while the event loop keeps running.
    std::function<void(int milliseconds)> pause;
    // After a failed creation: whether another try may bring the browser up,
    // and whether the repair may mend what failed. Neither does for a runtime
    // that is not there at all (the repair clears data, it installs nothing),
    // nor another try once the program is quitting. Unset: both yes.
    std::function<bool()> worthAnotherTry;
    std::function<bool()> repairMends;
    // The one-shot repair: never returns when it starts; returns so the
    // owner is told when the repair already ran once in a row.
    std::function<void()> repairOrReport;
};

// Orphaned browser processes, then stale copies of the data folder.
void SweepBeforeBrowserStart(const WString& userDataFolder);

// The start in its fixed order: orphaned browser processes swept, stale
// copies of the data folder swept, the browser created, torn down and
// created again after a short pause up to the attempts asked for; after the
// last failure the browser is torn down and, for a window still usable and a
// data folder, repaired (when the repair can mend it) or reported, and then
// the owner's ready callback hears false.
bool RunHostStart(const WString& userDataFolder, const HostStartSteps& steps,
                  const std::function<void(bool)>& onReady);

} // namespace WebView

// The player's ready handler once its browser is ready: production settings,
// the content's scripts in their order, and the content's load.
void LoadPlayerContent(WebView::WebViewHost& host);

// The init screen's: production settings, the navigation bar, the start page.
void LoadInitScreen(WebView::WebViewHost& host);

// The same loads again on a view that keeps its scripts (its page's process
// ended under it): only the navigation.
void ReloadPlayerContent(WebView::WebViewHost& host);
void ReloadInitScreen(WebView::WebViewHost& host);

// The init screen's navigation-bar messages on its host; the fullscreen
// toggle belongs to the window.
void InitScreenMessageHandler(WebView::WebViewHost& host, const WString& message,
                              const std::function<void()>& toggleFullscreen);
