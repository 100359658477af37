#include "shell/Startup.h"

#include "filter/UnblockedFile.h"
#include "shell/Identity.h"
#include "shell/ProgramState.h"
#include "shell/Services.h"
#include "shell/SettingsFile.h"
#include "shell/StartupPaths.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

void reportOnStderr(const QString &text)
{
    std::fprintf(stderr, "tadpole: %s\n", qPrintable(text));
}

// Which words chose the portal, for someone looking into a start that could not connect.
QString commandLineSays(const QString &commandLine)
{
    switch (portalChoiceFor(commandLine)) {
    case PortalChoice::Loopback: return QStringLiteral("\"1\" on the command line (the loopback portal)");
    case PortalChoice::Lan: return QStringLiteral("\"2\" on the command line (the local network's portal)");
    case PortalChoice::Public: break;
    }
    return QStringLiteral("no \"1\" or \"2\" on the command line (the public portal)");
}

// The program folder's files that hold what the parent set and what was used.
// One that is there but cannot be read would read as missing: no password, no
// STOP lock, no limit, the day's minutes unused, a new id. Start-up stops instead.
// A link to nothing (a disk not mounted) counts as there. Something other than
// a file in the id's place is moved aside by the id's own rules; in another
// file's place it is never opened (a pipe would wait for ever).
QString unreadableFileIn(const QString &appFolder)
{
    const QStringList identityFiles{Identity::fileName(appFolder), Identity::spareFileName(appFolder)};
    const QStringList files = QStringList{SettingsFile::fileName(appFolder), appFolder + QStringLiteral("unblocked.tad"),
                                          appFolder + QStringLiteral("timeused.txt")} + identityFiles;
    for (const QString &path : files) {
        const QFileInfo info(path);
        if ((!info.exists() && !info.isSymLink()) || (!info.isFile() && identityFiles.contains(path)))
            continue;
        QFile file(path);
        const QString reason = info.exists() && !info.isFile()   ? QStringLiteral("it is not a file")
                               : !file.open(QIODevice::ReadOnly) ? file.errorString()
                                                                 : QString();
        if (!reason.isEmpty())
            return QStringLiteral("Tadpole cannot read %1 (%2). Make it readable for this account, then start Tadpole again.")
                .arg(path, reason);
    }
    return QString();
}

} // namespace

QStringList Startup::configFiles() const
{
    QStringList files{m_state.appFolder + QStringLiteral("tadpole.conf")};
    if (!m_inputs.systemConfigFile.isEmpty())
        files.prepend(m_inputs.systemConfigFile);
    return files;
}

QString Startup::configurationSays() const
{
    QStringList present, absent;
    for (const QString &file : configFiles())
        (QFileInfo::exists(file) ? present : absent) << file;
    if (present.isEmpty())
        return QStringLiteral("the built-in addresses (there is no ") + absent.join(QStringLiteral(" nor ")) + QLatin1Char(')');
    return QStringLiteral("the [portal] section of ") + present.join(QStringLiteral(", overridden by "))
        + (absent.isEmpty() ? QString() : QStringLiteral(" (there is no ") + absent.join(QStringLiteral(" nor ")) + QLatin1Char(')'));
}

Startup::Startup(Inputs inputs, ProgramState &state, StartupWindow &window)
    : m_inputs(std::move(inputs)), m_state(state), m_window(window)
{
}

void Startup::readFiles()
{
    m_state.filterOn = false;
    m_state.appFolder = AppFolderFor(m_inputs.executableFolder, m_inputs.defaultAppFolder);
    const QString helper = terminateProgram(m_state.appFolder, m_inputs.executableFolder);
    if (helper.isEmpty())
        reportOnStderr(QStringLiteral("The helper that ends other web browsers is not installed: no terminate in ")
                       + m_state.appFolder + QStringLiteral(" nor beside the program."));
    m_config = AppConfig::load(configFiles());
    const PortalChoice choice = portalChoiceFor(m_inputs.commandLine);
    m_state.portalBase = PortalBaseFor(choice, m_config);
    m_window.useConfig(m_config, helper); // the radio's page follows the portal in use
    m_portal = std::make_unique<PortalClient>(*m_inputs.transport, m_state.portalBase);

    QString settingsError;
    if (!SettingsFile::EnsureSettingsFile(m_state.appFolder, &settingsError))
        reportOnStderr(QStringLiteral("Could not create the settings file: ") + settingsError);
    m_state.settingsReadAt = m_inputs.clock->now();
    m_state.settingsReadMonotonicMs = m_inputs.clock->monotonicMs();
    SettingsFile::ReadSettings(m_state.appFolder, m_state.settingsReadAt, m_state.settings);

    const QStringList defaults = {
        QStringLiteral("http:///"),    portalAllowEntry(choice, m_config), QStringLiteral("javascript"),
        m_config.allowEntertainment,   QStringLiteral("dnserror.htm"),     QStringLiteral("paypal"),
        QStringLiteral("about:blank"), m_config.allowPreschool,            QStringLiteral("doubleclick"),
    };
    QStringList dropped;
    m_state.allowList = AllowList(defaults, UnblockedFile::readFirstLine(m_state.appFolder + "unblocked.tad"), &dropped);
    for (const QString &entry : std::as_const(dropped))
        reportOnStderr(QStringLiteral("unblocked.tad: left out \"%1\": not a site name").arg(entry.left(200)));
    m_state.allowScope = FilterAddress::matchScopeFrom(m_config.allowMatch);
}

bool Startup::run()
{
    readFiles();
    if (const QString unreadable = unreadableFileIn(m_state.appFolder); !unreadable.isEmpty()) {
        reportOnStderr(unreadable);
        m_window.cannotStart(unreadable);
        return false;
    }
    if (QString why; !m_portal->checkPortal(&why)) {
        reportOnStderr(QStringLiteral("The portal at %1 did not answer: %2. It was chosen by %3 and %4.")
                           .arg(m_state.portalBase, why, commandLineSays(m_inputs.commandLine), configurationSays()));
        m_window.cannotStart(QStringLiteral("You cannot connect to the Tadpole Web Portal.  Check your internet connection."));
        return false;
    }

    // The web engine starts on the start page; the log-on's requests go out
    // once the portal has answered it, while the page loads.
    const QString longVersion = Identity::longVersion();
    m_window.showStartPage(m_portal->startPageAddress());
    m_window.showWindow(QStringLiteral("Tadpole Version: ") + longVersion,
                        QStringLiteral("Tadpole ") + Identity::shortVersion());

    const Identity::LoadResult identity = Identity::LoadUserId(m_state.appFolder, m_inputs.clock->now());
    m_state.userId = identity.userId;
    m_portal->setUserId(m_state.userId);
    if (!identity.error.isEmpty())
        reportOnStderr(identity.error);

    m_window.showMessage(QStringLiteral("Logging onto Tadpole Portal..."));
    m_window.waitForStartPageAnswer();
    const FetchResult visit = m_portal->visit(longVersion);
    if (!visit.ok())
        reportOnStderr(QStringLiteral("The portal did not take the log-on: ") + visit.error);

    m_window.showMessage(QStringLiteral("Getting Face Names..."));
    m_state.faceNames = PortalClient::faceNamesFrom(m_portal->faceNames());
    m_window.showChildren(m_state.faceNames);
    m_window.startWatchdog();

    m_window.showMessage(QStringLiteral("Loading Site Names..."));
    // Until the start page has loaded it could be replaced by the menu before
    // the portal ever saw its request.
    m_window.waitForStartPage();
    m_window.openMenu(0);
    m_state.filterOn = true;
    return true;
}
