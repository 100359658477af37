#include "system/DesktopFocus.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <optional>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

Display *x11Display()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// A request to the window manager about `window`, sent as a pager sends it.
void askWindowManager(Display *display, QWindow *window, const char *message, long first, long second)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window->winId());
    event.xclient.message_type = XInternAtom(display, message, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = first;
    event.xclient.data.l[1] = second;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// The first 32-bit item of a window's property of the given type, if it has one.
std::optional<unsigned long> firstItem(Display *display, Window window, Atom property, Atom type)
{
    Atom typeFound = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char *data = nullptr;
    std::optional<unsigned long> item;
    if (XGetWindowProperty(display, window, property, 0, 1, False, type, &typeFound, &format, &count, &left, &data) == Success
        && data && count == 1 && format == 32)
        item = *reinterpret_cast<unsigned long *>(data);
    if (data)
        XFree(data);
    return item;
}

} // namespace

void forceFocus(QWindow *window)
{
    Display *display = window ? x11Display() : nullptr;
    if (!display)
        return;
    askWindowManager(display, window, "_NET_ACTIVE_WINDOW", 2 /* source: a pager, on the user's behalf */, CurrentTime);
    XRaiseWindow(display, Window(window->winId()));
    XFlush(display);
}

void showOnEveryDesktop(QWindow *window, bool every)
{
    Display *display = window ? x11Display() : nullptr;
    if (!display)
        return;
    unsigned long desktop = 0xFFFFFFFF; // every desktop
    if (!every) {
        desktop = firstItem(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CURRENT_DESKTOP", False), XA_CARDINAL)
                      .value_or(0);
        if (desktop == 0xFFFFFFFF)
            desktop = 0;
    }
    // The property for a window not yet shown, the request for one the window manager has.
    const Atom property = XInternAtom(display, "_NET_WM_DESKTOP", False);
    XChangeProperty(display, Window(window->winId()), property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&desktop), 1);
    askWindowManager(display, window, "_NET_WM_DESKTOP", long(desktop), 2);
    XFlush(display);
}

bool inputFocusIsOurs()
{
    Display *display = x11Display();
    if (!display)
        return true;
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus(display, &focus, &revertTo);
    const QWindowList windows = QGuiApplication::allWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [focus](QWindow *window) { return window->handle() && Window(window->winId()) == focus; });
}

bool holdKeyboardOnScreen(bool hold)
{
    Display *display = x11Display();
    if (!display)
        return false;
    // Qt's own connection: a menu's or list's grab replaces this one.
    if (!hold) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        return true;
    }
    // Owner events: a key for a window of ours that has the focus goes to
    // it as usual; any other reaches no program.
    return XGrabKeyboard(display, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
}

bool minimisedOnScreen(QWindow *window)
{
    Display *display = window && window->handle() ? x11Display() : nullptr;
    if (!display)
        return false;
    const Atom state = XInternAtom(display, "WM_STATE", False);
    return firstItem(display, Window(window->winId()), state, state) == static_cast<unsigned long>(IconicState);
}

void showMinimisedAgain(QWindow *window)
{
    Display *display = window && window->handle() ? x11Display() : nullptr;
    if (!display)
        return;
    XMapWindow(display, Window(window->winId()));
    XFlush(display);
}
