#pragma once
// Windows backend only: the program's message boxes. Always topmost and
// brought to the foreground, since they may appear over the splash, with no
// owner unless one is given; a right-to-left box for texts written that way.
#include <windows.h>

#include "common/message_box.h"
#include "common/text.h"

MessageAnswer ShowMessageBox(const WString& text, const WString& caption, MessageIcon icon, MessageButtons buttons,
                             bool rightToLeft = false, HWND owner = nullptr);
// The style bits of such a box.
UINT MessageBoxStyle(MessageIcon icon, MessageButtons buttons, bool rightToLeft);
