#include "app/ProgramServices.h"
#include "browsing/MainWindow.h"
#include "shell/DisplayPlatform.h"
#include "shell/StartupPaths.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QByteArray platform = DisplayPlatform::preferred(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                                           qgetenv("WAYLAND_DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tadpole"));
    const QString limits = DisplayPlatform::limitsOn(QGuiApplication::platformName());
    if (!limits.isEmpty())
        std::fprintf(stderr, "tadpole: %s\n", qPrintable(limits));

    ProgramServices outside;
    // The text after the program's name: its arguments joined as one.
    MainWindow browser(outside.services(QCoreApplication::applicationDirPath(), defaultAppFolder(),
                                        QCoreApplication::arguments().mid(1).join(QLatin1Char(' '))));
    return app.exec();
}
