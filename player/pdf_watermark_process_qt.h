#pragma once
// The watermarking of a document to print runs in a process of its own: a
// document may ask qpdf for any amount of work, and only a process can be
// held to a bound on time and memory, and ended at once when the window
// closes. The process is the player's own program in a mode of its own.
#include <string>

#include "common/text.h"
#include "player/pdf_print.h"
#include "player/pdf_watermark.h"

// WatermarkPdf in the process, within the bounds above. Fails (ok false) when
// the process could not start, went over a bound or was cancelled.
WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel);

// The process's side: argv is the program and kWatermarkMode; the document
// comes on standard input (a seekable file), the watermark (UTF-8) on
// descriptor 3; the watermarked document goes to descriptor 4 and the answer
// (its title, or why not) to standard output.
bool IsWatermarkMode(int argc, char** argv);
int RunWatermarkProcess(int argc, char** argv);
