// The browser's requests to pinned hosts, fetched off the user-interface
// thread and handed back to it whole.
#include "player/pinned_traffic_win.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <thread>

#include "common/message_window_win.h"
#include "player/browser_rules.h"
#include "service/pins.h"

namespace {

constexpr UINT kFetched = WM_APP + 41;
constexpr wchar_t kFetchWindowClass[] = L"TovaniPinnedFetch";

LRESULT CALLBACK FetchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFetched) {
        std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        (*task)();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void FetchPinnedLater(BrowserFetchRequest request, std::function<void(BrowserFetchResult)> done) {
    // One message-only window per user-interface thread receives the answers.
    thread_local HWND window = CreateMessageWindow(kFetchWindowClass, FetchWindowProc);
    std::thread([request = std::move(request), done = std::move(done), target = window]() mutable {
        auto result = std::make_shared<BrowserFetchResult>(FetchForBrowser(request));
        const std::optional<WString> host = HttpsHostOf(request.url);
        if (result->outcome == BrowserFetchResult::Outcome::PinMismatch && host && IsPrimaryDomainHost(*host)) {
            if (const std::optional<PinEntry> entry = FindPinEntry(*host))
                ValidateServerPinsAgainst(result->chain, *host, *entry);
        }
        auto* task = new std::function<void()>([result, done = std::move(done)] { done(std::move(*result)); });
        if (!PostMessageW(target, kFetched, 0, reinterpret_cast<LPARAM>(task))) delete task;
    }).detach();
}
