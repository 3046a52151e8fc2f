#pragma once
// Printing a PDF content: the document's own pages, fetched as the browser
// got them and rendered by Qt PDF at the printer's resolution, each with the
// watermark drawn as the screen shows it. (Printing the browser's view of a
// PDF prints the viewer's own toolbar, not the document.)
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <string>

#include "common/text.h"

class QPrinter;

// The rendering is capped here: beyond it paper shows nothing more, while
// memory, time and the spooled job grow with the square of the resolution.
inline constexpr int kMaxPdfPrintDpi = 600;
// A document to print may be larger and slower to come than a service answer.
inline constexpr std::size_t kMaxPdfPrintBytes = 128 * 1024 * 1024;
inline constexpr unsigned long kPdfFetchDeadlineMs = 300000;

struct PdfPrintResult {
    bool printed = false;
    std::string error; // why not, for the log
};

// Fetches the shown document through the player's pinned client (only an
// address the navigation policy lets the browser show), then prints it.
// Blocking; runs off the user-interface thread.
PdfPrintResult FetchAndPrintPdf(const WString& url, const WString& watermark, QPrinter& printer);

// Prints every page of a PDF document in order onto printer, each fitted
// into the printable area and watermarked. Fails without painting anything
// when the document cannot be read.
PdfPrintResult PrintPdfDocument(const QByteArray& document, const WString& watermark, QPrinter& printer);
