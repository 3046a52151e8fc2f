#include "player/print_job_qt.h"

#include <cups/cups.h>

namespace {

constexpr int kPollIntervalMs = 250;

struct Jobs {
    cups_job_t* list = nullptr;
    int count = 0;
    Jobs(const QString& printer, int which) {
        const QByteArray name = printer.toUtf8();
        count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, name.constData(), 1, which);
    }
    ~Jobs() {
        if (list != nullptr) cupsFreeJobs(count, list);
    }
};

} // namespace

std::optional<PrinterState> CupsPrinterState(const QString& printerName) {
    if (printerName.isEmpty()) return std::nullopt;
    const QByteArray name = printerName.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
    if (dest == nullptr) return std::nullopt;
    PrinterState state = PrinterState::Unknown;
    if (const char* value = cupsGetOption("printer-state", dest->num_options, dest->options)) {
        const QByteArray code(value);
        if (code == "3") state = PrinterState::Idle;           // IPP_PSTATE_IDLE
        else if (code == "4") state = PrinterState::Printing;  // IPP_PSTATE_PROCESSING
        else if (code == "5") state = PrinterState::Stopped;   // IPP_PSTATE_STOPPED
    }
    if (const char* accepting = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options)) {
        if (QByteArray(accepting) == "false") state = PrinterState::Stopped;
    }
    cupsFreeDests(1, dest);
    return state;
}

bool PrinterAvailable(const QString& printerName) {
    const std::optional<PrinterState> state = CupsPrinterState(printerName);
    return state && *state != PrinterState::Stopped;
}

std::set<int> PrinterJobIds(const QString& printerName) {
    std::set<int> ids;
    Jobs jobs(printerName, CUPS_WHICHJOBS_ALL);
    for (int i = 0; i < jobs.count; ++i) ids.insert(jobs.list[i].id);
    return ids;
}

PrintJobWatcher::PrintJobWatcher(QString printerName, std::set<int> knownJobs, std::function<void(PrintJobOutcome)> done,
                                 int timeoutMs, QObject* parent)
    : QObject(parent), printer_(std::move(printerName)), known_(std::move(knownJobs)), done_(std::move(done)),
      remainingPolls_(timeoutMs / kPollIntervalMs) {
    connect(&timer_, &QTimer::timeout, this, &PrintJobWatcher::Poll);
    timer_.start(kPollIntervalMs);
    Poll();
}

void PrintJobWatcher::Poll() {
    if (finished_) return;
    Jobs jobs(printer_, CUPS_WHICHJOBS_ALL);
    bool pending = false;
    bool seen = false;
    for (int i = 0; i < jobs.count; ++i) {
        const cups_job_t& job = jobs.list[i];
        if (known_.count(job.id) != 0) continue;
        seen = true;
        switch (job.state) {
        case IPP_JSTATE_COMPLETED: break;
        case IPP_JSTATE_STOPPED:
            // A stopped job on a stopped printer never prints by itself.
            return Finish(PrinterAvailable(printer_) ? PrintJobOutcome::Failed : PrintJobOutcome::PrinterUnavailable);
        case IPP_JSTATE_CANCELED:
        case IPP_JSTATE_ABORTED: return Finish(PrintJobOutcome::Failed);
        default: pending = true; break;
        }
    }
    if (seen && !pending) return Finish(PrintJobOutcome::Completed);
    if (--remainingPolls_ > 0) return;
    // A job CUPS accepted and is still working on (a long document, a slow
    // printer) has been printed as far as we can tell. Without any job, the
    // print never reached the printer: unavailable only when it is.
    if (seen) return Finish(PrintJobOutcome::Completed);
    Finish(PrinterAvailable(printer_) ? PrintJobOutcome::Failed : PrintJobOutcome::PrinterUnavailable);
}

void PrintJobWatcher::Finish(PrintJobOutcome outcome) {
    if (finished_) return;
    finished_ = true;
    timer_.stop();
    if (done_) done_(outcome);
    deleteLater();
}
