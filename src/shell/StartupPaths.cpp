#include "shell/StartupPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString withoutWww(const QString &host)
{
    return host.startsWith(QLatin1String("www."), Qt::CaseInsensitive) ? host.mid(4) : host;
}

// The length of a leading "http://" or "https://", else 0.
qsizetype schemeLength(const QString &configured)
{
    for (const QLatin1String scheme : {QLatin1String("https://"), QLatin1String("http://")}) {
        if (configured.startsWith(scheme, Qt::CaseInsensitive))
            return scheme.size();
    }
    return 0;
}

QString withoutClosingSlashes(QString text)
{
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

} // namespace

QString AppFolderFor(const QString &executableFolder, const QString &defaultFolder)
{
    if (executableFolder.toUpper().contains(QLatin1String("TADPOLE"))) {
        QString folder = executableFolder;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        return folder;
    }
    return defaultFolder;
}

QString defaultAppFolder()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = base + QStringLiteral("/tadpole/");
    QDir().mkpath(folder);
    return folder;
}

PortalChoice portalChoiceFor(const QString &commandLine)
{
    if (commandLine == QLatin1String("1"))
        return PortalChoice::Loopback;
    if (commandLine == QLatin1String("2"))
        return PortalChoice::Lan;
    return PortalChoice::Public;
}

static QString hostFor(PortalChoice choice, const AppConfig &config)
{
    switch (choice) {
    case PortalChoice::Loopback: return config.portalLoopback;
    case PortalChoice::Lan: return config.portalLan;
    case PortalChoice::Public: break;
    }
    return config.portalPublic;
}

QString portalOrigin(const QString &configured)
{
    const qsizetype scheme = schemeLength(configured);
    return scheme ? configured.left(scheme).toLower() + withoutClosingSlashes(configured.mid(scheme))
                  : QStringLiteral("http://") + withoutClosingSlashes(configured);
}

QString PortalBaseFor(PortalChoice choice, const AppConfig &config)
{
    return portalOrigin(hostFor(choice, config)) + QStringLiteral("/tad/");
}

QString portalAllowEntry(PortalChoice choice, const AppConfig &config)
{
    if (choice == PortalChoice::Public && !config.allowPortal.isEmpty())
        return config.allowPortal;
    const QString configured = hostFor(choice, config);
    return withoutWww(withoutClosingSlashes(configured.mid(schemeLength(configured))));
}

QString terminateProgram(const QString &appFolder, const QString &executableFolder)
{
    const QString own = appFolder + QStringLiteral("terminate");
    if (QFileInfo(own).isFile())
        return own;
    const QString installed =
        QDir::cleanPath(executableFolder + QStringLiteral("/../libexec/tadpole/terminate"));
    return QFileInfo(installed).isFile() ? installed : QString();
}
