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

} // namespace

void ShowPrintNotice(QWidget* window, PrintOutcome outcome) {
    if (window == nullptr) return;
    const WString text = Messages::PrintNotice(outcome);
    if (text.empty()) return;
    const QString name = QStringLiteral("printNotice");
    for (QLabel* old : window->findChildren<QLabel*>(name, Qt::FindDirectChildrenOnly)) old->deleteLater();

    auto* notice = new QLabel(ToQString(text), window);
    notice->setObjectName(name);
    notice->setAlignment(Qt::AlignCenter);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    const bool printed = outcome == PrintOutcome::Succeeded;
    notice->setStyleSheet(QStringLiteral("QLabel{color:#ffffff;background:%1;border-radius:8px;padding:10px 18px;"
                                         "font-family:'DejaVu Sans',sans-serif;font-size:15px;}")
                              .arg(printed ? QStringLiteral("rgba(30,120,60,0.92)")
                                           : QStringLiteral("rgba(170,40,40,0.92)")));
    new NoticePlacer(window, notice);
    notice->show();
    QTimer::singleShot(kPrintNoticeMs, notice, &QObject::deleteLater);
}
