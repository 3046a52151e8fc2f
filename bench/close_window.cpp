// Closes a program's windows the way a window manager does when the user
// clicks the close button: WM_DELETE_WINDOW to every mapped top-level window
// whose _NET_WM_PID is the given process. Prints how many were asked.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

#include "tests/player_e2e/window_close_x11.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: soak_close_window PID\n");
        return 2;
    }
    const unsigned long pid = std::strtoul(argv[1], nullptr, 10);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 1;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int asked = 0;
    if (pidAtom != None && XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable) continue;
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* value = nullptr;
            if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                   &after, &value) == Success &&
                value != nullptr && items == 1 && format == 32 &&
                *reinterpret_cast<unsigned long*>(value) == pid) {
                if (PlayerTesting::RequestCloseLikeAWindowManager(children[i])) ++asked;
            }
            if (value != nullptr) XFree(value);
        }
        if (children != nullptr) XFree(children);
    }
    XCloseDisplay(display);
    std::printf("%d\n", asked);
    return asked > 0 ? 0 : 1;
}
