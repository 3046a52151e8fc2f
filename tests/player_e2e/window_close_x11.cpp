#include "tests/player_e2e/window_close_x11.h"

#include <X11/Xlib.h>

namespace PlayerTesting {

bool RequestCloseLikeAWindowManager(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0;
}

} // namespace PlayerTesting
