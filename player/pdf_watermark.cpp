#include "player/pdf_watermark.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <stdexcept>
#include <algorithm>

namespace {

// Helvetica-Bold advance widths (1/1000 em) of WinAnsi codes 32 to 255, 0 where undefined.
constexpr std::uint16_t kHelveticaBoldWidths[224] = {
    278, 333, 474, 556, 556, 889, 722, 238, 333, 333, 389, 584, 278, 333, 278, 278,
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,
    975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,
    333, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,
    611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584, 0,
    556, 0, 278, 556, 500, 1000, 556, 556, 333, 1000, 667, 333, 1000, 0, 611, 0,
    0, 278, 278, 500, 500, 350, 556, 1000, 333, 1000, 556, 333, 944, 0, 500, 667,
    278, 333, 556, 556, 556, 556, 280, 556, 333, 737, 370, 556, 584, 333, 737, 333,
    400, 584, 333, 333, 333, 611, 556, 278, 333, 333, 365, 556, 834, 834, 834, 611,
    722, 722, 722, 722, 722, 722, 1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,
    722, 722, 778, 778, 778, 778, 778, 584, 778, 722, 722, 722, 722, 667, 667, 611,
    556, 556, 556, 556, 556, 556, 889, 556, 556, 556, 556, 556, 278, 278, 278, 278,
    611, 611, 611, 611, 611, 611, 611, 584, 611, 611, 611, 611, 611, 556, 611, 556,
};
// The character each WinAnsi code from 128 to 159 shows, 0 where undefined.
constexpr char16_t kWinAnsiHigh[32] = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178,
};

// The watermark's size as a share of the page's width, its angle, and its
// colour: the screen's red at 15% over white paper, as an opaque colour.
constexpr double kSizeShare = 0.03;
constexpr double kAngleDegrees = 30;
constexpr double kPi = 3.14159265358979323846;
constexpr char kColour[] = "1 0.85 0.85 rg\n";
constexpr double kLineSpacing = 1.15; // in font sizes, as the screen's font sets its lines
constexpr double kCapCentre = 0.36;   // half Helvetica's capital height: where a line's middle is
// The bidirectional classes the runs need, of the characters WinAnsi shows:
// a letter written left to right, and a European digit.
bool StrongLeftToRight(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return true;
    if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
    if (c >= 0xC0 && c <= 0xFF) return c != 0xD7 && c != 0xF7;
    switch (c) {
    case 0x0152: case 0x0153: case 0x0160: case 0x0161: case 0x0178: case 0x017D: case 0x017E: case 0x0192: return true;
    default: return false;
    }
}
bool IsNumber(char16_t c) { return (c >= u'0' && c <= u'9') || c == 0xB2 || c == 0xB3 || c == 0xB9; }

std::string Number(double value) {
    char buffer[32];
    // The C locale's digits whatever the user's locale: a PDF number has a point.
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3).ptr;
    return std::string(buffer, end);
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex = "<";
    for (const unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex + ">";
}

// A run WinAnsi cannot show, drawn by the screen's font as a one-bit
// stencil: an image mask paints the current colour where its samples are 0
// and leaves the page elsewhere, with no transparency.
struct Stencil {
    QPDFObjectHandle image;
    double left = 0, top = 0, width = 0, height = 0; // in font sizes
};

Stencil MakeStencil(QPDF& pdf, WatermarkFont& font, const WString& run) {
    const Stencil1Bit drawn = font.Draw(run);
    const std::size_t rowBytes = (static_cast<std::size_t>(std::max(drawn.width, 0)) + 7) / 8;
    if (drawn.width <= 0 || drawn.height <= 0 || drawn.samples.size() != rowBytes * static_cast<std::size_t>(drawn.height))
        throw std::runtime_error("the watermark's font drew nothing");
    QPDFObjectHandle stream = pdf.newStream(drawn.samples);
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(drawn.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(drawn.height));
    dict.replaceKey("/ImageMask", QPDFObjectHandle::newBool(true));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
    const double px = kStencilPixels;
    return Stencil{stream, drawn.left / px, drawn.top / px, drawn.width / px, drawn.height / px};
}

double TextWidth(const std::string& winAnsi) {
    double width = 0;
    for (const unsigned char b : winAnsi) width += kHelveticaBoldWidths[b - 32];
    return width / 1000;
}

// One watermarked document's font and stencils, shared by its pages.
class Painter {
public:
    Painter(QPDF& pdf, WatermarkFont& glyphs)
        : pdf_(pdf), glyphs_(glyphs), font_(pdf.makeIndirectObject(QPDFObjectHandle::parse(
                         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>"))) {}

    // The line's width in font sizes.
    double Width(const WString& line) {
        double width = 0;
        for (const WatermarkRun& run : WatermarkRuns(line))
            width += run.text ? TextWidth(run.winAnsi) : AdvanceOf(run.other);
        return width;
    }

    void Watermark(QPDFPageObjectHelper& page, const WString& watermark);

private:
    const Stencil& StencilOf(const WString& run) {
        auto found = stencils_.find(run);
        if (found == stencils_.end()) found = stencils_.emplace(run, MakeStencil(pdf_, glyphs_, run)).first;
        return found->second;
    }
    double AdvanceOf(const WString& run) {
        auto found = advances_.find(run);
        if (found == advances_.end()) found = advances_.emplace(run, glyphs_.Advance(run)).first;
        return found->second;
    }
    std::vector<WString> Lines(const WString& watermark, double widthInSizes);

    QPDF& pdf_;
    WatermarkFont& glyphs_;
    QPDFObjectHandle font_;
    std::map<WString, Stencil> stencils_;
    std::map<WString, double> advances_;
};

// The watermark's lines as the screen wraps them: at its own line breaks,
// and between words where a line would be wider than the page.
std::vector<WString> Painter::Lines(const WString& watermark, double widthInSizes) {
    std::vector<WString> lines;
    std::size_t start = 0;
    while (start <= watermark.size()) {
        std::size_t end = watermark.find(u'\n', start);
        if (end == WString::npos) end = watermark.size();
        WString line;
        std::size_t word = start;
        while (word < end) {
            std::size_t next = watermark.find(u' ', word);
            if (next == WString::npos || next > end) next = end;
            const WString piece = watermark.substr(word, next - word);
            const WString longer = line.empty() ? piece : line + u' ' + piece;
            if (!line.empty() && Width(longer) > widthInSizes) {
                lines.push_back(line);
                line = piece;
            } else {
                line = longer;
            }
            word = next + 1;
        }
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void Painter::Watermark(QPDFPageObjectHelper& page, const WString& watermark) {
    const QPDFObjectHandle::Rectangle box = page.getCropBox().getArrayAsRectangle();
    int rotate = 0;
    if (QPDFObjectHandle r = page.getAttribute("/Rotate", false); r.isInteger()) rotate = ((r.getIntValueAsInt() % 360) + 360) % 360;
    rotate -= rotate % 90;
    const double boxWidth = std::abs(box.urx - box.llx), boxHeight = std::abs(box.ury - box.lly);
    // The width the page shows, turned as it is shown: the watermark rises
    // to the right on the shown page.
    const double shownWidth = rotate % 180 == 0 ? boxWidth : boxHeight;
    const double size = std::max(1.0, shownWidth * kSizeShare);
    const double angle = (kAngleDegrees + rotate) * kPi / 180;
    const std::vector<WString> lines = Lines(watermark, shownWidth / size);
    if (lines.empty()) return;

    // Names the page's resources do not use yet; the resources (and their
    // font and image dictionaries), possibly shared with other pages, are
    // copied for this page first.
    QPDFObjectHandle object = page.getObjectHandle();
    QPDFObjectHandle resources = object.getKey("/Resources");
    resources = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
    object.replaceKey("/Resources", resources);
    int suffix = 1;
    const auto add = [&](const char* kind, const char* prefix, const QPDFObjectHandle& value) {
        QPDFObjectHandle dict = resources.getKey(kind);
        dict = dict.isDictionary() ? dict.shallowCopy() : QPDFObjectHandle::newDictionary();
        const std::string name = resources.getUniqueResourceName(prefix, suffix);
        dict.replaceKey(name, value);
        resources.replaceKey(kind, dict);
        return name;
    };
    const std::string font = add("/Font", "/TovaniWatermarkFont", font_);

    const double c = std::cos(angle), s = std::sin(angle);
    std::string content = "\nQ\nq\n" + Number(c) + " " + Number(s) + " " + Number(-s) + " " + Number(c) + " " +
                          Number((box.llx + box.urx) / 2) + " " + Number((box.lly + box.ury) / 2) + " cm\n" + kColour;
    std::map<WString, std::string> images;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double baseline = ((static_cast<double>(lines.size()) - 1) / 2 - static_cast<double>(i)) * kLineSpacing * size -
                                kCapCentre * size;
        double x = -Width(lines[i]) * size / 2;
        for (const WatermarkRun& run : WatermarkRuns(lines[i])) {
            if (run.text) {
                content += "BT " + font + " " + Number(size) + " Tf " + Number(x) + " " + Number(baseline) + " Td " +
                           Hex(run.winAnsi) + " Tj ET\n";
                x += TextWidth(run.winAnsi) * size;
                continue;
            }
            const Stencil& stencil = StencilOf(run.other);
            auto name = images.find(run.other);
            if (name == images.end()) name = images.emplace(run.other, add("/XObject", "/TovaniWatermarkImage", stencil.image)).first;
            content += "q " + Number(stencil.width * size) + " 0 0 " + Number(stencil.height * size) + " " +
                       Number(x + stencil.left * size) + " " + Number(baseline - (stencil.top + stencil.height) * size) +
                       " cm " + name->second + " Do Q\n";
            x += AdvanceOf(run.other) * size;
        }
    }
    content += "Q\n";
    // The page's own content in a graphics state of its own, so nothing it
    // leaves set reaches the watermark.
    page.addPageContents(pdf_.newStream(std::string("q\n")), true);
    page.addPageContents(pdf_.newStream(content), false);
}

// A stream whose filters decompress more than once (Flate over Flate, say)
// is a few bytes that decode to gigabytes, for whoever decodes it next: the
// printer's filters. No PDF writer makes one. Its object, if any.
std::string StreamCompressedTwice(QPDF& pdf) {
    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (!object.isStream()) continue;
        QPDFObjectHandle filter = object.getDict().getKey("/Filter");
        std::vector<QPDFObjectHandle> filters;
        if (filter.isArray()) filters = filter.getArrayAsVector();
        else filters.push_back(filter);
        int decompressing = 0;
        for (QPDFObjectHandle& f : filters) {
            if (!f.isName()) continue;
            const std::string name = f.getName();
            if (name == "/FlateDecode" || name == "/Fl" || name == "/LZWDecode" || name == "/LZW" ||
                name == "/RunLengthDecode" || name == "/RL")
                ++decompressing;
        }
        if (decompressing > 1) return object.unparse();
    }
    return {};
}

} // namespace

unsigned char WinAnsiCode(char16_t c) {
    if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (int i = 0; i < 32; ++i)
        if (kWinAnsiHigh[i] == c && c != 0) return static_cast<unsigned char>(0x80 + i);
    return 0;
}

std::vector<WatermarkRun> WatermarkRuns(const WString& line) {
    std::vector<WatermarkRun> runs;
    std::string text;
    const auto flush = [&] {
        if (!text.empty()) runs.push_back(WatermarkRun{true, std::move(text), {}});
        text.clear();
    };
    for (std::size_t i = 0; i < line.size();) {
        if (const unsigned char code = WinAnsiCode(line[i]); code != 0 || line[i] < 0x20) {
            if (code != 0) text += static_cast<char>(code);
            ++i;
            continue;
        }
        // A run the encoding cannot show reaches up to the next left-to-right
        // letter it can: what lies between (spaces, punctuation, digits after
        // right-to-left letters) is laid out with the run, as the screen's
        // bidirectional layout takes it; spaces and punctuation at its end
        // stay outside it.
        std::size_t end = i + 1;
        while (end < line.size() && !(WinAnsiCode(line[end]) != 0 && StrongLeftToRight(line[end]))) ++end;
        while (end > i + 1 && WinAnsiCode(line[end - 1]) != 0 && !IsNumber(line[end - 1])) --end;
        flush();
        runs.push_back(WatermarkRun{false, {}, line.substr(i, end - i)});
        i = end;
    }
    flush();
    return runs;
}

namespace {

// open reads the document into pdf; the watermarked one goes to output, or
// into the result without one.
WatermarkedPdf Watermarked(const std::function<void(QPDF&)>& open, const WString& watermark, WatermarkFont& font,
                           std::FILE* output) {
    WatermarkedPdf result;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        open(pdf);
        if (pdf.isEncrypted() && !pdf.allowPrintLowRes()) {
            result.error = "the document does not allow printing";
            return result;
        }
        // The page count the document states is checked before its page
        // tree is walked; the walk's own count after it.
        const std::string tooManyPages = "the document has more than " + std::to_string(kMaxPrintPages) + " pages";
        if (QPDFObjectHandle count = pdf.getRoot().getKey("/Pages").getKey("/Count");
            count.isInteger() && count.getIntValue() > static_cast<long long>(kMaxPrintPages)) {
            result.error = tooManyPages;
            return result;
        }
        QPDFPageDocumentHelper pages(pdf);
        if (pages.getAllPages().size() > kMaxPrintPages) {
            result.error = tooManyPages;
            return result;
        }
        if (const std::string stream = StreamCompressedTwice(pdf); !stream.empty()) {
            result.error = "the document compresses a stream more than once (" + stream + ")";
            return result;
        }
        // Each page then holds its own resources, boxes and turn.
        pages.pushInheritedAttributesToPage();
        std::vector<QPDFPageObjectHelper> all = pages.getAllPages();
        if (all.empty()) {
            result.error = "the document has no pages";
            return result;
        }
        if (!watermark.empty()) {
            Painter painter(pdf, font);
            for (QPDFPageObjectHelper& page : all) painter.Watermark(page, watermark);
        }
        if (QPDFObjectHandle info = pdf.getTrailer().getKey("/Info"); info.isDictionary()) {
            if (QPDFObjectHandle title = info.getKey("/Title"); title.isString()) result.title = title.getUTF8Value();
        }
        QPDFWriter writer(pdf);
        // The document's streams go out as they came: decoding and
        // compressing them again is work without bound for nothing printed.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(false);
        if (output != nullptr) writer.setOutputFile("watermarked document", output, false);
        else writer.setOutputMemory();
        writer.write();
        if (output != nullptr) {
            if (std::fflush(output) != 0) {
                result.error = "the watermarked document could not be written";
                return result;
            }
        } else {
            const std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
            result.pdf.assign(reinterpret_cast<const char*>(written->getBuffer()), written->getSize());
        }
        result.ok = true;
    } catch (const std::bad_alloc&) {
        result.error = "the document needs more memory than a print may take";
    } catch (const std::exception& e) {
        result.error = std::string("the document is not a readable PDF: ") + e.what();
    }
    return result;
}

} // namespace

WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark, WatermarkFont& font) {
    return Watermarked([&](QPDF& pdf) { pdf.processMemoryFile("document", document.data(), document.size()); },
                       watermark, font, nullptr);
}

WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, WatermarkFont& font, std::FILE* output) {
    return Watermarked([&](QPDF& pdf) { pdf.processFile("document", document, false); }, watermark, font, output);
}
