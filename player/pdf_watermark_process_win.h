#pragma once
// The watermarking of a document to print runs in a process of its own: a
// document may ask qpdf for any amount of work, and only a process can be
// held to a bound on time and memory, and ended at once when the window
// closes. The process is the player's own program in a mode of its own, in a
// job that ends it with the player.
#include <string>
#include <vector>

#include "common/text.h"
#include "player/pdf_print.h"
#include "player/pdf_render_print_win.h"

// The program's argument that makes it the process drawing a document for
// the printer through Windows' own PDF support.
inline constexpr char kRenderMode[] = "--render-pdf-for-print";

// WatermarkPdf in the process, within the bounds. Fails (ok false) when the
// process could not start, went over a bound or was cancelled.
WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel);

// PrintPdfWithWindows in a process of its own, bounded (Windows' PDF support
// reads a document from outside too) and ended at once when the print is
// called off, which takes the unfinished job with it.
WindowsPdfPrint PrintPdfWithWindowsInProcess(const std::string& pdf, const WString& printer, const WString& jobName,
                                             PrintCancel& cancel);

// The process's side: the program's arguments are the mode and the handle of
// a file with the watermark (or the printer's and the job's names, a line
// each); the document comes on standard input (a seekable file), the
// watermarked document goes to standard output (a file) and the answer (its
// title, or why not) to standard error (a file).
bool IsPrintProcessMode(const std::vector<WString>& args);
int RunPrintProcess(const std::vector<WString>& args);
