#include "diagnostics/diagnostic_dialog.h"

namespace {
bool underway = false;
} // namespace

bool DiagnosticUnderway() { return underway; }
void MarkDiagnosticUnderway() { underway = true; }

WString DiagnosticFallbackText(const WString& text, const WString& arabicText, const std::string& code) {
    return text + u"\n\n" + arabicText + u"\n\nDiagnostic Code:\n" + WidenAscii(code);
}
