#pragma once

// What the desktop tests ask of an X server, its window manager and its tools, as a person at the screen would see or do it.
#include "E2eSupport.h"

#include <QImage>
#include <QProcess>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

namespace desktopTools {

inline QString run(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}
inline QString xdotool(const QStringList &arguments) { return run(QStringLiteral("xdotool"), arguments); }
// A mapped window by its whole title, or 0.
inline Window shown(const char *title)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), "^" + QLatin1String(title) + "$"})
        .section(QLatin1Char('\n'), 0, 0).toULong();
}
inline QString activeTitle() { return xdotool({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}); }
inline bool becomesActive(const QString &title, int ms = 5000) { return e2e::waitFor([&] { return activeTitle() == title; }, ms); }
// Whether a window is the top one of those the window manager has.
inline bool onTop(Window window)
{
    return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")})
        .endsWith(QStringLiteral("0x%1").arg(window, 0, 16));
}
// The window manager's state of a window, as xprop prints it.
inline QString windowState(const QString &window) { return run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE")}); }

// What a window manager's close box sends.
inline void askToClose(Display *display, Window window)
{
    XEvent event{};
    event.xclient = {ClientMessage, 0, False, display, window, XInternAtom(display, "WM_PROTOCOLS", False), 32,
                     {.l = {long(XInternAtom(display, "WM_DELETE_WINDOW", False)), CurrentTime}}};
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}
// Whether another program holds the keyboard: the test's own grab is refused.
inline bool keyboardHeld(Display *display)
{
    const int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (result == GrabSuccess)
        XUngrabKeyboard(display, CurrentTime);
    XFlush(display);
    return result == AlreadyGrabbed;
}
// Whether the window manager has shown the bare desktop (its menus, other programs in reach of a click) since the last call.
inline bool desktopWasShown(Display *display)
{
    const Atom showing = XInternAtom(display, "_NET_SHOWING_DESKTOP", False);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    XSync(display, False);
    bool shown = false;
    for (XEvent event; XPending(display);) {
        XNextEvent(display, &event);
        shown = shown || (event.type == PropertyNotify && event.xproperty.atom == showing);
    }
    return shown;
}

// What the X server shows of a window, and how many of its pixels have one of our pictures' flat colours,
// in the toolbar or below it.
inline QImage grab(Display *display, Window window)
{
    XWindowAttributes attributes;
    XImage *image = XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable
        ? XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap) : nullptr;
    return !image ? QImage()
                  : QImage(reinterpret_cast<uchar *>(image->data), image->width, image->height, image->bytes_per_line,
                           QImage::Format_RGB32, [](void *info) { XDestroyImage(static_cast<XImage *>(info)); }, image);
}
inline int count(const QImage &image, QRgb colour, bool inToolbar)
{
    int found = 0;
    for (int y = inToolbar ? 0 : 52; y < (inToolbar ? std::min(52, image.height()) : image.height()); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        found += int(std::count_if(line, line + image.width(), [colour](QRgb pixel) { return (pixel | 0xff000000) == colour; }));
    }
    return found;
}

} // namespace desktopTools
