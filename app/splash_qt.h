#pragma once
// The splash: the product image, per-pixel transparent, topmost, centred and
// draggable, from the first moments of start-up until a page is ready.
class QWidget;

// Does nothing when a splash exists or was already shown in this process.
void ShowSplash();
// Closes the splash if there is one.
void CloseSplash();
QWidget* SplashWindow();
