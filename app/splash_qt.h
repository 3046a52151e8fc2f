#pragma once
// The splash: the product image, per-pixel transparent, topmost, centred and
// draggable, from the first moments of start-up until a page is ready.
#include "common/splash_handle_qt.h"

class QString;
class QWidget;

// Does nothing when a splash exists or was already shown in this process.
void ShowSplash();
// The same from a given image; an image that cannot be found or read is
// reported in a message box and start-up goes on without a splash.
void ShowSplashImage(const QString& path);

// The notice over the splash while start-up waits on the network: that the
// player is connecting (both languages) and a button that gives up, calling
// giveUp. Hidden again with shown false.
void ShowConnectingNotice(bool shown, void (*giveUp)());
// Keeps the splash above window (the player's, shown empty while start-up
// goes on) where the window system gives programs no stacking of their own.
void KeepSplashAbove(QWidget* window);
