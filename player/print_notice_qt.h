#pragma once
// The print's outcome shown briefly inside the window, in both languages,
// beside the printResult the page gets.
#include "player/web_messages.h"

class QWidget;

// How long the notice stays.
inline constexpr int kPrintNoticeMs = 5000;

// Shows the notice for outcome over window (a newer one replaces it); a
// cancelled print shows none.
void ShowPrintNotice(QWidget* window, PrintOutcome outcome);
