// The watermark's runs that WinAnsi cannot show (Arabic, say), drawn by Qt
// with the screen's watermark font.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>

#include "player/pdf_watermark.h"

namespace {

QString ToQ(const WString& run) { return QString::fromUtf16(run.data(), static_cast<qsizetype>(run.size())); }

QFont StencilFont() {
    // The screen's watermark font (its fallbacks draw the scripts it lacks).
    QFont font;
    font.setFamilies({QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(kStencilPixels);
    return font;
}

class QtWatermarkFont : public WatermarkFont {
public:
    double Advance(const WString& run) override { return metrics_.horizontalAdvance(ToQ(run)) / kStencilPixels; }

    Stencil1Bit Draw(const WString& run) override {
        const QString text = ToQ(run);
        const QRectF bounds = metrics_.boundingRect(text);
        const double left = std::floor(std::min(0.0, bounds.left())) - 2;
        const double top = std::floor(std::min(-metrics_.ascent(), bounds.top())) - 2;
        const double right = std::ceil(std::max(metrics_.horizontalAdvance(text), bounds.right())) + 2;
        const double bottom = std::ceil(std::max(metrics_.descent(), bounds.bottom())) + 2;
        QImage image(static_cast<int>(right - left), static_cast<int>(bottom - top), QImage::Format_Grayscale8);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setLayoutDirection(Qt::LeftToRight);
        painter.setFont(font_);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(-left, -top), text);
        painter.end();

        Stencil1Bit stencil;
        stencil.width = image.width();
        stencil.height = image.height();
        stencil.left = left;
        stencil.top = top;
        const std::size_t rowBytes = (static_cast<std::size_t>(stencil.width) + 7) / 8;
        stencil.samples.assign(rowBytes * static_cast<std::size_t>(stencil.height), '\xFF');
        for (int y = 0; y < stencil.height; ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < stencil.width; ++x)
                if (row[x] < 128)
                    stencil.samples[static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x / 8)] &=
                        static_cast<char>(~(0x80 >> (x % 8)));
        }
        return stencil;
    }

private:
    QFont font_ = StencilFont();
    QFontMetricsF metrics_{font_};
};

} // namespace

std::unique_ptr<WatermarkFont> ScreenWatermarkFont() { return std::make_unique<QtWatermarkFont>(); }

WatermarkedPdf WatermarkPdf(const std::string& document, const WString& watermark) {
    QtWatermarkFont font;
    return WatermarkPdf(document, watermark, font);
}

WatermarkedPdf WatermarkPdfFile(std::FILE* document, const WString& watermark, std::FILE* output) {
    QtWatermarkFont font;
    return WatermarkPdfFile(document, watermark, font, output);
}
