#pragma once
// What the player does when a browser process ends under its content: load
// the content again, unless the last such end was less than a minute ago,
// when it ends in the diagnostic dialog instead of reloading in a loop. One
// decision for both builds.
#include <chrono>
#include <optional>
#include <string>

#include "common/text.h"

class ProcessRecovery {
public:
    using Clock = std::chrono::steady_clock;
    // A failure within this time of the previous one is not recovered.
    static constexpr std::chrono::seconds kBound{60};
    enum class Decision { Reload, GiveUp };

    Decision OnFailure(Clock::time_point now = Clock::now());

private:
    std::optional<Clock::time_point> lastFailure_;
};

// The diagnostic reasons of a content that could not be kept alive: its
// page's process, or the whole browser, ended again within kBound.
inline constexpr char kRenderProcessFailedReason[] = "render_process_failed";
inline constexpr char kBrowserProcessFailedReason[] = "browser_process_failed";

namespace ContentFailedNotice {
inline constexpr char16_t kCaption[] = u"Content Error - خطأ في المحتوى";
inline constexpr char16_t kEnglish[] =
    u"The content stopped unexpectedly again.\nIf the problem persists, send the diagnostic code below to support.";
inline constexpr char16_t kArabic[] =
    u"توقف المحتوى بشكل غير متوقع مرة أخرى.\nإذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه للدعم الفني.";
} // namespace ContentFailedNotice

// Ends the program in the diagnostic dialog with the notice above and a code
// carrying reason.
[[noreturn]] void ReportContentFailed(const std::string& reason);
