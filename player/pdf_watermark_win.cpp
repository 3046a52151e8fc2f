// The watermark's runs that WinAnsi cannot show (Arabic, say), drawn by GDI
// with the screen's watermark font; GDI shapes and orders complex scripts
// itself and links the fonts it lacks.
#include <windows.h>

#include <cstring>
#include <vector>

#include "player/pdf_watermark.h"

namespace {

class GdiWatermarkFont : public WatermarkFont {
public:
    GdiWatermarkFont() : dc_(CreateCompatibleDC(nullptr)) {}
    ~GdiWatermarkFont() override {
        if (dc_ != nullptr) SelectObject(dc_, GetStockObject(SYSTEM_FONT));
        for (const Face& face : faces_) DeleteObject(face.font);
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    GdiWatermarkFont(const GdiWatermarkFont&) = delete;
    GdiWatermarkFont& operator=(const GdiWatermarkFont&) = delete;

    double Advance(const WString& run) override {
        SIZE size{};
        if (Select(run) == nullptr || !GetTextExtentPoint32W(dc_, Wide(run), static_cast<int>(run.size()), &size)) return 0;
        return static_cast<double>(size.cx) / kStencilPixels;
    }

    Stencil1Bit Draw(const WString& run) override {
        Stencil1Bit stencil;
        SIZE size{};
        const Face* face = Select(run);
        if (face == nullptr || run.empty() || !GetTextExtentPoint32W(dc_, Wide(run), static_cast<int>(run.size()), &size))
            return stencil;
        const TEXTMETRICW& metrics = face->metrics;
        // Room around the advance for what a bold font's glyphs overhang.
        const int margin = kStencilPixels / 4;
        const int width = static_cast<int>(size.cx) + 2 * margin;
        const int height = static_cast<int>(metrics.tmAscent + metrics.tmDescent) + 2 * margin;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap == nullptr || bits == nullptr) return stencil;
        HGDIOBJ oldBitmap = SelectObject(dc_, bitmap);
        std::memset(bits, 0xFF, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        SetBkMode(dc_, TRANSPARENT);
        SetTextColor(dc_, RGB(0, 0, 0));
        SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        // Left to right as a whole, as the line lays the runs out.
        ExtTextOutW(dc_, margin, margin, 0, nullptr, Wide(run), static_cast<UINT>(run.size()), nullptr);
        GdiFlush();

        stencil.width = width;
        stencil.height = height;
        stencil.left = -margin;
        stencil.top = -static_cast<double>(metrics.tmAscent) - margin;
        const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
        stencil.samples.assign(rowBytes * static_cast<std::size_t>(height), '\xFF');
        const auto* pixels = static_cast<const unsigned char*>(bits);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = pixels + (static_cast<std::size_t>(y) * width + x) * 4;
                if ((p[0] + p[1] + p[2]) / 3 < 128)
                    stencil.samples[static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x / 8)] &=
                        static_cast<char>(~(0x80 >> (x % 8)));
            }
        }
        SelectObject(dc_, oldBitmap);
        DeleteObject(bitmap);
        return stencil;
    }

private:
    static const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

    struct Face {
        HFONT font;
        TEXTMETRICW metrics;
    };

    // The screen's watermark font where it has every character of the run,
    // else the first bold sans-serif face that does: GDI draws a missing
    // character as a box, and falls back to other fonts only on some systems.
    const Face* Select(const WString& run) {
        if (dc_ == nullptr) return nullptr;
        static const wchar_t* const kFamilies[] = {L"Arial", L"Segoe UI", L"Tahoma", L"Microsoft Sans Serif", L"DejaVu Sans",
                                                   L"Noto Sans", L"Noto Sans Arabic", L"Liberation Sans"};
        if (faces_.empty()) {
            for (const wchar_t* family : kFamilies) {
                HFONT font = CreateFontW(-kStencilPixels, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                         OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_SWISS,
                                         family);
                if (font == nullptr) continue;
                Face face{font, {}};
                SelectObject(dc_, font);
                GetTextMetricsW(dc_, &face.metrics);
                faces_.push_back(face);
            }
        }
        if (faces_.empty()) return nullptr;
        std::vector<WORD> glyphs(run.size() + 1);
        for (const Face& face : faces_) {
            SelectObject(dc_, face.font);
            if (GetGlyphIndicesW(dc_, Wide(run), static_cast<int>(run.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) ==
                GDI_ERROR)
                continue;
            bool whole = true;
            for (std::size_t i = 0; i < run.size(); ++i) whole = whole && (glyphs[i] != 0xFFFF || run[i] < 0x20);
            if (whole) return &face;
        }
        SelectObject(dc_, faces_.front().font);
        return &faces_.front();
    }

    HDC dc_;
    std::vector<Face> faces_;
};

} // namespace

std::unique_ptr<WatermarkFont> ScreenWatermarkFont() { return std::make_unique<GdiWatermarkFont>(); }

WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark) {
    GdiWatermarkFont font;
    return WatermarkPdf(document, watermark, font);
}

WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, std::FILE* output) {
    GdiWatermarkFont font;
    return WatermarkPdfFile(document, watermark, font, output);
}
