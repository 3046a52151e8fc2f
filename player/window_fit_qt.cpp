#include "player/window_fit_qt.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

ScreenFit::ScreenFit(QWidget* window, QSize intended) : QObject(window), window_(window), intended_(intended) {
    window_->installEventFilter(this);
    Apply();
}

void ScreenFit::Apply() {
    if (window_->isFullScreen() || window_->isMaximized()) return;
    // Off screen there is no screen to fit (Qt's stand-in is 800x600).
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        window_->resize(intended_);
        return;
    }
    QScreen* screen = window_->screen() != nullptr ? window_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QSize room(area.width() - frame_.left() - frame_.right(), area.height() - frame_.top() - frame_.bottom());
    const QSize size = intended_.boundedTo(room).expandedTo(window_->minimumSize()).expandedTo(QSize(1, 1));
    if (window_->size() != size) window_->resize(size);
    if (!window_->isVisible()) return; // the window manager places it
    // The frame's top left corner, moved as little as keeps the frame inside.
    const QSize outer = size.grownBy(frame_);
    QPoint corner = window_->frameGeometry().topLeft();
    corner.setX(std::clamp(corner.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
    corner.setY(std::clamp(corner.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (corner != window_->frameGeometry().topLeft()) window_->move(corner);
}

ScreenFit* ScreenFit::Of(QWidget* window) {
    for (QObject* child : window->children())
        if (auto* fit = dynamic_cast<ScreenFit*>(child)) return fit;
    return nullptr;
}

void ScreenFit::CheckFrame() {
    if (!window_->isVisible() || window_->isFullScreen() || window_->isMaximized() || window_->isMinimized()) return;
    const QRect outer = window_->frameGeometry();
    const QRect inner = window_->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    if (frame.left() < 0 || frame.top() < 0 || frame.right() < 0 || frame.bottom() < 0) return;
    if (frame != frame_) {
        frame_ = frame;
        Apply();
        return;
    }
    // Larger than the usable area (a window manager restoring the size from
    // before fullscreen, a screen that shrank): never wanted. A window the
    // user moved partly off screen is left where it is.
    QScreen* screen = window_->screen();
    if (screen == nullptr) return;
    const QSize room = screen->availableGeometry().size().shrunkBy(frame_);
    if (window_->width() > room.width() || window_->height() > room.height()) Apply();
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
        case QEvent::Show:
            // The window manager frames the window only after it is mapped.
            for (const int ms : {50, 400}) QTimer::singleShot(ms, this, [this] { CheckFrame(); });
            break;
        case QEvent::Move:
        case QEvent::Resize:
            QTimer::singleShot(0, this, [this] { CheckFrame(); });
            break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}
