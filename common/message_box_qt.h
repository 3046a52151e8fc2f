#pragma once
// Message boxes of the Linux shell: topmost, bilingual texts as plain text
// (bounded, without control characters), an optional right-to-left layout.
// Without a display the text goes to standard error and the answer is the
// one that changes nothing.
#include "common/message_box.h"
#include "common/text.h"

class QWidget;

MessageAnswer ShowMessageBox(const WString& text, const WString& caption, MessageIcon icon, MessageButtons buttons,
                             bool rightToLeft = false, QWidget* owner = nullptr);
bool DisplayAvailable();
