#pragma once
// Windows backend only: the one splash window of the process. The start-up
// shows it; whichever window first has a page ready closes it.
#include <windows.h>

HWND SplashHandle();
void SetSplashHandle(HWND window);
// Destroys the splash if there is one and forgets it.
void CloseSplash();
