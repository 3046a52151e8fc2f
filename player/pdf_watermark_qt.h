#pragma once
// The watermark added to a PDF document's own pages, so the document prints
// as itself (its text stays text) with the watermark on every page.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"

// The watermark as it goes on a page: WinAnsi runs drawn as Helvetica text
// and the runs that encoding cannot show (Arabic, say) as stencils of the
// screen's font, both in one opaque light red (transparency would make a
// PostScript printer's filters turn the whole page into an image).
struct WatermarkRun {
    bool text = false;
    std::string winAnsi; // the run's bytes, when text
    WString other;       // the run, when not
};
// The runs of one line, in the order they stand from left to right.
std::vector<WatermarkRun> WatermarkRuns(const WString& line);
// The WinAnsi code of a character; 0 when WinAnsi has none.
unsigned char WinAnsiCode(char16_t c);

struct WatermarkedPdf {
    bool ok = false;
    std::string pdf;   // the document with the watermark on every page
    std::string title; // the document's own title (UTF-8), if it has one
    std::string error; // why not, for the log
};

// More pages than any course document has; each page costs the watermarking
// some kilobytes, so a document of a few megabytes cannot ask for gigabytes.
inline constexpr std::size_t kMaxPrintPages = 10000;

// Adds the watermark over every page of document (nothing when watermark is
// empty): rotated 30 degrees up across the page's centre, at 3% of the page's
// width, each page's own content kept in its own graphics state, the
// document's own streams left as they are. Fails for a document that cannot
// be read, needs a password, does not allow printing, has more than
// kMaxPrintPages pages or a stream compressed more than once.
WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark);
// The same from a seekable document file to output, which gets the
// watermarked document (pdf stays empty): the document is read as needed,
// never held whole.
WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, std::FILE* output);
