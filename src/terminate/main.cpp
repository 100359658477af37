// Ends the user's other web browsers. The browser starts this program from
// its own folder without waiting and never reads anything back, so it has no
// arguments, prints nothing and always exits 0.

#include "system/BrowserNames.h"
#include "system/BrowserTerminator.h"

#include <QCoreApplication>
#include <QDir>

#include <chrono>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList names = readBrowserNames(QDir(folder).filePath(QStringLiteral("tadpole.conf")));

    const BrowserTerminator terminator(QStringLiteral("/proc"), names, ::getuid(),
                                       ::getpid(), ::getppid());
    terminator.endAll(std::chrono::seconds(2));
    return 0;
}
