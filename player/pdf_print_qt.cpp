#include "player/pdf_print_qt.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QUrl>

#include <algorithm>

#include "player/browser_rules.h"
#include "service/http_client.h"

namespace {

// Rows rendered at a time: a whole A4 page at 600 dpi would be 140 MB of pixels.
constexpr int kBandRows = 512;

PdfPrintResult Failed(std::string why) { return PdfPrintResult{false, std::move(why)}; }

QString ToQString(const WString& text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }

// The document page fitted into the printable area, centred, its shape kept.
QRect FitPage(const QSizeF& pagePoints, const QRect& area) {
    const QSize size = pagePoints.scaled(QSizeF(area.size()), Qt::KeepAspectRatio).toSize();
    return QRect(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                 std::max(size.width(), 1), std::max(size.height(), 1));
}

// The watermark over one page as the player's page script shows it over the
// view: red bold sans-serif at 3% of the page's width, rotated by -30
// degrees about the page's centre, at 15% opacity. page is in the painter's
// coordinates.
void PaintWatermark(QPainter& painter, const QRect& page, const QString& text) {
    painter.save();
    QFont font;
    font.setFamilies({QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(std::max(1, qRound(page.width() * 0.03)));
    painter.setFont(font);
    painter.setPen(QColor(255, 0, 0));
    painter.setOpacity(0.15);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(QRectF(page).center());
    painter.rotate(-30);
    // The overlay is the page's size and centres the text, wrapping it at the page's width.
    painter.drawText(QRect(-page.width() / 2, -page.height() / 2, page.width(), page.height()),
                     Qt::AlignCenter | Qt::TextWordWrap, text);
    painter.restore();
}

// One page, band by band: each band rendered opaque (white paper under the
// document, as the viewer shows it), the watermark painted into it, then
// handed to the printer.
bool PrintPage(QPdfDocument& document, int index, const QString& watermark, QPainter& printerPainter,
               const QRect& area) {
    const QRect target = FitPage(document.pagePointSize(index), area);
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    options.setScaledSize(target.size());
    for (int top = 0; top < target.height(); top += kBandRows) {
        const int rows = std::min(kBandRows, target.height() - top);
        options.setScaledClipRect(QRect(0, top, target.width(), rows));
        const QImage rendered = document.render(index, QSize(target.width(), rows), options);
        if (rendered.isNull()) return false;
        QImage band(rendered.size(), QImage::Format_RGB32);
        band.fill(Qt::white);
        QPainter painter(&band);
        painter.drawImage(0, 0, rendered);
        if (!watermark.isEmpty()) PaintWatermark(painter, QRect(0, -top, target.width(), target.height()), watermark);
        painter.end();
        printerPainter.drawImage(QPoint(target.x(), target.y() + top), band);
    }
    return true;
}

} // namespace

PdfPrintResult PrintPdfDocument(const QByteArray& bytes, const WString& watermark, QPrinter& printer) {
    QBuffer source;
    source.setData(bytes);
    if (!source.open(QIODevice::ReadOnly)) return Failed("the document cannot be read");
    QPdfDocument document;
    document.load(&source);
    if (document.status() != QPdfDocument::Status::Ready)
        return Failed("the document is not a readable PDF (error " + std::to_string(static_cast<int>(document.error())) +
                      ")");
    const int pages = document.pageCount();
    if (pages <= 0) return Failed("the document has no pages");

    printer.setFullPage(true);
    printer.setResolution(std::min(printer.resolution(), kMaxPdfPrintDpi));
    // The job's name, which print queues show and PDF printers name their file by.
    const QString title = document.metaData(QPdfDocument::MetaDataField::Title).toString().trimmed();
    if (!title.isEmpty()) printer.setDocName(title);
    QPainter painter;
    if (!painter.begin(&printer)) return Failed("the printer cannot be painted on");
    const QRect area = printer.pageRect(QPrinter::DevicePixel).toRect();
    const QString text = ToQString(watermark);
    for (int i = 0; i < pages; ++i) {
        if ((i > 0 && !printer.newPage()) || !PrintPage(document, i, text, painter, area)) {
            printer.abort();
            painter.end();
            return Failed("page " + std::to_string(i + 1) + " could not be printed");
        }
    }
    if (!painter.end()) return Failed("the job could not be finished");
    return PdfPrintResult{true, {}};
}

PdfPrintResult FetchAndPrintPdf(const WString& url, const WString& watermark, QPrinter& printer) {
    // Without a title of its own the job is named by the document's file name.
    const QString fileName = QUrl(ToQString(url)).fileName();
    if (!fileName.isEmpty()) printer.setDocName(fileName);
    // A client of its own (its connections still pin-checked against the
    // process's pins), with the header every browser request carries; the
    // machine's identity goes only where the transport's rule sends it.
    try {
        HttpClient client;
        client.maxResponseBytes = kMaxPdfPrintBytes;
        client.requestDeadlineMs = kPdfFetchDeadlineMs;
        const HeaderPair header = ClientHeader();
        client.SetHeader(header.name, header.value);
        const HttpResponse response = client.Get(url);
        if (!response.ok) {
            return Failed("the document could not be fetched: " +
                          (response.error.empty() ? "status " + std::to_string(response.statusCode) : response.error));
        }
        // Read in place: the body outlives the print.
        return PrintPdfDocument(QByteArray::fromRawData(response.body.data(), static_cast<qsizetype>(response.body.size())),
                                watermark, printer);
    } catch (const std::exception& e) {
        return Failed(std::string("the document could not be fetched: ") + e.what());
    }
}
