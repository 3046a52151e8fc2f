#pragma once
// The player window's own texts, and the loading text both windows paint
// while their browser starts.
#include "common/text.h"

inline constexpr char16_t kLoadingText[] = u"جاري التحميل... Loading...";

namespace Messages {

WString PlayerInitFailedAfterRetries();
WString PlayerInitFailed();

} // namespace Messages
