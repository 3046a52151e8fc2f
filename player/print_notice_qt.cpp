#include "player/print_notice_qt.h"
#include "common/qt_text.h"

#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "player/player_messages.h"

namespace {

// Keeps the notice at the window's bottom centre while the window changes size.
class NoticePlacer : public QObject {
public:
    NoticePlacer(QWidget* window, QLabel* notice) : QObject(notice), window_(window), notice_(notice) {
        window->installEventFilter(this);
        Place();
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Resize) Place();
        return false;
    }

private:
    void Place() {
        if (!window_ || !notice_) return;
        notice_->adjustSize();
        const QSize size = notice_->size();
        notice_->move((window_->width() - size.width()) / 2, window_->height() - size.height() - 32);
        notice_->raise();
    }
    QPointer<QWidget> window_;
    QPointer<QLabel> notice_;
};

// One block a line, each laid out in its own direction: as plain text the
// whole label takes the English line's, and the Arabic line's closing
// punctuation would stand at its start. Escaped, so it shows as written.
QString LinesInTheirDirection(const QString& text) {
    QString html;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        html += QStringLiteral("<div align=\"center\" dir=\"%1\" style=\"white-space:pre-wrap\">")
                    .arg(line.isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr"));
        html += line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped();
        html += QStringLiteral("</div>");
    }
    return html;
}

} // namespace

QLabel* ShowWindowNotice(QWidget* window, const QString& name, const WString& text, const QString& background,
                         int ms) {
    if (window == nullptr || text.empty()) return nullptr;
    for (QLabel* old : window->findChildren<QLabel*>(name, Qt::FindDirectChildrenOnly)) old->deleteLater();

    auto* notice = new QLabel(window);
    notice->setTextFormat(Qt::RichText);
    notice->setText(LinesInTheirDirection(ToQString(text)));
    notice->setObjectName(name);
    notice->setAlignment(Qt::AlignCenter);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice->setStyleSheet(QStringLiteral("QLabel{color:#ffffff;background:%1;border-radius:8px;padding:10px 18px;"
                                         "font-family:'DejaVu Sans',sans-serif;font-size:15px;}")
                              .arg(background));
    new NoticePlacer(window, notice);
    notice->show();
    if (ms > 0) QTimer::singleShot(ms, notice, &QObject::deleteLater);
    return notice;
}

void ShowPrintNotice(QWidget* window, PrintOutcome outcome) {
    const bool printed = outcome == PrintOutcome::Succeeded;
    ShowWindowNotice(window, QStringLiteral("printNotice"), Messages::PrintNotice(outcome),
                     printed ? QStringLiteral("rgba(30,120,60,0.92)") : QStringLiteral("rgba(170,40,40,0.92)"),
                     kPrintNoticeMs);
}
