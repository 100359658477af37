// tadpole-portal: the web portal the Tadpole browser talks to.
#include "DatabaseErrors.h"
#include "DemoSite.h"
#include "PageQuery.h"
#include "HttpService.h"
#include "PortalPages.h"
#include "PortalStore.h"
#include "PreparePortal.h"
#include "StarterCatalogue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "tadpole-portal: %s\n", qPrintable(message));
    return 1;
}

QString defaultDatabase()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QStringLiteral("sqlite:") + dataHome + QStringLiteral("/tadpole/portal.sqlite");
}

} // namespace

int main(int argc, char *argv[])
{
    // Every thread inherits this mask, so SIGTERM and SIGINT reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails, and the change answers 503, instead of the
    // signal ending the portal for everyone.
    std::signal(SIGXFSZ, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tadpole-portal"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Tadpole web portal.\n\n"
        "A new database starts with the public sites of the starter catalogue, once (not with --demo or\n"
        "--no-catalogue). The PostgreSQL password comes from --db-password-file, or from libpq's PGPASSWORD\n"
        "or ~/.pgpass; never put it in --db, where ps shows it. Installed, tadpole-portal.service serves\n"
        "127.0.0.1:8642, tadpole-portal@PORT.service runs one of several instances (settings in\n"
        "/etc/tadpole-portal/instances.conf), and /etc/tadpole/tadpole.conf points this machine's browsers\n"
        "at this portal. See tadpole-portal(8)."));
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Displays the version and ends."));
    const QCommandLineOption bindOption(QStringLiteral("bind"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port; 0 takes a free one."),
                                        QStringLiteral("N"), QStringLiteral("8642"));
    const QCommandLineOption dbOption(QStringLiteral("db"),
                                      QStringLiteral("sqlite:FILE or postgresql://user@host:port/dbname."),
                                      QStringLiteral("URL"), defaultDatabase());
    const QCommandLineOption passwordFileOption(
        QStringLiteral("db-password-file"),
        QStringLiteral("The PostgreSQL password: this file's first line. Default: none, libpq's PGPASSWORD or ~/.pgpass."),
        QStringLiteral("FILE"));
    const QString catalogue = defaultStarterCatalogue(QCoreApplication::applicationDirPath());
    const QCommandLineOption catalogueOption(
        QStringLiteral("catalogue"), QStringLiteral("The public sites a new database starts with; default %1.").arg(catalogue),
        QStringLiteral("FILE"), catalogue);
    const QCommandLineOption noCatalogueOption(QStringLiteral("no-catalogue"),
                                               QStringLiteral("A new database starts with no sites (and --demo with the demo family)."));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("Load the demo family into an empty database and serve the demo sites."));
    const QCommandLineOption maintainerOption(QStringLiteral("maintainer"),
                                              QStringLiteral("A user id that may change public sites (repeatable)."),
                                              QStringLiteral("USERID"));
    const QCommandLineOption threadsOption(QStringLiteral("threads"), QStringLiteral("Worker threads."),
                                           QStringLiteral("N"), QString::number(std::max(1u, std::thread::hardware_concurrency())));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Print nothing but errors."));
    const QCommandLineOption accessLogOption(QStringLiteral("access-log"),
                                             QStringLiteral("Append \"ADDR:PORT METHOD TARGET\" per request."),
                                             QStringLiteral("FILE"));
    const QCommandLineOption radioOption(QStringLiteral("radio-stream"), QStringLiteral("Stream the radio page plays."),
                                         QStringLiteral("URL"));
    const HttpLimits defaults;
    const QCommandLineOption headerTimeoutOption(
        QStringLiteral("header-timeout"), QStringLiteral("Seconds a request's head and body may take to arrive."),
        QStringLiteral("SECONDS"), QString::number(defaults.headerTimeout.count() / 1000));
    const QCommandLineOption idleTimeoutOption(
        QStringLiteral("idle-timeout"), QStringLiteral("Seconds a kept-alive connection may wait for its next request."),
        QStringLiteral("SECONDS"), QString::number(defaults.idleTimeout.count() / 1000));
    const QCommandLineOption perAddressOption(
        QStringLiteral("max-per-address"), QStringLiteral("Open connections from one client address; 0: no limit."),
        QStringLiteral("N"), QString::number(defaults.maxPerAddress));
    const QCommandLineOption busyIdleOption(
        QStringLiteral("busy-idle-timeout"),
        QStringLiteral("Seconds a kept-alive connection may wait while connections or descriptors run short."),
        QStringLiteral("SECONDS"), QString::number(defaults.busyIdleTimeout.count() / 1000));
    const QCommandLineOption maxConnectionsOption(
        QStringLiteral("max-connections"), QStringLiteral("Open connections; at most the descriptor limit less 128."),
        QStringLiteral("N"), QString::number(defaults.maxConnections));
    const QCommandLineOption cacheOption(QStringLiteral("cache-mb"),
                                         QStringLiteral("Memory for replies kept for reuse, all workers together."),
                                         QStringLiteral("MB"), QStringLiteral("16"));
    const PortalBounds bounds;
    const QCommandLineOption maxSitesOption(QStringLiteral("max-sites"),
                                            QStringLiteral("Private sites one installation may own."),
                                            QStringLiteral("N"), QString::number(bounds.sitesPerInstallation));
    const QCommandLineOption maxSuggestionsOption(QStringLiteral("max-suggestions"),
                                                  QStringLiteral("Suggestions kept from one installation."),
                                                  QStringLiteral("N"), QString::number(bounds.suggestionsPerInstallation));
    const QCommandLineOption writeRateOption(
        QStringLiteral("max-writes-per-minute"),
        QStringLiteral("Changes, visits and suggestions one client address may send per minute; 0: no limit."),
        QStringLiteral("N"), QString::number(bounds.writesPerAddressPerMinute));
    parser.addOptions({bindOption, portOption, dbOption, passwordFileOption, demoOption, catalogueOption,
                       noCatalogueOption, maintainerOption, threadsOption, quietOption, accessLogOption, radioOption,
                       headerTimeoutOption, idleTimeoutOption, perAddressOption, busyIdleOption, maxConnectionsOption,
                       cacheOption, maxSitesOption, maxSuggestionsOption, writeRateOption, versionOption});
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText() + QStringLiteral(" tadpole-portal --help lists the options."));
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::puts("tadpole-portal " TADPOLE_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return fail(QStringLiteral("--port must be 0 to 65535"));
    const int threads = parser.value(threadsOption).toInt(&ok);
    if (!ok || threads < 1 || threads > 256)
        return fail(QStringLiteral("--threads must be 1 to 256"));
    const int cacheMb = parser.value(cacheOption).toInt(&ok);
    if (!ok || cacheMb < 0 || cacheMb > 65536)
        return fail(QStringLiteral("--cache-mb must be 0 to 65536"));
    HttpLimits limits;
    const int headerTimeout = parser.value(headerTimeoutOption).toInt(&ok);
    if (!ok || headerTimeout < 1 || headerTimeout > 3600)
        return fail(QStringLiteral("--header-timeout must be 1 to 3600 seconds"));
    limits.headerTimeout = std::chrono::seconds(headerTimeout);
    const int idleTimeout = parser.value(idleTimeoutOption).toInt(&ok);
    if (!ok || idleTimeout < 1 || idleTimeout > 3600)
        return fail(QStringLiteral("--idle-timeout must be 1 to 3600 seconds"));
    limits.idleTimeout = std::chrono::seconds(idleTimeout);
    const int busyIdleTimeout = parser.value(busyIdleOption).toInt(&ok);
    if (!ok || busyIdleTimeout < 1 || busyIdleTimeout > 3600)
        return fail(QStringLiteral("--busy-idle-timeout must be 1 to 3600 seconds"));
    limits.busyIdleTimeout = std::chrono::seconds(busyIdleTimeout);
    limits.maxConnections = parser.value(maxConnectionsOption).toInt(&ok);
    if (!ok || limits.maxConnections < 1)
        return fail(QStringLiteral("--max-connections must be 1 or more"));
    limits.maxPerAddress = parser.value(perAddressOption).toInt(&ok);
    if (!ok || limits.maxPerAddress < 0)
        return fail(QStringLiteral("--max-per-address must be 0 or more"));
    QString error;
    std::optional<DbConfig> db = DbConfig::fromUrl(parser.value(dbOption), &error);
    if (!db)
        return fail(error);
    if (parser.isSet(passwordFileOption)) {
        if (db->kind != DbConfig::Kind::Postgres)
            return fail(QStringLiteral("--db-password-file is for a postgresql:// database"));
        if (!db->password.isEmpty())
            return fail(QStringLiteral("--db carries a password and --db-password-file names another: give one"));
        const std::optional<QString> password = DbConfig::passwordFromFile(parser.value(passwordFileOption), &error);
        if (!password)
            return fail(error);
        db->password = *password;
    } else if (!db->password.isEmpty()) {
        std::fputs("tadpole-portal: warning: the password in --db is shown by ps to every user of this machine; "
                   "give it in a file (--db-password-file FILE) or in the variable PGPASSWORD instead\n",
                   stderr);
    }
    if (parser.isSet(noCatalogueOption) && parser.isSet(catalogueOption))
        return fail(QStringLiteral("--catalogue and --no-catalogue do not go together"));

    PortalConfig config;
    config.demo = parser.isSet(demoOption);
    config.radioStream = parser.value(radioOption);
    for (const QString &id : parser.values(maintainerOption)) {
        // Any other would name a maintainer who never writes.
        if (!pagequery::isInstallationId(id))
            return fail(QStringLiteral("--maintainer must be an installation's id, 1 to 40 digits (the first line of its userid.id)"));
        config.maintainers.insert(id);
    }
    for (const auto &[option, bound] : {std::pair{&maxSitesOption, &config.bounds.sitesPerInstallation},
                                        std::pair{&maxSuggestionsOption, &config.bounds.suggestionsPerInstallation},
                                        std::pair{&writeRateOption, &config.bounds.writesPerAddressPerMinute}}) {
        *bound = parser.value(*option).toInt(&ok);
        if (!ok || *bound < 0)
            return fail(QStringLiteral("--%1 must be 0 or more").arg(option->names().first()));
    }
    config.writeRate = std::make_shared<WriteRate>(config.bounds.writesPerAddressPerMinute);

    int accessLog = -1;
    if (parser.isSet(accessLogOption)) {
        accessLog = ::open(QFile::encodeName(parser.value(accessLogOption)).constData(),
                           O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (accessLog < 0)
            return fail(QStringLiteral("cannot open the access log %1").arg(parser.value(accessLogOption)));
    }

    std::atomic<int> connectionNumber{0};
    HttpService server(
        [&]() -> std::unique_ptr<RequestHandler> {
            const DbConfig dbConfig = *db;
            return std::make_unique<PortalPages>(config, [dbConfig, &connectionNumber]() {
                auto store = std::make_unique<PortalStore>(
                    dbConfig, QStringLiteral("portal-%1").arg(connectionNumber.fetch_add(1)));
                QString openError;
                if (!store->open(&openError)) {
                    reportDatabaseError(openError);
                    return std::unique_ptr<PortalStore>();
                }
                return store;
            });
        },
        threads, limits);
    server.setAccessLog(accessLog);

    const QByteArray bindAddress = parser.value(bindOption).toUtf8();
    const int boundPort = server.bind(bindAddress, port, &error);
    if (boundPort < 0)
        return fail(error);
    config.port = quint16(boundPort);
    // The demo sites answer on their own loopback addresses, same port. A wildcard bind
    // already receives them.
    const bool wildcard = bindAddress == "0.0.0.0" || bindAddress == "::";
    if (config.demo && !wildcard) {
        for (int host = FirstDemoHost; host <= LastDemoHost; ++host) {
            if (server.bind("127.0.0." + QByteArray::number(host), boundPort, &error) < 0)
                return fail(QStringLiteral("demo site: %1").arg(error));
        }
    }
    // The database is made once the addresses are ours, so a start that cannot have them leaves no database
    // behind with a choice of sites in it (the catalogue, the demo family or none) that a later start would keep.
    // Clients are refused while it is made, not kept waiting: the portal listens from start() on.
    // The demo family comes instead of the catalogue.
    const QString cataloguePath =
        config.demo || parser.isSet(noCatalogueOption) ? QString() : parser.value(catalogueOption);
    if (!preparePortal(*db, qsizetype(cacheMb) * 1024 * 1024, cataloguePath, &config, &error) || !server.start(&error))
        return fail(error);

    if (!parser.isSet(quietOption)) {
        const QByteArray shown = bindAddress.contains(':') ? '[' + bindAddress + ']' : bindAddress;
        std::printf("listening on http://%s:%d/tad/\n", shown.constData(), boundPort);
        std::fflush(stdout);
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    if (accessLog >= 0)
        ::close(accessLog);
    return 0;
}
