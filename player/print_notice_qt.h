#pragma once
// Short notices shown inside a window, in both languages, over the browser:
// the print's outcome beside the printResult the page gets, and the content
// coming back after its page's process ended.
#include <QString>

#include "common/text.h"
#include "player/web_messages.h"

class QLabel;
class QWidget;

// How long the print's notice stays.
inline constexpr int kPrintNoticeMs = 5000;

// Shows text at the bottom centre of window under the object name name,
// replacing an earlier notice of that name, on the given background colour
// (a style sheet colour). It goes by itself after ms, or with 0 only when
// deleted. Null for no window or no text.
QLabel* ShowWindowNotice(QWidget* window, const QString& name, const WString& text, const QString& background,
                         int ms);

// Shows the notice for outcome over window (a newer one replaces it); a
// cancelled print shows none.
void ShowPrintNotice(QWidget* window, PrintOutcome outcome);
