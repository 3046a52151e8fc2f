#pragma once
// Windows backend only: the download of the browser runtime's installer, the
// way a browser fetches a file. It follows https redirects (a bounded number,
// never to another scheme), goes through the system's proxy settings,
// accepts files up to kMaxInstallerBytes, and gives up on a line that stays
// silent for kInactivityMs rather than on a slow one. A pinned platform host
// is trusted by its pins, every other host by ordinary validation; either
// way the server is checked before a request byte leaves.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/text.h"

inline constexpr std::uint64_t kMaxInstallerBytes = 512ull * 1024 * 1024;
inline constexpr int kMaxInstallerRedirects = 10;
inline constexpr DWORD kInactivityMs = 30000;

class InstallerDownload {
public:
    enum class Outcome { Done, Failed, Cancelled };
    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string reason;     // why it failed, for the log
        std::uint64_t bytes = 0; // written to the file
        WString finalUrl;       // the address the body came from
    };

    // Fetches url into file (an open handle with write access, at its
    // start). Blocks; runs on a thread of its own while the caller shows
    // progress.
    Result Run(const WString& url, HANDLE file);

    // From any thread: ends the download soon; a transfer under way is cut
    // off. timedOut tells the caller's watchdog apart from the user.
    void Cancel(bool timedOut = false);

    // Progress, readable from any thread.
    std::uint64_t Received() const { return received_.load(); }
    std::uint64_t Total() const { return total_.load(); } // 0: not announced
    // GetTickCount64 of the last sign of life of the line.
    std::uint64_t LastActivity() const { return lastActivity_.load(); }
    bool Finished() const { return finished_.load(); }

private:
    struct Hop;
    Result Fetch(const WString& url, HANDLE file);
    bool Cancelled() const { return cancelled_.load(); }
    // The request whose body is being read, which Cancel may cut off.
    bool Attach(HINTERNET request);
    // True when this thread still owns the request (Cancel did not close it).
    bool Detach();

    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<std::uint64_t> lastActivity_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> timedOut_{false};
    std::mutex lock_;             // guards attached_
    HINTERNET attached_ = nullptr;
    bool attachedClosed_ = false; // Cancel closed attached_
};

// The proxy WinHTTP should use for url under the user's Internet settings:
// automatic detection or a configuration script where set, otherwise the
// named proxy with its bypass list, otherwise none (accessType
// WINHTTP_ACCESS_TYPE_NO_PROXY).
struct ProxyChoice {
    DWORD accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    WString proxy;
    WString bypass;
};
ProxyChoice SystemProxyFor(const WString& url);

// The absolute address a Location header names, seen from base; empty when
// it is not an https address (another scheme, or a damaged text).
WString ResolveRedirect(const WString& base, const WString& location);
