#pragma once
// The user-facing texts of the application shell: English, a line feed, Arabic.
#include "common/text.h"
#include "player/player_messages.h"

namespace Messages {

WString UnsupportedOs();
WString StartupWindowFailed();
WString LinkErrorTitle();
WString LinkErrorText();
WString LinkErrorArabic();
WString ServerErrorCaption(); // "Tovani - خطأ"
WString UpdateAvailable();
WString UpdateRequired();
WString InitScreenInitFailed();
// The service could not be reached at all (no connection was made).
WString CannotReachService();
WString ConnectionErrorCaption();
// On the splash while start-up waits on the network; the button gives up.
WString ConnectingNotice();
WString ConnectingGiveUp();

} // namespace Messages
