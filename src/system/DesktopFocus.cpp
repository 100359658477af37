#include "system/DesktopFocus.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xlib.h>

void forceFocus(QWindow *window)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return;
    const Window root = DefaultRootWindow(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window->winId());
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // source: a pager, on the user's behalf
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(display, Window(window->winId()));
    XFlush(display);
}
