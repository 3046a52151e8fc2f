// Printing from the player: the printer choice, a silent print to that CUPS
// printer (a PDF from the document itself, any other page through the
// browser), and the real outcome posted to the page and shown in the window.
#include <QFutureWatcher>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPointer>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

#include "common/debug_log.h"
#include "common/qt_text.h"
#include "links/player_content.h"
#include "player/browser_page_qt.h"
#include "player/page_builder.h"
#include "player/pdf_print_qt.h"
#include "player/pdf_watermark_process_qt.h"
#include "player/print_gate.h"
#include "player/print_job_qt.h"
#include "player/print_notice_qt.h"
#include "player/printer_dialog_qt.h"
#include "player/web_messages.h"
#include "player/webview_host.h"
#include "player/webview_host_qt.h"

namespace WebView {

namespace {


std::vector<PrinterInfo> InstalledPrinters() {
    std::vector<WString> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(FromQString(name));
    std::vector<PrinterInfo> printers = MakePrinterList(names, FromQString(QPrinterInfo::defaultPrinterName()));
    for (PrinterInfo& printer : printers)
        printer.state = CupsPrinterState(ToQString(printer.name)).value_or(PrinterState::Unknown);
    return printers;
}

PrintOutcome OutcomeOf(PrintJobOutcome job) {
    switch (job) {
    case PrintJobOutcome::Completed: return PrintOutcome::Succeeded;
    case PrintJobOutcome::PrinterUnavailable: return PrintOutcome::PrinterUnavailable;
    case PrintJobOutcome::Failed: break;
    }
    return PrintOutcome::PrintFailed;
}

// Whether the job reached the printer's queue; CUPS then tells the outcome.
using JobSpooled = std::function<void(bool spooled)>;

void PrintThroughBrowser(QWebEngineView* view, const std::shared_ptr<QPrinter>& printer, const JobSpooled& spooled) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(view, &QWebEngineView::printFinished, view,
                                   [printer, connection, spooled](bool queued) {
                                       QObject::disconnect(*connection);
                                       spooled(queued);
                                   });
    view->print(printer.get());
}

// The document comes the way the browser got it: from the address the view
// shows, which the owner's navigation policy must still allow. Fetching,
// watermarking and sending run off the user-interface thread; the answer comes back on it,
// unless the view went meanwhile. The view going (its window closed) calls
// the print off: the watermarking process is killed and no job is sent (a
// fetch under way still runs to its own deadline, then stops there).
void PrintPdf(WebViewHost& host, QWebEngineView* view, const std::shared_ptr<QPrinter>& printer,
              const JobSpooled& spooled) {
    const WString url = view->url().toString(QUrl::FullyEncoded).toStdU16String();
    bool cancel = false;
    if (host.onNavigationStarting) host.onNavigationStarting(url, cancel);
    if (cancel || url.empty()) {
        DebugLog("print: the shown document's address is not one the player shows");
        return spooled(false);
    }
    const WString watermark = IsPdfContent(PlayerContent) ? PlayerContent.watermarkText : WString();
    auto* watcher = new QFutureWatcher<PdfPrintResult>(view);
    const auto calledOff = std::make_shared<PrintCancel>();
    QObject::connect(watcher, &QObject::destroyed, [calledOff] { calledOff->Cancel(); });
    QObject::connect(watcher, &QFutureWatcher<PdfPrintResult>::finished, watcher, [watcher, spooled] {
        const PdfPrintResult result = watcher->result();
        watcher->deleteLater();
        if (!result.printed) DebugLog("print: the PDF was not printed: " + result.error);
        spooled(result.printed);
    });
    const QString name = printer->printerName();
    const int copies = printer->copyCount();
    watcher->setFuture(QtConcurrent::run(
        [url, watermark, name, copies, calledOff] { return FetchAndPrintPdf(url, watermark, name, copies, *calledOff); }));
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
        if (!guard) return;
        PostWebMessageAsJson(PrintResultJson(outcome));
        ShowPrintNotice(guard->window(), outcome);
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
    const std::set<int> knownJobs = PrinterJobIds(name);
    const JobSpooled spooled = [guard, name, knownJobs, answer](bool queued) {
        if (!queued || !guard) return answer(PrintOutcome::PrintFailed);
        new PrintJobWatcher(
            name, knownJobs, [answer](PrintJobOutcome outcome) { answer(OutcomeOf(outcome)); }, 60000, guard.data());
    };
    // The browser prints a PDF as its viewer's toolbar and thumbnails: what
    // the view shows decides (asked in a world of the player's own, which
    // the page's scripts cannot reach).
    page->runJavaScript(QStringLiteral("document.contentType"), QWebEngineScript::ApplicationWorld,
                        [this, guard, printer, spooled](const QVariant& type) {
                            if (!guard) return spooled(false);
                            if (type.toString() == QLatin1String("application/pdf"))
                                PrintPdf(*this, guard.data(), printer, spooled);
                            else
                                PrintThroughBrowser(guard.data(), printer, spooled);
                        });
}

} // namespace WebView
