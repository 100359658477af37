#pragma once

#include <QByteArray>
#include <QString>

// Which of the desktop's display systems the browser uses. On X11 it can hold
// the keyboard and close other programs' prompts; a native Wayland client can
// do neither, so where both are offered (a Wayland desktop with XWayland) and
// the user chose nothing, X11 is taken.
namespace DisplayPlatform {

// The platform to ask Qt for, or empty to leave Qt's own choice. Arguments
// are the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY.
QByteArray preferred(const QByteArray &chosen, const QByteArray &x11Display, const QByteArray &waylandDisplay);

// What the program cannot do on the platform it runs on, for one line on
// standard error; empty where it can do everything.
QString limitsOn(const QString &platformName);

} // namespace DisplayPlatform
