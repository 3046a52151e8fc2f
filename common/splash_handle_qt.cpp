#include "common/splash_handle_qt.h"

#include <QPointer>
#include <QWidget>

namespace {
// Cleared by Qt when the splash goes by itself.
QPointer<QWidget> gSplash;
} // namespace

QWidget* SplashWindow() { return gSplash; }

void SetSplashWindow(QWidget* splash) { gSplash = splash; }

void CloseSplash() {
    if (gSplash) gSplash->close();
    gSplash = nullptr;
}
