// Printing from the player: the printer choice, a silent print of the current
// page to that CUPS printer, and the real outcome posted to the page.
#include <QPrinter>
#include <QPrinterInfo>
#include <QPointer>
#include <QWebEngineView>

#include <memory>

#include "common/debug_log.h"
#include "player/browser_page_qt.h"
#include "player/print_gate.h"
#include "player/print_job_qt.h"
#include "player/printer_dialog_qt.h"
#include "player/web_messages.h"
#include "player/webview_host.h"
#include "player/webview_host_qt.h"

namespace WebView {

namespace {

WString FromQString(const QString& text) { return WString(reinterpret_cast<const char16_t*>(text.utf16()), text.size()); }
QString ToQString(const WString& text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }

std::vector<PrinterInfo> InstalledPrinters() {
    std::vector<WString> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(FromQString(name));
    return MakePrinterList(names, FromQString(QPrinterInfo::defaultPrinterName()));
}

PrintOutcome OutcomeOf(PrintJobOutcome job) {
    switch (job) {
    case PrintJobOutcome::Completed: return PrintOutcome::Succeeded;
    case PrintJobOutcome::PrinterUnavailable: return PrintOutcome::PrinterUnavailable;
    case PrintJobOutcome::Failed: break;
    }
    return PrintOutcome::PrintFailed;
}

} // namespace

void WebViewHost::ShowSystemPrintDialog() {
    QWebEngineView* view = ViewOf(*this);
    BrowserPage* page = PageOf(*this);
    if (view == nullptr || page == nullptr) return;
    // One print at a time: a request that arrives while the dialog is open
    // or a print is under way (the dialog's own loop delivers page messages)
    // would stack a second dialog and take the first one's answer; and none
    // right after the user said no, so a page that asks again and again
    // cannot keep the dialog in the user's face.
    const std::shared_ptr<PrintGate> gate = PrintGateOf(*this);
    if (!gate->Begin()) {
        DebugLog("print request ignored: a print is under way or was just cancelled");
        return;
    }
    QPointer<QWebEngineView> guard(view);
    const auto answer = [this, guard, gate](PrintOutcome outcome) {
        gate->Finish(outcome == PrintOutcome::Cancelled);
        if (guard) PostWebMessageAsJson(PrintResultJson(outcome));
    };

    // Shown as the page's own dialogs are: not modal to the window, whose
    // close request must always get through (a modal dialog would make it
    // refuse), and dismissed when the window goes. Requests the page makes
    // meanwhile are turned away above.
    QPointer<PrinterChoiceDialog> dialog = new PrinterChoiceDialog(InstalledPrinters(), view->window());
    const std::optional<int> result = page->RunHostDialog(dialog.data());
    if (!result || !guard) {
        // The window is closing: nothing more to print or to tell.
        gate->Finish(false);
        return;
    }
    const WString chosen = *result == QDialog::Accepted && dialog ? dialog->selectedName() : WString();
    if (chosen.empty()) return answer(PrintOutcome::Cancelled);

    // An unknown name would silently print on the default printer: refuse it.
    const QString name = ToQString(chosen);
    const QPrinterInfo info = QPrinterInfo::printerInfo(name);
    if (info.isNull() || !PrinterAvailable(name)) return answer(PrintOutcome::PrinterUnavailable);

    auto printer = std::make_shared<QPrinter>(info, QPrinter::HighResolution);
    std::set<int> knownJobs = PrinterJobIds(name);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(view, &QWebEngineView::printFinished, view,
                                   [view, printer, name, knownJobs, connection, answer](bool queued) {
                                       QObject::disconnect(*connection);
                                       if (!queued) return answer(PrintOutcome::PrintFailed);
                                       new PrintJobWatcher(
                                           name, knownJobs,
                                           [answer](PrintJobOutcome outcome) { answer(OutcomeOf(outcome)); }, 60000,
                                           view);
                                   });
    view->print(printer.get());
}

} // namespace WebView
