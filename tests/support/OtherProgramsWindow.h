#pragma once

// Included after Qt's headers: Xlib's macros clash with their names.
#include <QString>

#include <X11/Xlib.h>

// A window of another program, titled as old (Latin-1) and new (UTF-8) programs do, asking to be told of a close.
inline Window otherProgramsWindow(Display *owner, const QByteArray &title)
{
    const Window window = XCreateSimpleWindow(owner, DefaultRootWindow(owner), 0, 0, 50, 50, 0, 0, 0);
    if (QString::fromUtf8(title).toLatin1() == title)
        XStoreName(owner, window, title.constData());
    else
        XChangeProperty(owner, window, XInternAtom(owner, "_NET_WM_NAME", False), XInternAtom(owner, "UTF8_STRING", False), 8,
                        PropModeReplace, reinterpret_cast<const unsigned char *>(title.constData()), int(title.size()));
    Atom deleteWindow = XInternAtom(owner, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(owner, window, &deleteWindow, 1);
    XMapWindow(owner, window);
    XSync(owner, False);
    return window;
}
