#include "app/splash_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include "app/messages.h"
#include "common/message_box_qt.h"
#include "common/debug_log.h"

namespace {

class SplashWidget : public QWidget {
public:
    explicit SplashWidget(QPixmap image)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool), image_(std::move(image)) {
        setObjectName(QStringLiteral("splash"));
        setWindowTitle(QStringLiteral("Kelbro Splash"));
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose);
        setCursor(Qt::BusyCursor);
        setFixedSize(image_.deviceIndependentSize().toSize());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawPixmap(0, 0, image_);
    }
    // The whole image is a caption: it can be dragged anywhere.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
    }

private:
    QPixmap image_;
    QPoint dragOffset_;
};

bool gShownOnce = false;
QPointer<QWidget> gNotice;

// Closing the notice, or Escape on it, gives up as its button does.
class ConnectingNotice : public QWidget {
public:
    explicit ConnectingNotice(void (*giveUp)())
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool), giveUp_(giveUp) {}

protected:
    void closeEvent(QCloseEvent*) override { giveUp_(); }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) giveUp_();
        QWidget::keyPressEvent(event);
    }

private:
    void (*giveUp_)();
};


} // namespace

void ShowConnectingNotice(bool shown, void (*giveUp)()) {
    if (!shown) {
        if (gNotice) gNotice->deleteLater();
        gNotice = nullptr;
        return;
    }
    if (gNotice) return;
    auto* notice = new ConnectingNotice(giveUp);
    notice->setObjectName(QStringLiteral("connecting-notice"));
    notice->setWindowTitle(QStringLiteral("Tovani - Connecting"));
    notice->setStyleSheet(QStringLiteral("QWidget#connecting-notice{background:#121212;border:1px solid #444;}"
                                         "QLabel{color:#c8c8c8;font-size:15px;}"));
    auto* layout = new QVBoxLayout(notice);
    auto* text = new QLabel(ToQString(Messages::ConnectingNotice()), notice);
    text->setAlignment(Qt::AlignCenter);
    auto* button = new QPushButton(ToQString(Messages::ConnectingGiveUp()), notice);
    button->setObjectName(QStringLiteral("connecting-give-up"));
    QObject::connect(button, &QPushButton::clicked, [giveUp] { giveUp(); });
    button->setFocus();
    layout->addWidget(text);
    layout->addWidget(button, 0, Qt::AlignCenter);
    notice->adjustSize();
    // Over the middle of the splash, which is centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        notice->move(area.x() + (area.width() - notice->width()) / 2,
                     area.y() + (area.height() - notice->height()) * 2 / 3);
    }
    notice->show();
    notice->raise();
    gNotice = notice;
}

void ShowSplash() { ShowSplashImage(QStringLiteral(":/tovani/splash.png")); }

void ShowSplashImage(const QString& path) {
    if (SplashWindow() != nullptr || gShownOnce) return;
    // The image lives in a static library: register its resource explicitly.
    Q_INIT_RESOURCE(tovani);
    QPixmap image;
    const bool found = QFile::exists(path);
    if (!found || !image.load(path) || image.isNull()) {
        // Start-up goes on without a splash; the user is told why.
        ShowMessageBox(found ? u"Gdiplus::Bitmap::FromStream failed."
                             : u"FindResourceW failed. Could not find resource ID 102.",
                       u"Splash Error", MessageIcon::None, MessageButtons::Ok);
        DebugLog("Failed to create splash screen from embedded resources.");
        return;
    }
    gShownOnce = true;
    auto* splash = new SplashWidget(image);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        splash->move(area.x() + (area.width() - splash->width()) / 2, area.y() + (area.height() - splash->height()) / 2);
    }
    SetSplashWindow(splash);
    splash->show();
    splash->raise();
    // Painted now: the start-up steps that follow block the loop for a while.
    QCoreApplication::processEvents();
}
