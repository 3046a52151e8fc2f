#pragma once
// The real outcome of a print: Qt only says the job was handed to CUPS, so
// the job is followed in CUPS until it is completed, stopped or cancelled.
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <set>

#include "player/printer_list.h"

enum class PrintJobOutcome { Completed, PrinterUnavailable, Failed };

// A printer's state as CUPS reports it; one that takes no jobs counts as
// stopped. Nothing for a printer CUPS does not know.
std::optional<PrinterState> CupsPrinterState(const QString& printerName);
// Printer availability as CUPS sees it (unknown or stopped printers are unavailable).
bool PrinterAvailable(const QString& printerName);
// Ids of this user's jobs on a printer, in any state.
std::set<int> PrinterJobIds(const QString& printerName);

class PrintJobWatcher : public QObject {
    Q_OBJECT
public:
    // Follows the jobs that appear on printerName beyond knownJobs; calls done
    // once with the outcome. A job still pending after timeoutMs counts as
    // printed; a stopped, cancelled or aborted one as failed.
    PrintJobWatcher(QString printerName, std::set<int> knownJobs, std::function<void(PrintJobOutcome)> done,
                    int timeoutMs = 60000, QObject* parent = nullptr);

private:
    void Poll();
    void Finish(PrintJobOutcome outcome);

    QString printer_;
    std::set<int> known_;
    std::function<void(PrintJobOutcome)> done_;
    QTimer timer_;
    int remainingPolls_;
    bool finished_ = false;
};
