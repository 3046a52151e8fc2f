#pragma once
// Windows backend only: the print's outcome shown over the player window, in
// both languages, beside the printResult the page gets.
#include <windows.h>

#include "player/web_messages.h"

inline constexpr wchar_t kPrintNoticeClass[] = L"TovaniPrintNotice";
// How long the notice stays.
inline constexpr UINT kPrintNoticeMs = 5000;

// Shows the notice for outcome at the bottom centre of owner (a newer one
// replaces it); a cancelled print shows none. The notice's window text is
// the notice's text.
void ShowPrintNotice(HWND owner, PrintOutcome outcome);
