#pragma once
// Linux backend only: the one splash window of the process. The start-up
// shows it; whichever window first has a page ready closes it.
class QWidget;

QWidget* SplashWindow();
void SetSplashWindow(QWidget* splash);
// Closes the splash if there is one and forgets it.
void CloseSplash();
