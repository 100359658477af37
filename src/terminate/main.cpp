// Ends the user's other web browsers. The browser starts this program from
// its own folder without waiting and never reads anything back, so it has no
// arguments, prints nothing and always exits 0.

#include "system/BrowserNames.h"
#include "system/BrowserTerminator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <chrono>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    // The browser's own configuration, read as the browser reads it: the
    // system-wide file, then the program folder's, beside this program in a
    // development build, else the per-user one the installed browser uses.
    // Both then count and end the same browsers.
    QString conf = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tadpole.conf"));
    if (!QFileInfo::exists(conf)) {
        QString data = qEnvironmentVariable("XDG_DATA_HOME");
        if (data.isEmpty() || !QDir::isAbsolutePath(data))
            data = QDir::homePath() + QStringLiteral("/.local/share");
        conf = data + QStringLiteral("/tadpole/tadpole.conf");
    }
    const QStringList names = readBrowserNames({QStringLiteral(TADPOLE_SYSTEM_CONFIG), conf});

    const BrowserTerminator terminator(QStringLiteral("/proc"), names, ::getuid(),
                                       ::getpid(), ::getppid());
    terminator.endAll(std::chrono::seconds(2));
    return 0;
}
