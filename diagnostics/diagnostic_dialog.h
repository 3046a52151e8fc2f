#pragma once
// The dialog that ends the program after an error the user should report: it
// runs in its own process, shows the code and leaves it on the clipboard.
#include <string>

#include "common/text.h"

[[noreturn]] void DiagnosticDialog(const WString& title, const WString& text, const WString& arabicText,
                                   const std::string& code);
// What shows the dialog's text when its own process cannot be started: a
// message box of the program's user interface (none in the tool).
using DiagnosticFallbackBox = void (*)(const WString& caption, const WString& text);
void SetDiagnosticFallback(DiagnosticFallbackBox show);
// Ends the process at once with exit code 0, skipping all clean-up.
[[noreturn]] void HardExit();
// Ends browser processes this process started, so none outlives it.
void ChildBrowserSweep();
// The dialog is on its way and the program ends with it: nothing may start or
// load the browser again meanwhile (a fallback message box runs the message
// loop of the windows still open).
bool DiagnosticUnderway();
void MarkDiagnosticUnderway();
// The plain text shown when the dialog process cannot start (and on standard
// error when there is no display).
WString DiagnosticFallbackText(const WString& text, const WString& arabicText, const std::string& code);
