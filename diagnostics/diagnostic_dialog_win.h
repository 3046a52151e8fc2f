#pragma once
// Windows backend only: the pieces of the diagnostic dialog that can be
// checked without ending the process.
#include <string>

#include "common/text.h"

// The mshta command line that shows the dialog: the whole page travels in an
// "about:" address. The inserted texts are not escaped.
WString DiagnosticDialogCommandLine(const WString& title, const WString& text, const WString& arabicText,
                                    const std::string& code);
// Starts a program with no console and no inherited handles; true when the
// process was created.
bool StartDetached(const WString& commandLine);
// Puts the code on the clipboard as CF_TEXT; false when the clipboard was
// not available.
bool CopyCodeToClipboard(const std::string& code);
