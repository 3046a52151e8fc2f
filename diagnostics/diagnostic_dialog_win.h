#pragma once
// Windows backend only: the pieces of the diagnostic dialog that can be
// checked without ending the process.
#include <string>

#include "common/text.h"

// The command line of the system's mshta that shows the dialog: the whole
// page travels in an "about:" address, every inserted text escaped for HTML.
WString DiagnosticDialogCommandLine(const WString& title, const WString& text, const WString& arabicText,
                                    const std::string& code);
// Starts the program at that full path with this command line, no console and
// no inherited handles; true when the process was created.
bool StartDetached(const WString& program, const WString& commandLine);
// Puts the code on the clipboard as CF_TEXT; false when the clipboard was
// not available.
bool CopyCodeToClipboard(const std::string& code);
