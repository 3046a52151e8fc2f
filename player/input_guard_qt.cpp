#include "player/input_guard_qt.h"

#include <QChildEvent>
#include <QDropEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>
#include <QWidget>

namespace WebView {

InputGuard::InputGuard(QWidget* view) : QObject(view), view_(view) {
    if (view == nullptr) return;
    Watch(view);
    for (QObject* child : view->findChildren<QObject*>()) Watch(child);
}

void InputGuard::Watch(QObject* object) {
    if (object == nullptr || object == this) return;
    // Installing twice would filter twice; removing first keeps it single.
    object->removeEventFilter(this);
    object->installEventFilter(this);
}

bool InputGuard::Blocks(QEvent* event, bool zoomBlocked) {
    switch (event->type()) {
    case QEvent::Wheel:
        return zoomBlocked && (static_cast<QWheelEvent*>(event)->modifiers() & Qt::ControlModifier) != 0;
    case QEvent::NativeGesture:
        return zoomBlocked && static_cast<QNativeGestureEvent*>(event)->gestureType() == Qt::ZoomNativeGesture;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // Drags inside the page have a source in this process; those from
        // other programs (files, text) have none.
        return static_cast<QDropEvent*>(event)->source() == nullptr;
    default:
        return false;
    }
}

bool InputGuard::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        Watch(child);
        if (child != nullptr)
            for (QObject* grandChild : child->findChildren<QObject*>()) Watch(grandChild);
        return false;
    }
    if (Blocks(event, zoomBlocked_)) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)
            static_cast<QDropEvent*>(event)->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace WebView
