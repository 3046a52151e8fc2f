#pragma once
// A user's click on a page, as the window system would deliver it: mouse
// press and release on the widget that takes the browser view's input.
// Chromium takes it as the user's own (a user gesture), which a click from
// a script is not.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QVariant>
#include <QWebEngineView>

namespace UserInput {

// The script that gives an element's centre in the view, as [x, y].
inline QString CentreOf(const QString& elementId) {
    return QStringLiteral("(function(){var r=document.getElementById('%1').getBoundingClientRect();"
                          "return [r.left + r.width / 2, r.top + r.height / 2];})()")
        .arg(elementId);
}

// Clicks at a point given as the [x, y] that CentreOf's script answered;
// false when there is no such point or no view.
inline bool Click(QWebEngineView* view, const QVariant& centre) {
    const QVariantList xy = centre.toList();
    if (view == nullptr || xy.size() != 2) return false;
    QWidget* target = view->focusProxy() != nullptr ? view->focusProxy() : view;
    const QPointF at(xy[0].toDouble(), xy[1].toDouble());
    const QPointF global = target->mapToGlobal(at);
    QMouseEvent move(QEvent::MouseMove, at, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
    return true;
}

} // namespace UserInput
