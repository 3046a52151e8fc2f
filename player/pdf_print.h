#pragma once
// Printing a PDF content as the document itself, on both players: the shown
// document fetched again through the player's pinned client, the watermark
// added to every page in a bounded process of its own (the player's program
// in a mode of its own), and the result sent to the printer as a document.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "common/text.h"
#include "player/pdf_watermark.h"

// A document to print may be larger and slower to come than a service answer.
inline constexpr std::size_t kMaxPdfPrintBytes = 128 * 1024 * 1024;
inline constexpr unsigned long kPdfFetchDeadlineMs = 300000;

// What one watermarking may cost: processor time, memory (the process's
// address space, program included) and time on the clock.
inline constexpr int kWatermarkCpuSeconds = 20;
inline constexpr std::size_t kWatermarkMemoryBytes = std::size_t{1} << 30;
inline constexpr int kWatermarkWallMs = 60000;
// A watermark is a line or two; anything longer is not one.
inline constexpr std::size_t kMaxWatermarkBytes = 64 * 1024;
// The watermarked document is the document with a little added to each page.
inline constexpr std::size_t kOutputAllowance = 64 * 1024 * 1024;

// The program's argument that makes it the watermarking process.
inline constexpr char kWatermarkMode[] = "--watermark-pdf-for-print";

struct PdfPrintResult {
    bool printed = false;
    bool printerUnavailable = false; // the printer could not take the job
    std::string error;               // why not, for the log
};

// A print's way to be called off from the user-interface thread while its
// worker thread fetches, watermarks or sends: once cancelled, the worker's
// process is ended and nothing more is started or sent.
class PrintCancel {
public:
    void Cancel();
    bool Cancelled();
    // While a process works for the print: stop ends it. False (and stop
    // called at once) when the print was called off already.
    bool Adopt(std::function<void()> stop);
    // Before the process is waited for: its id may then be another's.
    void Release();

private:
    std::mutex lock_;
    bool cancelled_ = false;
    std::function<void()> stop_;
};

struct FetchedPdf {
    bool ok = false;
    std::string body;
    std::string error; // why not, for the log
};
// The shown document, again, through a client of its own (its connections
// pin-checked against the process's pins) with the header every browser
// request carries; the machine's identity goes only where the transport's
// rule sends it. Blocking.
FetchedPdf FetchPdfToPrint(const WString& url);
// Whether bytes are a PDF document as a browser sniffs one: its header in
// the first kilobyte.
bool LooksLikePdf(const std::string& bytes);
// The last segment of the address's path, decoded, for a job's name.
std::string UrlFileName(const WString& url);

// The watermarking process's answer: "ok" and the document's title, or
// "error" and why; the watermarked document itself is in a file of its own.
std::string WatermarkAnswer(const WatermarkedPdf& result);
// The answer read back, with the watermarked document's bytes.
WatermarkedPdf ReadWatermarkAnswer(const std::string& answer, std::string document);
// WatermarkPdfFile on the process's own files, within what the process was
// given: document and output open, watermark (UTF-8) read.
WatermarkedPdf WatermarkInProcess(std::FILE* document, std::size_t documentBytes, const std::string& watermark,
                                  WatermarkFont& font, std::FILE* output);
