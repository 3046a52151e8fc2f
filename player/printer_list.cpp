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
    return printer.isDefault ? printer.name + PrinterDialog::kDefaultMark : printer.name;
}

bool PrinterChoice::Choose(long long row) {
    if (row < 0 || static_cast<unsigned long long>(row) >= printers_.size()) return false;
    chosen_ = printers_[static_cast<std::size_t>(row)].name;
    return true;
}
