#include "diagnostics/diagnostic_dialog.h"

WString DiagnosticFallbackText(const WString& text, const WString& arabicText, const std::string& code) {
    return text + u"\n\n" + arabicText + u"\n\nDiagnostic Code:\n" + WidenAscii(code);
}
