#include "PreparePortal.h"

#include "DemoSite.h"
#include "PortalSchema.h"
#include "StarterCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

// Writes the demo family (DemoSite) into an empty database in one transaction: its names
// and ticks as the defaults, and the demo installation with its private site.
bool loadDemo(PortalStore &store, QString *error)
{
    const DemoFamily family = demoFamily();
    if (!store.begin()) {
        *error = store.lastError();
        return false;
    }
    bool ok = true;
    for (int i = 0; ok && i < 4; ++i)
        ok = store.insertDefaultFace(i + 1, family.names[i]);
    QList<QPair<qint64, int>> privateTicks;
    for (const DemoSiteEntry &s : family.sites) {
        qint64 id = 0;
        ok = ok && store.insertSite(s.owner, s.fields, QStringLiteral("demo"), &id);
        for (int child : s.tickedFor) {
            if (s.owner.isEmpty())
                ok = ok && store.insertTick(QString(""), child, id);
            else
                privateTicks.append({id, child});
        }
    }
    // The demo installation starts from the defaults, plus its own private site.
    ok = ok && store.insertFamily(family.privateOwner) && store.copyDefaultsTo(family.privateOwner)
         && store.announceChange();
    for (const auto &t : privateTicks)
        ok = ok && store.insertTick(family.privateOwner, t.second, t.first);
    if (!ok || !store.commit()) {
        *error = store.lastError();
        store.rollback();
        return false;
    }
    return true;
}

QString catalogueError(const QString &path, const QString &why)
{
    return QStringLiteral("the starter catalogue %1 cannot be used: %2. A new database is filled from it; "
                          "--catalogue FILE names another, --no-catalogue starts with no sites").arg(path, why);
}

// One process per SQLite file: each keeps a reply cache of its own, and a second process
// would go on serving menus that the other's changes had made old. The lock is held for
// the process's life, and ends with it however it ends.
bool holdSqliteFile(const DbConfig &db, QString *error)
{
    if (db.kind != DbConfig::Kind::Sqlite)
        return true;
    const int fd = ::open(QFile::encodeName(db.path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return true; // where the file cannot be locked, SQLite's own locks still keep it whole
    ::close(fd);
    *error = QStringLiteral("%1 is in use by another tadpole-portal: one portal process per SQLite file").arg(db.path);
    return false;
}

} // namespace

bool preparePortal(const DbConfig &db, qsizetype cacheBytes, const QString &cataloguePath, PortalConfig *config,
                   QString *error)
{
    // The catalogue is read only for a database that is new: an existing one starts without it.
    QString readError;
    std::optional<QList<SiteFields>> catalogue;
    bool catalogueRead = false;
    const auto readCatalogue = [&] {
        if (!std::exchange(catalogueRead, true))
            catalogue = readStarterCatalogue(cataloguePath, &readError);
        return catalogue.has_value();
    };
    // A SQLite file yet to be made is a new database for sure: refused before it is made.
    if (!cataloguePath.isEmpty() && db.kind == DbConfig::Kind::Sqlite && !QFileInfo::exists(db.path)
        && !readCatalogue()) {
        *error = catalogueError(cataloguePath, readError);
        return false;
    }
    if (db.kind == DbConfig::Kind::Sqlite)
        QDir().mkpath(QFileInfo(db.path).absolutePath());
    // Only a database whose schema is made now is filled, so two instances starting
    // together on one server fill it once, and a maintainer's later edits stay.
    bool catalogueFailed = false;
    const auto fill = [&](PortalStore &store, QString *fillError) {
        if (!readCatalogue()) {
            catalogueFailed = true;
            *fillError = catalogueError(cataloguePath, readError);
            return false;
        }
        for (const SiteFields &site : *catalogue) {
            qint64 id = 0;
            if (!store.insertSite(QString(""), site, QStringLiteral("catalogue"), &id)) {
                *fillError = store.lastError();
                return false;
            }
        }
        return true;
    };
    std::function<bool(PortalStore &, QString *)> fillNew;
    if (!cataloguePath.isEmpty())
        fillNew = fill;
    QString why;
    PortalStore setup(db, QStringLiteral("portal-setup"));
    if (!setup.open(&why) || !prepareSchema(setup, &why, fillNew) || !checkWritable(setup, &why)
        || !holdSqliteFile(db, &why)) {
        *error = catalogueFailed ? why : QStringLiteral("database: %1").arg(why);
        return false;
    }
    if (config->demo) {
        const std::optional<bool> empty = setup.isEmpty();
        if (!empty) {
            *error = QStringLiteral("database: %1").arg(setup.lastError());
            return false;
        }
        if (*empty && !loadDemo(setup, &why)) {
            *error = QStringLiteral("demo data: %1").arg(why);
            return false;
        }
    }
    const std::optional<QByteArray> key = setup.goLinkKey();
    if (!key) {
        *error = QStringLiteral("database: %1").arg(setup.lastError());
        return false;
    }
    config->goLinkKey = *key;
    // glibc raises its mmap threshold each time a large block is freed, after which large
    // reply buffers come from the heap, between kept replies, and freed ones are never
    // handed back: 1,000 installations reading 200 KB lists grew the portal by 46 MB with a
    // 16 MB cache. A fixed threshold maps every block over 128 KiB and unmaps it when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    config->cache = std::make_shared<ReplyCache>(cacheBytes);
    if (db.kind == DbConfig::Kind::Postgres) {
        config->changes = std::make_shared<ChangeFeed>(db);
        // Until it listens every reply is built afresh: correct, only slower. Its errors
        // are on standard error already.
        config->changes->waitUntilListening(5000);
    } else {
        config->changes = std::make_shared<ChangeFeed>();
    }
    return true;
}
