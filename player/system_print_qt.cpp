// Printing from the player: the printer choice, a silent print of the current
// page to that CUPS printer, and the real outcome posted to the page.
#include <QPrinter>
#include <QPrinterInfo>
#include <QWebEngineView>

#include <memory>

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
    if (view == nullptr) return;

    PrinterChoiceDialog dialog(InstalledPrinters(), view->window());
    const WString chosen = dialog.exec() == QDialog::Accepted ? dialog.selectedName() : WString();
    if (chosen.empty()) {
        PostWebMessageAsJson(PrintResultJson(PrintOutcome::Cancelled));
        return;
    }

    // An unknown name would silently print on the default printer: refuse it.
    const QString name = ToQString(chosen);
    const QPrinterInfo info = QPrinterInfo::printerInfo(name);
    if (info.isNull() || !PrinterAvailable(name)) {
        PostWebMessageAsJson(PrintResultJson(PrintOutcome::PrinterUnavailable));
        return;
    }

    auto printer = std::make_shared<QPrinter>(info, QPrinter::HighResolution);
    std::set<int> knownJobs = PrinterJobIds(name);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(view, &QWebEngineView::printFinished, view,
                                   [this, view, printer, name, knownJobs, connection](bool queued) {
                                       QObject::disconnect(*connection);
                                       if (!queued) {
                                           PostWebMessageAsJson(PrintResultJson(PrintOutcome::PrintFailed));
                                           return;
                                       }
                                       new PrintJobWatcher(name, knownJobs,
                                                           [this](PrintJobOutcome outcome) {
                                                               PostWebMessageAsJson(PrintResultJson(OutcomeOf(outcome)));
                                                           },
                                                           60000, view);
                                   });
    view->print(printer.get());
}

} // namespace WebView
