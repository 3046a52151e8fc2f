#include "player/printer_list.h"

#include <algorithm>

std::vector<PrinterInfo> MakePrinterList(const std::vector<WString>& names, const WString& defaultName) {
    const WString lowerDefault = ToLowerCopy(defaultName);
    std::vector<PrinterInfo> printers;
    printers.reserve(names.size());
    for (const WString& name : names) {
        printers.push_back(PrinterInfo{name, ToLowerCopy(name) == lowerDefault});
    }
    SortPrinters(printers);
    return printers;
}

void SortPrinters(std::vector<PrinterInfo>& printers) {
    std::stable_sort(printers.begin(), printers.end(), [](const PrinterInfo& a, const PrinterInfo& b) {
        if (a.isDefault != b.isDefault) return a.isDefault;
        // std::u16string compares code units as unsigned values, exactly as wanted.
        return a.name < b.name;
    });
}

WString PrinterLineText(const PrinterInfo& printer) {
    WString line = printer.isDefault ? printer.name + PrinterDialog::kDefaultMark : printer.name;
    switch (printer.state) {
    case PrinterState::Unknown: break;
    case PrinterState::Idle: line += PrinterDialog::kStateIdle; break;
    case PrinterState::Printing: line += PrinterDialog::kStatePrinting; break;
    case PrinterState::Stopped: line += PrinterDialog::kStateStopped; break;
    }
    return line;
}

int PrinterChoice::InitialRow() const {
    // A stopped printer would take the job and never print it.
    for (std::size_t i = 0; i < printers_.size(); ++i)
        if (printers_[i].state != PrinterState::Stopped) return static_cast<int>(i);
    return -1;
}

bool PrinterChoice::Choose(long long row) {
    if (row < 0 || static_cast<unsigned long long>(row) >= printers_.size()) return false;
    chosen_ = printers_[static_cast<std::size_t>(row)].name;
    return true;
}
