// The browser processes under the Windows host, under Wine, against the
// stand-in runtime: a page's renderer and the whole browser process ending
// under a ready host, as the runtime reports them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/webview_host_win.h"
#include "tests/support/standin_runtime_win.h"
#include "tests/support/test_support.h"

using TestSupport::StandInSession;

namespace {

constexpr char kPage[] = "https://127.0.0.1:47443/media/page.html";
constexpr char kOther[] = "https://127.0.0.1:47443/media/other.html";

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeOwnerWindow() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TovaniBrowserProcessOwner";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    return CreateWindowExW(0, L"TovaniBrowserProcessOwner", L"browser process test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           0, 0, 800, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done()) {
        if (GetTickCount() > end) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    return true;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// The stand-in's window for the view inside the owner window.
HWND ViewWindow(HWND owner) { return FindWindowExW(owner, nullptr, L"TovaniStandInBrowser", nullptr); }

class BrowserProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TestSupport::InstallStandInRuntime(), "");
        window = MakeOwnerWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        host.reset();
        if (window) DestroyWindow(window);
    }

    bool Start() {
        host = std::make_unique<WebView::WebViewHost>();
        host->onProcessFailed = [this](WebView::BrowserProcessFailure failure) { failures.push_back(failure); };
        return host->Initialize(window, u"C:\\users\\tovani\\WebView2Data", 3);
    }

    HWND window = nullptr;
    std::unique_ptr<WebView::WebViewHost> host;
    std::vector<WebView::BrowserProcessFailure> failures;
};

} // namespace

// A renderer's end leaves the view usable; the browser's end kills the view
// and its controller until a new environment and controller are made.
TEST_F(BrowserProcessTest, RendererAndBrowserEndsAsTheRuntimeReportsThem) {
    StandInSession session("process-failed", "once page.html process-failed 1\n"
                                             "once other.html process-failed 0\n");
    ASSERT_TRUE(Start());
    host->Navigate(Utf8ToWide(kPage));
    std::vector<std::string> journal;
    ASSERT_TRUE(PumpUntil([&] { return !failures.empty(); })) << "no renderer failure reported";
    EXPECT_EQ(failures, std::vector<WebView::BrowserProcessFailure>{WebView::BrowserProcessFailure::Page});
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, "Page process-failed 1"));
    EXPECT_TRUE(Has(journal, "ProcessFailed kind=1"));
    EXPECT_TRUE(Has(journal, "WebView.add_ProcessFailed"));

    // The view still loads.
    host->Navigate(Utf8ToWide(kOther));
    ASSERT_TRUE(PumpUntil([&] { return failures.size() == 2; })) << "no browser failure reported";
    EXPECT_EQ(failures.back(), WebView::BrowserProcessFailure::Browser);
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, std::string("Loaded ") + kOther));
    EXPECT_TRUE(Has(journal, "ProcessFailed kind=0 browser process exited"));
    // The browser's window went with its process.
    const HWND view = ViewWindow(window);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(IsWindowVisible(view));

    // The dead view refuses what it is asked.
    host->Navigate(Utf8ToWide(kPage));
    host->SetBounds(0, 0, 300, 200);
    journal = session.Journal();
    EXPECT_TRUE(Has(journal, "DEAD VIEW call WebView.Navigate"));
    EXPECT_TRUE(Has(journal, "DEAD VIEW call Controller.put_Bounds"));
    EXPECT_EQ(Count(journal, std::string("Loaded ") + kPage), 1u);

    // A new environment and controller serve again.
    host.reset();
    ASSERT_TRUE(Start());
    host->Navigate(Utf8ToWide(kPage));
    ASSERT_TRUE(PumpUntil([&] { return Count(session.Journal(), std::string("Loaded ") + kPage) == 2; }));
    EXPECT_EQ(Count(session.Journal(), "UNEXPECTED"), 0u);
}
