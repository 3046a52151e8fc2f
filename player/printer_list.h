#pragma once
// The printer-choice dialog's data: the rows, their order and line texts, and
// the dialog's fixed texts and colours (the windows draw it themselves).
#include <cstdint>
#include <utility>
#include <vector>

#include "common/text.h"

// What the print system says of a printer, where it says it (the Linux
// player asks CUPS; unknown elsewhere).
enum class PrinterState { Unknown, Idle, Printing, Stopped };

struct PrinterInfo {
    WString name;
    bool isDefault = false;
    PrinterState state = PrinterState::Unknown;
};

// One row per installed printer, the default marked (names compared
// ignoring the case of A to Z).
std::vector<PrinterInfo> MakePrinterList(const std::vector<WString>& names, const WString& defaultName);
// Default printer first, then by name in UTF-16 code-unit order (so "Zeta"
// comes before "alpha").
void SortPrinters(std::vector<PrinterInfo>& printers);
// The list line: the name, plus "  ★" for the default printer, plus the
// printer's state in brackets where it is known ("  (stopped)").
WString PrinterLineText(const PrinterInfo& printer);

// What both printer dialogs do with their rows: with nothing to choose only
// the label and Cancel show; otherwise the first row whose printer is not
// stopped starts selected (none when all are). A choice needs a row that
// names a printer; Cancel (or closing) chooses none.
class PrinterChoice {
public:
    explicit PrinterChoice(std::vector<PrinterInfo> printers) : printers_(std::move(printers)) {}
    const std::vector<PrinterInfo>& printers() const { return printers_; }
    bool HasChoices() const { return !printers_.empty(); }
    int InitialRow() const;
    // True (and the row's printer chosen) when the row names a printer.
    bool Choose(long long row);
    void Cancel() { chosen_.clear(); }
    // The chosen printer's name; empty when none was chosen.
    const WString& Chosen() const { return chosen_; }

private:
    std::vector<PrinterInfo> printers_;
    WString chosen_;
};

struct DialogColour {
    std::uint8_t red, green, blue;
};

namespace PrinterDialog {
inline constexpr char16_t kTitle[] = u"🖨 Select Printer";
inline constexpr char16_t kLabel[] = u"Choose the printer to print this page on:";
inline constexpr char16_t kPrintButton[] = u"🖶  Print";
inline constexpr char16_t kCancelButton[] = u"Cancel";
inline constexpr char16_t kDefaultMark[] = u"  ★";
inline constexpr char16_t kStateIdle[] = u"  (idle)";
inline constexpr char16_t kStatePrinting[] = u"  (printing)";
inline constexpr char16_t kStateStopped[] = u"  (stopped)";

inline constexpr DialogColour kBackground{30, 30, 30};
inline constexpr DialogColour kLabelText{240, 240, 240};
inline constexpr DialogColour kLabelBackground{30, 30, 30};
inline constexpr DialogColour kListText{230, 230, 230};
inline constexpr DialogColour kListBackground{45, 45, 45};
} // namespace PrinterDialog
