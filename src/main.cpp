#include "browserview/WebEngineBrowserView.h"
#include "browsing/BrowserServices.h"
#include "browsing/QtDialogs.h"
#include "browsing/frmBrowser.h"
#include "shell/HttpTransport.h"
#include "shell/Services.h"
#include "shell/StartupPaths.h"
#include "system/ProgramLauncher.h"
#include "system/WindowCloser.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tadpole"));

    SystemClock clock;
    QtDialogs dialogs;
    DetachedLauncher launcher;
    HttpTransport transport;
    WebEngineBrowserViewFactory views;

    BrowserServices services;
    services.clock = &clock;
    services.dialogs = &dialogs;
    services.launcher = &launcher;
    services.transport = &transport;
    services.views = &views;
    services.closeWindowByTitle = [](const QString &title) { CloseWindowByTitle(title); };
    services.executableFolder = QCoreApplication::applicationDirPath();
    services.defaultAppFolder = defaultAppFolder();
    // The text after the program's name: its arguments joined as one.
    services.commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));

    frmBrowser browser(services);
    return app.exec();
}
