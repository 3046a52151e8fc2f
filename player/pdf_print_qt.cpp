#include "player/pdf_print_qt.h"
#include "common/qt_text.h"

#include <cups/cups.h>

#include <algorithm>

#include "player/pdf_watermark_process_qt.h"

namespace {

// The job goes to CUPS in pieces of this size.
constexpr std::size_t kChunkBytes = 64 * 1024;

PdfPrintResult Failed(std::string why) {
    PdfPrintResult result;
    result.error = std::move(why);
    return result;
}

std::string CupsError() {
    const char* text = cupsLastErrorString();
    return text != nullptr ? text : "unknown error";
}

// Lets a held job print.
bool ReleaseJob(const QByteArray& printer, int job) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     printer.constData());
    ipp_t* request = ippNewRequest(IPP_OP_RELEASE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/"));
    return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

// One PDF job on the printer, the document written as the job's only file;
// CUPS's filters take it from there. The job is held until it is whole and
// the print still wanted, so a window closed meanwhile prints nothing; one
// that could not be written whole, or was called off, is cancelled.
PdfPrintResult SendPdfJob(const std::string& pdf, const QString& printer, int copies, const std::string& title,
                          PrintCancel& cancel) {
    if (cancel.Cancelled()) return Failed("the print was called off");
    const QByteArray dest = printer.toUtf8();
    cups_option_t* options = nullptr;
    int count = cupsAddOption("job-hold-until", "indefinite", 0, &options);
    if (copies > 1) count = cupsAddOption("copies", std::to_string(copies).c_str(), count, &options);
    const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, dest.constData(), title.c_str(), count, options);
    cupsFreeOptions(count, options);
    if (job == 0) return Failed("CUPS made no job: " + CupsError());
    bool written = cupsStartDocument(CUPS_HTTP_DEFAULT, dest.constData(), job, title.c_str(), CUPS_FORMAT_PDF, 1) ==
                   HTTP_STATUS_CONTINUE;
    for (std::size_t at = 0; written && at < pdf.size() && !cancel.Cancelled(); at += kChunkBytes)
        written = cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data() + at, std::min(kChunkBytes, pdf.size() - at)) ==
                  HTTP_STATUS_CONTINUE;
    // Finished also when called off: the request on the connection ends whole.
    const bool finished = cupsFinishDocument(CUPS_HTTP_DEFAULT, dest.constData()) == IPP_STATUS_OK;
    std::string why = CupsError();
    if (written && finished) {
        if (cancel.Cancelled()) why = "the print was called off";
        else if (ReleaseJob(dest, job)) return PdfPrintResult{true, false, {}};
        else why = "the job could not be released: " + CupsError();
    }
    cupsCancelJob2(CUPS_HTTP_DEFAULT, dest.constData(), job, 0);
    return Failed("the document could not be sent to CUPS: " + why);
}

} // namespace

PdfPrintResult PrintPdfDocument(const std::string& document, const WString& watermark, const QString& printer,
                                int copies, const QString& jobName, PrintCancel& cancel) {
    const WatermarkedPdf watermarked = WatermarkPdfInProcess(document, watermark, cancel);
    if (!watermarked.ok) return Failed(watermarked.error);
    // The job's name, which print queues show and PDF printers name their file by.
    std::string title = QString::fromStdString(watermarked.title).simplified().toStdString();
    if (title.empty()) title = jobName.simplified().toStdString();
    return SendPdfJob(watermarked.pdf, printer, copies, title, cancel);
}

PdfPrintResult FetchAndPrintPdf(const WString& url, const WString& watermark, const QString& printer, int copies,
                                PrintCancel& cancel) {
    FetchedPdf fetched = FetchPdfToPrint(url);
    if (!fetched.ok) return Failed(fetched.error);
    // Without a title of its own the job is named by the document's file name.
    return PrintPdfDocument(fetched.body, watermark, printer, copies, QString::fromStdString(UrlFileName(url)), cancel);
}
