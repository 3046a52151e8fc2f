#include "app/splash_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QDialog>
#include <QWindow>
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

// A dialog of the splash: it takes the keyboard when it appears, and
// closing it, Escape or Enter give up as its button does.
class ConnectingNotice : public QDialog {
public:
    ConnectingNotice(QWidget* splash, void (*giveUp)())
        : QDialog(splash, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), giveUp_(giveUp) {}

protected:
    void closeEvent(QCloseEvent*) override { giveUp_(); }
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter: giveUp_(); return;
        default: QDialog::keyPressEvent(event);
        }
    }
    void reject() override { giveUp_(); }

private:
    void (*giveUp_)();
};

// One label a line, each in its own direction: one label for both languages
// would lay the Arabic line out left to right, its closing points at its start.
QLabel* NoticeLine(const QString& line, QWidget* parent) {
    auto* label = new QLabel(line, parent);
    label->setTextFormat(Qt::PlainText);
    label->setLayoutDirection(line.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

void ShowConnectingNotice(bool shown, void (*giveUp)()) {
    if (!shown) {
        if (gNotice) gNotice->deleteLater();
        gNotice = nullptr;
        return;
    }
    if (gNotice) return;
    const QString text = ToQString(Messages::ConnectingNotice());
    auto* notice = new ConnectingNotice(SplashWindow(), giveUp);
    notice->setObjectName(QStringLiteral("connecting-notice"));
    notice->setWindowTitle(QStringLiteral("Tovani - Connecting"));
    // A screen reader announces the dialog by what it says.
    notice->setAccessibleName(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    notice->setStyleSheet(QStringLiteral("QDialog#connecting-notice{background:#121212;border:1px solid #444;}"
                                         "QLabel{color:#c8c8c8;font-size:15px;}"
                                         "QPushButton{padding:3px 12px;border:1px solid palette(mid);border-radius:3px;"
                                         "background:palette(button);color:palette(button-text);}"
                                         // Where the keyboard is must show.
                                         "QPushButton:focus{border:2px solid palette(highlight);}"));
    auto* layout = new QVBoxLayout(notice);
    for (const QString& line : text.split(QLatin1Char('\n'))) layout->addWidget(NoticeLine(line, notice));
    auto* button = new QPushButton(ToQString(Messages::ConnectingGiveUp()), notice);
    button->setObjectName(QStringLiteral("connecting-give-up"));
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, [giveUp] { giveUp(); });
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
    notice->activateWindow();
    button->setFocus();
    gNotice = notice;
}

// On Wayland a program cannot put one window above another: a window is kept
// above the one it is transient for. The splash becomes so for the player's
// window while that waits, empty, for its content.
void KeepSplashAbove(QWidget* window) {
    QWidget* splash = SplashWindow();
    if (splash == nullptr || window == nullptr || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    window->winId();
    QWindow* handle = window->windowHandle();
    if (splash->windowHandle() == nullptr || handle == nullptr || splash->windowHandle()->transientParent() == handle)
        return;
    // The compositor learns of the parent when the window is mapped.
    const bool noticeShown = gNotice && gNotice->isVisible();
    splash->hide();
    splash->windowHandle()->setTransientParent(handle);
    splash->show();
    if (noticeShown) {
        gNotice->hide();
        gNotice->show();
        gNotice->activateWindow();
    }
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
