#pragma once
// A window's content after its page's process ended (a crash, the system
// killing it): the notice over the window until the content is back, the
// window's own load run again, and after a second end within
// ProcessRecovery::kBound the diagnostic dialog instead of a loop.
#include <functional>

#include "player/webview_host.h"

class QWidget;

// The notice's object name among the window's children.
inline constexpr char kRecoveryNoticeName[] = "recoveryNotice";
// The least time the notice stays, so that it can be read when the content
// comes back at once.
inline constexpr int kRecoveryNoticeLeastMs = 2000;

// Fills host's onProcessFailed for window; reload loads the content again
// (its document scripts and its address or built page).
void RecoverContentOnProcessFailure(QWidget* window, WebView::WebViewHost& host, std::function<void()> reload);
