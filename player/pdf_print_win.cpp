#include "player/pdf_print_win.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "player/pdf_watermark_process_win.h"

namespace {

// The job goes to the spooler in pieces of this size, the call-off looked at between them.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr DWORD kFollowLookMs = 250;
// A printer in any of these states takes no job now.
constexpr DWORD kPrinterUnavailable = PRINTER_STATUS_PAUSED | PRINTER_STATUS_ERROR | PRINTER_STATUS_PENDING_DELETION |
                                      PRINTER_STATUS_OFFLINE | PRINTER_STATUS_NOT_AVAILABLE | PRINTER_STATUS_DOOR_OPEN |
                                      PRINTER_STATUS_NO_TONER | PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_USER_INTERVENTION;
// A job in any of these states waits on the printer.
constexpr DWORD kJobStuck = JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT | JOB_STATUS_BLOCKED_DEVQ |
                            JOB_STATUS_USER_INTERVENTION;

PdfPrintResult Failed(std::string why, bool printerUnavailable = false) {
    PdfPrintResult result;
    result.error = std::move(why);
    result.printerUnavailable = printerUnavailable;
    return result;
}

std::string ErrorText(const char* what) { return std::string(what) + ": error " + std::to_string(GetLastError()); }

class Printer {
public:
    explicit Printer(const WString& name) {
        PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ACCESS_USE};
        std::wstring copy(name.begin(), name.end());
        if (!OpenPrinterW(copy.data(), &handle_, &access)) handle_ = nullptr;
    }
    ~Printer() {
        if (handle_ != nullptr) ClosePrinter(handle_);
    }
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
    HANDLE handle() const { return handle_; }

    // The printer's port and state, as the spooler knows them.
    bool Describe(std::wstring& port, DWORD& status) const {
        DWORD needed = 0;
        GetPrinterW(handle_, 2, nullptr, 0, &needed);
        if (needed == 0) return false;
        std::vector<BYTE> buffer(needed);
        if (!GetPrinterW(handle_, 2, buffer.data(), needed, &needed)) return false;
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        port = info->pPortName != nullptr ? info->pPortName : L"";
        status = info->Status;
        return true;
    }

    // The job's state; false once the job has left the queue.
    bool JobStatus(DWORD job, DWORD& status) const {
        DWORD needed = 0;
        GetJobW(handle_, job, 1, nullptr, 0, &needed);
        if (needed == 0) return false;
        std::vector<BYTE> buffer(needed);
        if (!GetJobW(handle_, job, 1, buffer.data(), needed, &needed)) return false;
        status = reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->Status;
        return true;
    }

    // The queue's jobs named name: their ids.
    std::set<DWORD> JobsNamed(const std::wstring& name) const {
        std::set<DWORD> ids;
        DWORD needed = 0, count = 0;
        EnumJobsW(handle_, 0, 0xFFFF, 1, nullptr, 0, &needed, &count);
        if (needed == 0) return ids;
        std::vector<BYTE> buffer(needed);
        if (!EnumJobsW(handle_, 0, 0xFFFF, 1, buffer.data(), needed, &needed, &count)) return ids;
        const auto* jobs = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            if (jobs[i].pDocument != nullptr && name == jobs[i].pDocument) ids.insert(jobs[i].JobId);
        return ids;
    }

private:
    HANDLE handle_ = nullptr;
};

// Follows a job the spooler has whole until it leaves the queue: printed,
// taken back in the queue, or held by the printer. One still there after
// kPrintJobFollowMs counts as printed (a printer busy with others' jobs);
// called off meanwhile, it is deleted.
PdfPrintResult FollowJob(Printer& printer, DWORD job, PrintCancel& cancel) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPrintJobFollowMs);
    DWORD status = 0;
    while (printer.JobStatus(job, status)) {
        if (cancel.Cancelled()) {
            SetJobW(printer.handle(), job, 0, nullptr, JOB_CONTROL_DELETE);
            return Failed("the print was called off");
        }
        if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) break;
        if (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) return Failed("the job was deleted in the queue");
        if (status & kJobStuck) return Failed("the printer holds the job (status " + std::to_string(status) + ")", true);
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kFollowLookMs));
    }
    return PdfPrintResult{true, false, {}};
}

// Whether the printer's queue takes a PDF document as it is: a queue of a
// CUPS server (Wine's spooler names their ports so), whose filters print PDF
// on every printer, the text as text.
bool TakesPdfDocuments(const std::wstring& port) { return port.rfind(L"CUPS:", 0) == 0; }

// A job's name: one line, as queues show it.
std::wstring JobName(const std::string& title) {
    std::wstring name;
    for (const char16_t c : Utf8ToWide(title)) {
        const bool space = c < 0x20 || c == 0x7F || c == u' ' || c == u'\t';
        if (space && (name.empty() || name.back() == L' ')) continue;
        name += space ? L' ' : static_cast<wchar_t>(c);
    }
    while (!name.empty() && name.back() == L' ') name.pop_back();
    // Windows keeps 63 characters of a job's name, by which its job is found again.
    return name.substr(0, 63);
}

// One job of the document's bytes on the printer; taken back when it could
// not be written whole or the print was called off meanwhile; then followed
// until it leaves the queue.
PdfPrintResult SendDocumentJob(Printer& printer, const std::string& pdf, const std::wstring& title, PrintCancel& cancel) {
    std::wstring name = title;
    std::wstring type = L"RAW";
    DOC_INFO_1W document{name.data(), nullptr, type.data()};
    const DWORD job = StartDocPrinterW(printer.handle(), 1, reinterpret_cast<BYTE*>(&document));
    if (job == 0) return Failed(ErrorText("the spooler made no job"));
    bool written = true;
    for (std::size_t at = 0; written && at < pdf.size() && !cancel.Cancelled(); at += kChunkBytes) {
        DWORD wrote = 0;
        const DWORD piece = static_cast<DWORD>(std::min(kChunkBytes, pdf.size() - at));
        written = WritePrinter(printer.handle(), const_cast<char*>(pdf.data() + at), piece, &wrote) && wrote == piece;
    }
    if (!written || cancel.Cancelled()) {
        const std::string why = cancel.Cancelled() ? "the print was called off" : ErrorText("the job could not be written");
        AbortPrinter(printer.handle());
        return Failed(why);
    }
    if (!EndDocPrinter(printer.handle())) return Failed(ErrorText("the job could not be finished"));
    return FollowJob(printer, job, cancel);
}

} // namespace

PdfPrintResult PrintPdfDocument(const std::string& document, const WString& watermark, const WString& printerName,
                                const std::string& jobName, PrintCancel& cancel) {
    // The printer first: no work for a printer that cannot take it.
    Printer printer(printerName);
    std::wstring port;
    DWORD status = 0;
    if (printer.handle() == nullptr || !printer.Describe(port, status))
        return Failed(ErrorText("the printer could not be opened"), true);
    if (status & kPrinterUnavailable) return Failed("the printer is not ready (status " + std::to_string(status) + ")", true);
    const WatermarkedPdf watermarked = WatermarkPdfInProcess(document, watermark, cancel);
    if (!watermarked.ok) return Failed(watermarked.error);
    if (cancel.Cancelled()) return Failed("the print was called off");
    // The job's name, which queues show and PDF printers name their file by.
    std::wstring title = JobName(watermarked.title);
    if (title.empty()) title = JobName(jobName);
    if (title.empty()) title = L"Tovani";
    if (TakesPdfDocuments(port)) return SendDocumentJob(printer, watermarked.pdf, title, cancel);
    // Any other printer gets the document drawn by Windows, as XPS pages;
    // its job is the one of that name that was not in the queue before.
    const std::set<DWORD> before = printer.JobsNamed(title);
    const WindowsPdfPrint drawn =
        PrintPdfWithWindowsInProcess(watermarked.pdf, printerName, WString(title.begin(), title.end()), cancel);
    if (drawn.printed) {
        for (const DWORD job : printer.JobsNamed(title))
            if (before.count(job) == 0) return FollowJob(printer, job, cancel);
        return PdfPrintResult{true, false, {}}; // already through the queue
    }
    return Failed(drawn.available ? drawn.error : "Windows cannot draw the document for this printer: " + drawn.error);
}
