#include "browsing/ProgramServices.h"
#include "browsing/frmBrowser.h"
#include "shell/StartupPaths.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tadpole"));

    ProgramServices outside;
    // The text after the program's name: its arguments joined as one.
    frmBrowser browser(outside.services(QCoreApplication::applicationDirPath(), defaultAppFolder(),
                                        QCoreApplication::arguments().mid(1).join(QLatin1Char(' '))));
    return app.exec();
}
