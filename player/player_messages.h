#pragma once
// The player window's own texts, and the loading text both windows paint
// while their browser starts.
#include "common/text.h"
#include "player/web_messages.h"

inline constexpr char16_t kLoadingText[] = u"جاري التحميل... Loading...";

namespace Messages {

WString PlayerInitFailedAfterRetries();
WString PlayerInitFailed();
// The window's notice after a print, English then Arabic: printed, printer
// unavailable, or failed; nothing for a cancelled print.
WString PrintNotice(PrintOutcome outcome);
// While the content comes back after the browser's page (or whole browser)
// process ended under it, English then Arabic.
WString ContentRecovering();

} // namespace Messages
