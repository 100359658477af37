#pragma once

#include <QtGlobal>

#include <X11/Xlib.h>

// Other programs' view of our windows on an X server: find one by its title,
// and ask it to close as a window manager's close box does.
namespace e2e {

// A window may vanish between listing it and asking about it; Xlib's default
// answer to that error is to end the whole test program.
inline int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

// A mapped top-level window by its whole title, or 0. Under a window
// manager the window is one level down, inside the manager's frame.
inline Window findTopLevel(Display *display, const char *title, Window under = 0, int depth = 0)
{
    XSetErrorHandler(ignoreXError);
    Window root = under ? under : DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        char *name = nullptr;
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        if (XFetchName(display, children[i], &name) && name) {
            if (qstrcmp(name, title) == 0)
                found = children[i];
            XFree(name);
        } else if (depth == 0) {
            found = findTopLevel(display, title, children[i], 1);
        }
    }
    if (children)
        XFree(children);
    return found;
}

inline void askToClose(Display *display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

} // namespace e2e
