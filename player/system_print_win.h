#pragma once
// Windows backend only: the printer-choice dialog of the player, its
// in-memory template and the spooler's printer list.
#include <windows.h>

#include <vector>

#include "player/printer_list.h"

namespace PrinterDialog {
inline constexpr WORD kListId = 1001;
inline constexpr WORD kPrintId = 1002;
inline constexpr WORD kCancelId = 1003;
inline constexpr WORD kLabelId = 1004;
// WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_CENTER, DS_SETFONT.
inline constexpr DWORD kDialogStyle = 0x80C808C0;
// WS_CHILD, WS_VISIBLE, WS_BORDER, WS_VSCROLL, WS_TABSTOP, LBS_NOTIFY, LBS_HASSTRINGS.
inline constexpr DWORD kListStyle = 0x50A10041;
inline constexpr DWORD kPrintButtonStyle = 0x50010001;  // a default push button
inline constexpr DWORD kCancelButtonStyle = 0x50010000; // a push button
} // namespace PrinterDialog

namespace WebView {

// The dialog as a classic template in dialog units.
std::vector<BYTE> PrinterDialogTemplate();
// The spooler's local and connected printers, the default first.
std::vector<PrinterInfo> InstalledPrinters();
// Runs the dialog modally; the chosen printer's name, or empty.
WString ChoosePrinter(HWND owner, const std::vector<PrinterInfo>& printers);
// Whether a document print's worker is still running (the program then
// ends without running its static destructors under it).
bool DocumentPrintsUnderWay();

} // namespace WebView
