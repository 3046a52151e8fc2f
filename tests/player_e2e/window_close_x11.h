#pragma once
// What a window manager does when the user closes a window: a WM_DELETE_WINDOW
// message to the window, through the X server (kept apart from Qt's headers,
// which Xlib's macros would clash with).
namespace PlayerTesting {

// True when the message was sent to the X window (a QWidget's winId()).
bool RequestCloseLikeAWindowManager(unsigned long window);

} // namespace PlayerTesting
