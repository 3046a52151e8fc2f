#pragma once
// Printing a PDF content: the document itself, fetched as the browser got it,
// with the watermark added to every page, sent to CUPS as a PDF job (so its
// text stays text on the printer's way). Printing the browser's view of a PDF
// prints the viewer's own toolbar, not the document.
#include <QString>

#include <cstddef>
#include <string>

#include "common/text.h"
#include "player/pdf_print.h"

// Fetches the shown document through the player's pinned client (only an
// address the navigation policy lets the browser show), then prints it.
// Blocking; runs off the user-interface thread.
PdfPrintResult FetchAndPrintPdf(const WString& url, const WString& watermark, const QString& printer, int copies,
                                PrintCancel& cancel);

// Watermarks a PDF document (in a bounded process of its own) and sends it
// to the CUPS printer as one job, named by the document's title or else by
// jobName. Sends nothing when the document cannot be read or is over the
// bounds, and nothing more once cancel is called: a job begun is cancelled.
PdfPrintResult PrintPdfDocument(const std::string& document, const WString& watermark, const QString& printer,
                                int copies, const QString& jobName, PrintCancel& cancel);
