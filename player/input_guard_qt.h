#pragma once
// Filters the input of a browser view before Chromium sees it: drops from
// other programs (files, text) are never taken, and in production Ctrl+wheel
// and pinch do not zoom (Qt WebEngine zooms on them; it binds no zoom keys).
// Watches the view's children, since Qt WebEngine creates (and may recreate)
// the widget that really takes input, the view's focus proxy.
#include <QObject>
#include <QPointer>

class QWidget;

namespace WebView {

class InputGuard : public QObject {
    Q_OBJECT
public:
    explicit InputGuard(QWidget* view);
    bool eventFilter(QObject* watched, QEvent* event) override;

    void SetZoomBlocked(bool blocked) { zoomBlocked_ = blocked; }

    // True for the input events that do not get through.
    static bool Blocks(QEvent* event, bool zoomBlocked);

private:
    void Watch(QObject* object);
    QPointer<QWidget> view_;
    bool zoomBlocked_ = false;
};

} // namespace WebView
