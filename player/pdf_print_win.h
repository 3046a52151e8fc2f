#pragma once
// Printing a PDF content on Windows: the document, watermarked in its
// bounded process, sent to the chosen printer's queue as a document, and
// followed there to its outcome.
#include <string>

#include "common/text.h"
#include "player/pdf_print.h"

// How long a job is followed in the queue; one still there after it counts
// as printed (a printer busy with others' jobs).
inline constexpr unsigned long kPrintJobFollowMs = 60000;

// Watermarks document and sends it to printer as one job, named by the
// document's title or else by jobName. Sends nothing when the document cannot
// be read or is over the bounds, and nothing more once cancel is called: a
// job begun is taken back.
PdfPrintResult PrintPdfDocument(const std::string& document, const WString& watermark, const WString& printer,
                                const std::string& jobName, PrintCancel& cancel);
