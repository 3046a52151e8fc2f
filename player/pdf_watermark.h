#pragma once
// The watermark added to a PDF document's own pages, so the document prints
// as itself (its text stays text) with the watermark on every page.
#include <cstddef>
#include <cstdio>
#include <memory>
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

// The screen's watermark font, for the runs WinAnsi cannot show: each is
// drawn as a stencil, kStencilPixels to the font's size (about 600 dpi at
// the watermark's size on A4).
inline constexpr int kStencilPixels = 160;
struct Stencil1Bit {
    int width = 0, height = 0;
    std::string samples; // rows of (width + 7) / 8 bytes, first pixel in the high bit; 0 where the run is drawn
    double left = 0, top = 0; // the image's top left from the run's origin on the baseline, in pixels (y down)
};
class WatermarkFont {
public:
    virtual ~WatermarkFont() = default;
    // The run's advance, in font sizes; measured without drawing (wrapping
    // measures many candidate lines).
    virtual double Advance(const WString& run) = 0;
    // The run drawn left to right in the screen's bold sans-serif font at
    // kStencilPixels, its bidirectional layout the font system's own.
    virtual Stencil1Bit Draw(const WString& run) = 0;
};
// The platform's font (Qt's on Linux, GDI's on Windows).
std::unique_ptr<WatermarkFont> ScreenWatermarkFont();

// Adds the watermark over every page of document (nothing when watermark is
// empty): rotated 30 degrees up across the page's centre, at 3% of the page's
// width, each page's own content kept in its own graphics state, the
// document's own streams left as they are. Fails for a document that cannot
// be read, needs a password, does not allow printing, has more than
// kMaxPrintPages pages or a stream compressed more than once.
WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark, WatermarkFont& font);
// The same in the platform's font.
WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark);
// The same from a seekable document file to output, which gets the
// watermarked document (pdf stays empty): the document is read as needed,
// never held whole.
WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, WatermarkFont& font, std::FILE* output);
WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, std::FILE* output);
