#pragma once
// Keeps a top-level window inside the usable area of its screen (without the
// panels): its intended size where that fits, smaller where it does not,
// frame included once the window manager has put one around it.
#include <QMargins>
#include <QObject>
#include <QSize>

class QWidget;

class ScreenFit : public QObject {
public:
    // Sizes the window now (its frame still unknown) and again whenever its
    // frame turns out other than assumed. The object is a child of window.
    ScreenFit(QWidget* window, QSize intended);
    // The intended size as far as it fits, placed inside the usable area
    // (after leaving fullscreen, for one).
    void Apply();
    // The fit of a window, or null.
    static ScreenFit* Of(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CheckFrame();

    QWidget* window_;
    QSize intended_;
    QMargins frame_; // last known frame around the client area
};
