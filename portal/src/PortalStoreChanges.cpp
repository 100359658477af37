// PortalStore's changes: each is one transaction, and each that changes what a reply shows
// announces itself (announceChange).
#include "PortalStore.h"

#include <QDateTime>

namespace {
// A null QString binds as SQL NULL; the text columns are NOT NULL and '' means "public".
QString notNull(const QString &s)
{
    return s.isNull() ? QString(QLatin1String("")) : s;
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}
} // namespace

bool PortalStore::insertFamily(const QString &userid)
{
    QSqlQuery &q = prepared("insertFamily", QStringLiteral(
        "INSERT INTO families (userid, created_at) VALUES (?, ?) ON CONFLICT (userid) DO NOTHING"));
    q.bindValue(0, userid);
    q.bindValue(1, now());
    return exec(q);
}

bool PortalStore::copyDefaultsTo(const QString &userid)
{
    QSqlQuery &faces = prepared("copyFaces", QStringLiteral(
        "INSERT INTO faces (userid, child, name) SELECT ?, child, name FROM faces WHERE userid = ''"));
    faces.bindValue(0, userid);
    QSqlQuery &ticks = prepared("copyTicks", QStringLiteral(
        "INSERT INTO ticks (userid, child, site_id) SELECT ?, child, site_id FROM ticks WHERE userid = ''"));
    ticks.bindValue(0, userid);
    return exec(faces) && exec(ticks);
}

bool PortalStore::ensureFamily(const QString &userid)
{
    if (!insertFamily(userid))
        return false;
    if (prepared("insertFamily", QString()).numRowsAffected() != 1)
        return true;  // the installation already has rows of its own
    return copyDefaultsTo(userid);
}

bool PortalStore::insertSite(const QString &owner, const SiteFields &f, const QString &changedBy, qint64 *id)
{
    QSqlQuery &q = prepared("addSite", QStringLiteral(
        "INSERT INTO sites (owner, url, shortname, comments, age_from, age_to, logo, changed_by, changed_at) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    const QVariantList values = {notNull(owner), notNull(f.url), f.shortname, f.comments, f.ageFrom, f.ageTo, f.logo, changedBy, now()};
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i].typeId() == QMetaType::QString ? QVariant(notNull(values[i].toString())) : values[i]);
    if (!exec(q) || !q.next()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("no id returned for a new site");
        return false;
    }
    *id = q.value(0).toLongLong();
    q.finish();
    return true;
}

Outcome PortalStore::finishChange(bool ok)
{
    if (ok && commit())
        return Outcome::Ok;
    rollback();
    return Outcome::Failed;
}

std::optional<qint64> PortalStore::countForBound(const char *key, const QString &sql, const QString &userid)
{
    // PostgreSQL lets two transactions count before either adds, and both would add past the
    // bound: a lock of the installation's, held to the transaction's end, makes them take
    // turns, and the count after it sees what the other added. SQLite's writers take turns.
    if (m_config.kind == DbConfig::Kind::Postgres) {
        QSqlQuery &lock = prepared("lockInstallation", QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"));
        lock.bindValue(0, userid);
        if (!exec(lock))
            return std::nullopt;
        lock.finish();
    }
    QSqlQuery &q = prepared(key, sql);
    q.bindValue(0, userid);
    if (!exec(q) || !q.next())
        return std::nullopt;
    const qint64 count = q.value(0).toLongLong();
    q.finish();
    return count;
}

Outcome PortalStore::recordVisit(const QString &userid, const QString &version)
{
    if (!begin())
        return Outcome::Failed;
    QSqlQuery &q = prepared("recordVisit", QStringLiteral(
        "INSERT INTO visit_days (userid, day, version, visits) VALUES (?, ?, ?, 1) ON CONFLICT (userid, day) "
        "DO UPDATE SET visits = visit_days.visits + 1, version = excluded.version"));
    q.bindValue(0, userid);
    q.bindValue(1, now().left(10));
    q.bindValue(2, version);
    return finishChange(exec(q));
}

bool PortalStore::insertTick(const QString &userid, int child, qint64 siteId)
{
    QSqlQuery &q = prepared("insertTick", QStringLiteral(
        "INSERT INTO ticks (userid, child, site_id) VALUES (?, ?, ?) ON CONFLICT DO NOTHING"));
    q.bindValue(0, userid);
    q.bindValue(1, child);
    q.bindValue(2, siteId);
    return exec(q);
}

Outcome PortalStore::setTick(const QString &userid, int child, qint64 siteId, bool ticked)
{
    if (!begin())
        return Outcome::Failed;
    const std::optional<SiteRow> row = site(userid, siteId);
    if (!row)
        return finishChange(false);
    if (row->id == 0) {
        rollback();
        return Outcome::NotFound;
    }
    bool ok = ensureFamily(userid);
    if (ok && ticked) {
        ok = insertTick(userid, child, siteId);
    } else if (ok) {
        QSqlQuery &q = prepared("deleteTick", QStringLiteral(
            "DELETE FROM ticks WHERE userid = ? AND child = ? AND site_id = ?"));
        q.bindValue(0, userid);
        q.bindValue(1, child);
        q.bindValue(2, siteId);
        ok = exec(q);
    }
    return finishChange(ok && announceChange());
}

bool PortalStore::writeFace(const QString &userid, int child, const QString &name)
{
    QSqlQuery &q = prepared("upsertFace", QStringLiteral(
        "INSERT INTO faces (userid, child, name) VALUES (?, ?, ?) "
        "ON CONFLICT (userid, child) DO UPDATE SET name = excluded.name"));
    q.bindValue(0, userid);
    q.bindValue(1, child);
    q.bindValue(2, name);
    return exec(q);
}

bool PortalStore::insertDefaultFace(int child, const QString &name)
{
    return writeFace(QString(""), child, name);
}

Outcome PortalStore::setFaceName(const QString &userid, int child, const QString &name)
{
    if (!begin())
        return Outcome::Failed;
    return finishChange(ensureFamily(userid) && writeFace(userid, child, name) && announceChange());
}

Outcome PortalStore::addSite(const QString &userid, const QString &owner, const SiteFields &f, qint64 *id, int maxOwn)
{
    if (!begin())
        return Outcome::Failed;
    if (!owner.isEmpty()) {
        const std::optional<qint64> own =
            countForBound("ownSites", QStringLiteral("SELECT COUNT(*) FROM sites WHERE owner = ?"), owner);
        if (!own || *own >= maxOwn) {
            rollback();
            return own ? Outcome::Full : Outcome::Failed;
        }
    }
    return finishChange(insertSite(owner, f, userid, id) && announceChange());
}

bool PortalStore::canChange(const SiteRow &row, const QString &userid, bool maintainer) const
{
    if (row.owner.isEmpty())
        return maintainer;
    return row.owner == userid;
}

std::optional<SiteRow> PortalStore::siteForChange(const QString &userid, bool maintainer, qint64 id, Outcome *denied)
{
    const std::optional<SiteRow> row = site(userid, id);
    if (!row) {
        *denied = Outcome::Failed;
        return std::nullopt;
    }
    if (row->id == 0) {
        // Missing, or another installation's private site: the same answer, so that no one
        // can tell which ids others hold.
        *denied = Outcome::NotFound;
        return std::nullopt;
    }
    if (!canChange(*row, userid, maintainer)) {
        *denied = Outcome::Forbidden;
        return std::nullopt;
    }
    return row;
}

Outcome PortalStore::updateSite(const QString &userid, bool maintainer, qint64 id, const SiteFields &f)
{
    if (!begin())
        return Outcome::Failed;
    Outcome denied = Outcome::Failed;
    const std::optional<SiteRow> row = siteForChange(userid, maintainer, id, &denied);
    if (!row) {
        rollback();
        return denied;
    }
    QSqlQuery &q = prepared("updateSite", QStringLiteral(
        "UPDATE sites SET url = ?, shortname = ?, comments = ?, age_from = ?, age_to = ?, "
        "logo = ?, changed_by = ?, changed_at = ? WHERE id = ?"));
    const QVariantList values = {notNull(f.url), f.shortname, f.comments, f.ageFrom, f.ageTo, f.logo, userid, now(), id};
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i].typeId() == QMetaType::QString ? QVariant(notNull(values[i].toString())) : values[i]);
    return finishChange(exec(q) && announceChange());
}

Outcome PortalStore::deleteSite(const QString &userid, bool maintainer, qint64 id)
{
    if (!begin())
        return Outcome::Failed;
    Outcome denied = Outcome::Failed;
    if (!siteForChange(userid, maintainer, id, &denied)) {
        rollback();
        return denied;
    }
    QSqlQuery &ticks = prepared("deleteSiteTicks", QStringLiteral("DELETE FROM ticks WHERE site_id = ?"));
    ticks.bindValue(0, id);
    QSqlQuery &q = prepared("deleteSite", QStringLiteral("DELETE FROM sites WHERE id = ?"));
    q.bindValue(0, id);
    return finishChange(exec(ticks) && exec(q) && announceChange());
}

Outcome PortalStore::addSuggestion(const QString &userid, const QString &url, const QString &email, int maxKept)
{
    if (!begin())
        return Outcome::Failed;
    QSqlQuery &q = prepared("addSuggestion", QStringLiteral(
        "INSERT INTO suggestions (userid, url, email, at) VALUES (?, ?, ?, ?)"));
    q.bindValue(0, userid);
    q.bindValue(1, url);
    q.bindValue(2, email);
    q.bindValue(3, now());
    const std::optional<qint64> kept =
        countForBound("suggestionCount", QStringLiteral("SELECT COUNT(*) FROM suggestions WHERE userid = ?"), userid);
    if (!kept || *kept >= maxKept) {
        rollback();
        return kept ? Outcome::Full : Outcome::Failed;
    }
    return finishChange(exec(q));
}
