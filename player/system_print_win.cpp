// Printing from the Windows player: the spooler's printers in a small dark
// dialog built in memory, a silent print of the current page to the chosen
// printer through the runtime's print settings, and the outcome posted to
// the page.
#include <windows.h>
#include <winspool.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "common/dpi_win.h"
#include "common/message_window_win.h"
#include "links/player_content.h"
#include "player/page_builder.h"
#include "player/pdf_print.h"
#include "player/pdf_print_win.h"
#include "player/print_gate.h"
#include "player/print_notice_win.h"
#include "player/printer_list.h"
#include "player/system_print_win.h"
#include "player/web_messages.h"
#include "player/webview_host.h"
#include "player/webview_host_win.h"
#include "webview2/co_task_text_win.h"
#include "webview2/webview2_handler_win.h"

namespace WebView {

using namespace WebView2;

namespace {

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
WString FromW(const wchar_t* text) {
    return text ? WString(reinterpret_cast<const char16_t*>(text), std::wcslen(text)) : WString();
}

// Appends to a dialog template in memory: words, double words, strings.
class TemplateWriter {
public:
    void Word(WORD value) { Put(&value, sizeof value); }
    void Dword(DWORD value) { Put(&value, sizeof value); }
    void Text(const WString& text) {
        for (char16_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignToDword() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    const std::vector<BYTE>& bytes() const { return bytes_; }

private:
    void Put(const void* data, std::size_t size) {
        const auto* p = static_cast<const BYTE*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    std::vector<BYTE> bytes_;
};

// Classes of the controls, by their predefined atoms.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

void WriteItem(TemplateWriter& out, DWORD style, DWORD exStyle, short x, short y, short cx, short cy, WORD id,
               WORD classAtom, const WString& text) {
    out.AlignToDword();
    out.Dword(style);
    out.Dword(exStyle);
    out.Word(static_cast<WORD>(x));
    out.Word(static_cast<WORD>(y));
    out.Word(static_cast<WORD>(cx));
    out.Word(static_cast<WORD>(cy));
    out.Word(id);
    out.Word(0xFFFF);
    out.Word(classAtom);
    out.Text(text);
    out.Word(0); // no creation data
}

struct DialogBrushes {
    HBRUSH background;
    HBRUSH list;
};

// Created once and kept for the life of the process.
const DialogBrushes& Brushes() {
    static const DialogBrushes brushes = [] {
        using namespace PrinterDialog;
        return DialogBrushes{CreateSolidBrush(RGB(kBackground.red, kBackground.green, kBackground.blue)),
                             CreateSolidBrush(RGB(kListBackground.red, kListBackground.green, kListBackground.blue))};
    }();
    return brushes;
}

// The dialog's layout as created (Windows lays a dialog out for its
// monitor's scale), kept to lay it out again, in proportion, when it moves to
// a monitor of another scale. The program does that itself in every DPI mode,
// with Windows' own rescaling of the dialog turned off.
struct DialogLayout {
    UINT dpi = kBaseDpi;
    std::vector<std::pair<HWND, RECT>> controls; // client coordinates
    LOGFONTW font{};
    HFONT scaledFont = nullptr; // ours, once the scale has changed
};
constexpr wchar_t kLayoutProperty[] = L"TovaniPrinterDialogLayout";

void KeepLayout(HWND dialog) {
    auto* layout = new DialogLayout;
    layout->dpi = WindowDpi(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        layout->controls.emplace_back(child, rect);
    }
    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (font == nullptr || GetObjectW(font, sizeof layout->font, &layout->font) == 0) layout->font = LOGFONTW{};
    if (!SetPropW(dialog, kLayoutProperty, layout)) {
        delete layout;
        return;
    }
    TakeOverDialogDpiScaling(dialog);
}

void LayOutForDpi(HWND dialog, UINT dpi, LPARAM suggested) {
    ApplySuggestedDpiRect(dialog, suggested);
    auto* layout = static_cast<DialogLayout*>(GetPropW(dialog, kLayoutProperty));
    if (layout == nullptr) return;
    const auto scaled = [&](LONG length) { return MulDiv(length, static_cast<int>(dpi), static_cast<int>(layout->dpi)); };
    HFONT font = nullptr;
    if (layout->font.lfHeight != 0) {
        LOGFONTW description = layout->font;
        description.lfHeight = scaled(description.lfHeight);
        font = CreateFontIndirectW(&description);
    }
    for (const auto& [control, rect] : layout->controls) {
        if (font != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowPos(control, nullptr, scaled(rect.left), scaled(rect.top), scaled(rect.right - rect.left),
                     scaled(rect.bottom - rect.top), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (font != nullptr) {
        if (layout->scaledFont != nullptr) DeleteObject(layout->scaledFont);
        layout->scaledFont = font;
    }
    InvalidateRect(dialog, nullptr, TRUE);
}

void ForgetLayout(HWND dialog) {
    auto* layout = static_cast<DialogLayout*>(RemovePropW(dialog, kLayoutProperty));
    if (layout == nullptr) return;
    if (layout->scaledFont != nullptr) DeleteObject(layout->scaledFont);
    delete layout;
}

INT_PTR CALLBACK PrinterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    using namespace PrinterDialog;
    auto* state = reinterpret_cast<PrinterChoice*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<PrinterChoice*>(lParam);
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        KeepLayout(dialog);
        RECT rect{};
        GetWindowRect(dialog, &rect);
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        HWND list = GetDlgItem(dialog, kListId);
        if (state == nullptr || !state->HasChoices()) {
            ShowWindow(list, SW_HIDE);
            ShowWindow(GetDlgItem(dialog, kPrintId), SW_HIDE);
            // Enter and the keyboard go to what is left: Cancel.
            SendMessageW(dialog, DM_SETDEFID, kCancelId, 0);
            SetFocus(GetDlgItem(dialog, kCancelId));
            return FALSE;
        }
        for (const PrinterInfo& printer : state->printers())
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(PrinterLineText(printer))));
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(state->InitialRow()), 0);
        // The keyboard starts on the list (the first tab stop); Enter prints.
        SendMessageW(dialog, DM_SETDEFID, kPrintId, 0);
        return TRUE;
    }
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        if (id == kPrintId || (id == kListId && code == LBN_DBLCLK)) {
            if (state == nullptr) return TRUE;
            const LRESULT selected = SendMessageW(GetDlgItem(dialog, kListId), LB_GETCURSEL, 0, 0);
            if (state->Choose(selected)) EndDialog(dialog, 1);
            return TRUE;
        }
        if (id == kCancelId || id == IDCANCEL) {
            if (state != nullptr) state->Cancel();
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DPICHANGED:
        LayOutForDpi(dialog, DpiOfChange(wParam), lParam);
        return TRUE;
    case WM_DESTROY:
        ForgetLayout(dialog);
        return FALSE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(Brushes().background);
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(kLabelText.red, kLabelText.green, kLabelText.blue));
        SetBkColor(dc, RGB(kLabelBackground.red, kLabelBackground.green, kLabelBackground.blue));
        return reinterpret_cast<INT_PTR>(Brushes().background);
    }
    case WM_CTLCOLORLISTBOX: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(kListText.red, kListText.green, kListText.blue));
        SetBkColor(dc, RGB(kListBackground.red, kListBackground.green, kListBackground.blue));
        return reinterpret_cast<INT_PTR>(Brushes().list);
    }
    default:
        return FALSE;
    }
}

} // namespace

std::vector<BYTE> PrinterDialogTemplate() {
    using namespace PrinterDialog;
    TemplateWriter out;
    out.Dword(kDialogStyle);
    out.Dword(0);  // no extended style
    out.Word(4);   // items
    out.Word(0);
    out.Word(0);
    out.Word(260);
    out.Word(200);
    out.Word(0);   // no menu
    out.Word(0);   // the dialog class
    out.Text(kTitle);
    out.Word(10);  // points
    out.Text(u"Segoe UI");
    WriteItem(out, WS_CHILD | WS_VISIBLE, 0, 10, 8, 240, 14, kLabelId, kStaticAtom, kLabel);
    WriteItem(out, kListStyle, WS_EX_CLIENTEDGE, 10, 24, 240, 130, kListId, kListBoxAtom, u"");
    WriteItem(out, kPrintButtonStyle, 0, 100, 162, 70, 22, kPrintId, kButtonAtom, kPrintButton);
    WriteItem(out, kCancelButtonStyle, 0, 180, 162, 70, 22, kCancelId, kButtonAtom, kCancelButton);
    return out.bytes();
}

std::vector<PrinterInfo> InstalledPrinters() {
    wchar_t defaultName[256] = {};
    DWORD size = 256;
    if (!GetDefaultPrinterW(defaultName, &size)) defaultName[0] = L'\0';
    std::vector<WString> names;
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &count);
    if (needed > 0) {
        std::vector<BYTE> buffer(needed);
        if (EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &count)) {
            const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
            for (DWORD i = 0; i < count; ++i) names.push_back(FromW(printers[i].pPrinterName));
        }
    }
    return MakePrinterList(names, FromW(defaultName));
}

WString ChoosePrinter(HWND owner, const std::vector<PrinterInfo>& printers) {
    PrinterChoice state(printers);
    const std::vector<BYTE> dialog = PrinterDialogTemplate();
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), owner,
                                PrinterDialogProc, reinterpret_cast<LPARAM>(&state));
    return result == 1 ? state.Chosen() : WString();
}

namespace {

// How a print's outcome is told, whenever it comes: to the page as its
// printResult and to the learner in a notice, unless the host went meanwhile.
struct PrintAnswer {
    WebViewHost* host;
    std::weak_ptr<int> life;
    HWND owner;
    std::shared_ptr<PrintGate> gate;

    void operator()(PrintOutcome outcome) const {
        gate->Finish(outcome == PrintOutcome::Cancelled);
        if (life.expired()) return;
        host->PostWebMessageAsJson(PrintResultJson(outcome));
        ShowPrintNotice(owner, outcome);
    }
};

// A silent print of the current page through the runtime, on its settings
// for the chosen printer.
void PrintWithBrowser(const PrintAnswer& answer, const WString& chosen) {
    if (answer.life.expired()) return answer.gate->Finish(false);
    ICoreWebView2* view = ViewOf(*answer.host);
    if (view == nullptr) return answer(PrintOutcome::PrintFailed);
    auto environment6 = Query<ICoreWebView2Environment6>(EnvironmentOf(*answer.host));
    if (!environment6) return answer(PrintOutcome::EnvironmentUnavailable);
    ComPtr<ICoreWebView2PrintSettings> settings;
    if (FAILED(environment6->CreatePrintSettings(settings.Put())) || !settings)
        return answer(PrintOutcome::SettingsFailed);
    auto settings2 = Query<ICoreWebView2PrintSettings2>(settings.get());
    if (!settings2) return answer(PrintOutcome::PrinterNameFailed);
    settings2->put_PrinterName(W(chosen));
    auto view16 = Query<ICoreWebView2_16>(view);
    if (!view16) return answer(PrintOutcome::PrintApiUnavailable);
    // The handler keeps the view alive until it has told the page.
    ComPtr<ICoreWebView2> keptView(view);
    auto keep = std::make_shared<int>(0);
    const HWND owner = answer.owner;
    const std::shared_ptr<PrintGate> gate = answer.gate;
    auto handler = MakeHandler<ICoreWebView2PrintCompletedHandler>(
        [keptView, keep, gate, owner](HRESULT code, COREWEBVIEW2_PRINT_STATUS status) {
            gate->Finish(false);
            const PrintOutcome outcome = PrintCompletionOutcome(FAILED(code), status);
            keptView->PostWebMessageAsJson(W(PrintResultJson(outcome)));
            ShowPrintNotice(owner, outcome);
            return S_OK;
        },
        keep);
    if (FAILED(view16->Print(settings.get(), handler.get()))) answer(PrintOutcome::PrintFailed);
}

// A document print's work, done off the user-interface thread; its outcome
// comes back there through a message window of its own.
struct DocumentPrint {
    std::shared_ptr<PrintCancel> cancel = std::make_shared<PrintCancel>();
    bool notPdf = false; // the address holds no PDF document: the browser prints the page
    PdfPrintResult result;
    std::function<void(const DocumentPrint&)> done;
};

constexpr wchar_t kDocumentPrintClass[] = L"TovaniDocumentPrint";
constexpr UINT kDocumentPrintDone = WM_APP + 0x51;
std::atomic<int> gDocumentPrints{0};

LRESULT CALLBACK DocumentPrintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kDocumentPrintDone) return DefWindowProcW(window, message, wParam, lParam);
    std::unique_ptr<std::shared_ptr<DocumentPrint>> posted(reinterpret_cast<std::shared_ptr<DocumentPrint>*>(lParam));
    DestroyWindow(window);
    if (posted && *posted && (*posted)->done) (*posted)->done(**posted);
    return 0;
}

HWND DocumentPrintWindow() { return CreateMessageWindow(kDocumentPrintClass, DocumentPrintProc); }

// A PDF content prints as the document the view shows, fetched again from
// the address the view shows, which the owner's navigation policy must
// still allow. The host going (its window closed) calls the print off: the
// watermarking process is ended and no job is sent or kept.
void PrintDocument(WebViewHost& host, const PrintAnswer& answer, const WString& chosen) {
    ICoreWebView2* view = ViewOf(host);
    LPWSTR source = nullptr;
    const WString url = view != nullptr && SUCCEEDED(view->get_Source(&source)) ? TakeCoTaskText(source) : WString();
    bool refused = false;
    if (host.onNavigationStarting && !url.empty()) host.onNavigationStarting(url, refused);
    if (refused || url.empty()) {
        DebugLog("print: the shown document's address is not one the player shows");
        return answer(PrintOutcome::PrintFailed);
    }
    const HWND window = DocumentPrintWindow();
    if (window == nullptr) return answer(PrintOutcome::PrintFailed);
    auto print = std::make_shared<DocumentPrint>();
    HoldPrint(host, print->cancel);
    print->done = [answer, chosen](const DocumentPrint& finished) {
        if (finished.notPdf) return PrintWithBrowser(answer, chosen);
        if (!finished.result.printed) DebugLog("print: the PDF was not printed: " + finished.result.error);
        answer(finished.result.printed              ? PrintOutcome::Succeeded
               : finished.result.printerUnavailable ? PrintOutcome::PrinterUnavailable
                                                    : PrintOutcome::PrintFailed);
    };
    const WString watermark = PlayerContent.watermarkText;
    // The content's own address holds the document: what else comes from
    // there (a sign-in page, say) fails the print rather than have the
    // browser print its viewer. A page the learner went on to prints as a page.
    const bool contentAddress = url == PlayerContent.url;
    ++gDocumentPrints;
    std::thread([print, url, watermark, chosen, window, contentAddress] {
        FetchedPdf fetched = FetchPdfToPrint(url);
        if (!fetched.ok) print->result.error = fetched.error;
        else if (!LooksLikePdf(fetched.body) && contentAddress) print->result.error = "the content's address holds no PDF document";
        else if (!LooksLikePdf(fetched.body)) print->notPdf = true;
        else print->result = PrintPdfDocument(fetched.body, watermark, chosen, UrlFileName(url), *print->cancel);
        auto* posted = new std::shared_ptr<DocumentPrint>(print);
        if (!PostMessageW(window, kDocumentPrintDone, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
        --gDocumentPrints;
    }).detach();
}

} // namespace

bool DocumentPrintsUnderWay() { return gDocumentPrints.load() > 0; }

void WebViewHost::ShowSystemPrintDialog() {
    ICoreWebView2* view = ViewOf(*this);
    HWND owner = ParentOf(*this);
    if (view == nullptr || IsWindow(owner) == FALSE) return;
    // One dialog at a time (a modal dialog pumps messages, and a runtime may
    // deliver the page's next request inside it), and none right after the
    // user said no: a page that asks again and again cannot keep the dialog
    // in the user's face, nor the window from being closed.
    const std::shared_ptr<PrintGate> gate = PrintGateOf(*this);
    if (!gate->Begin()) {
        DebugLog("print request ignored: a print is under way or was just cancelled");
        return;
    }
    const PrintAnswer answer{this, LifeOf(*this), owner, gate};
    const WString chosen = ChoosePrinter(owner, InstalledPrinters());
    if (IsWindow(owner) == FALSE) {
        // The window was closed under the dialog: the program is ending.
        gate->Finish(false);
        return;
    }
    if (chosen.empty()) return answer(PrintOutcome::Cancelled);
    // The browser prints a PDF as its viewer (and some runtimes as blank
    // pages), without the watermark, which is only on the screen.
    if (IsPdfContent(PlayerContent)) return PrintDocument(*this, answer, chosen);
    PrintWithBrowser(answer, chosen);
}

} // namespace WebView
