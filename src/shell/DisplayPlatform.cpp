#include "shell/DisplayPlatform.h"

namespace DisplayPlatform {

QByteArray preferred(const QByteArray &chosen, const QByteArray &x11Display, const QByteArray &waylandDisplay)
{
    if (chosen.isEmpty() && !x11Display.isEmpty() && !waylandDisplay.isEmpty())
        return QByteArrayLiteral("xcb");
    return {};
}

QString limitsOn(const QString &platformName)
{
    if (!platformName.startsWith(QLatin1String("wayland")))
        return {};
    return QStringLiteral("running as a native Wayland program: other programs' download and security prompts "
                          "are not closed, and while STOP is disabled the desktop's shortcuts (such as Alt+Tab "
                          "or the Super key) are held back only where the desktop allows it. Start it with "
                          "QT_QPA_PLATFORM=xcb, or give the child an account of its own with the desktop's "
                          "parental controls.");
}

} // namespace DisplayPlatform
