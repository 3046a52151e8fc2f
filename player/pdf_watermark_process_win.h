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

// WatermarkPdf in the process, within the bounds. Fails (ok false) when the
// process could not start, went over a bound or was cancelled.
WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel);

// The process's side: the program's arguments are kWatermarkMode and the
// watermark file's handle; the document comes on standard input (a seekable
// file), the watermarked document goes to standard output (a file) and the
// answer (its title, or why not) to standard error (a file).
bool IsWatermarkMode(const std::vector<WString>& args);
int RunWatermarkProcess(const std::vector<WString>& args);
