#include "PortalStore.h"

#include "DatabaseErrors.h"
#include "PortalSchema.h"

#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

#include <map>

namespace {
// SQLite opens a file it cannot write (an immutable file, a read-only mount) read-only
// without saying so; its first write then fails, even inside a transaction that began.
// Asked only where Qt's driver runs the very SQLite we link (Qt may bring a copy of its own).
bool opensReadOnly(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    QSqlQuery version(db);
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0 || !version.exec(QStringLiteral("SELECT sqlite_version()"))
        || !version.next() || version.value(0).toString() != QLatin1String(sqlite3_libversion()))
        return false;
    sqlite3 *const connection = *static_cast<sqlite3 *const *>(handle.constData());
    return connection && sqlite3_db_readonly(connection, "main") == 1;
}
} // namespace

struct PortalStore::Statements {
    std::map<const char *, QSqlQuery> queries;
    // Handed out when a statement could not be prepared (a table gone, say): executing it
    // fails and keeps the preparation's message. The next use prepares it afresh.
    QSqlQuery unprepared;
};

PortalStore::PortalStore(const DbConfig &config, const QString &connectionName)
    : m_config(config), m_connectionName(connectionName), m_statements(std::make_unique<Statements>())
{
}

PortalStore::~PortalStore()
{
    m_statements.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool PortalStore::open(QString *error)
{
    if (openConnection(false))
        return true;
    // A database file that cannot be written just now (a read-only mount, its permissions)
    // still serves reads; a later write tries read-write again (PortalPages).
    if (m_config.kind == DbConfig::Kind::Sqlite) {
        const QString readWriteError = m_error;
        const bool readable = openConnection(true);
        m_error = readWriteError; // why it serves reads only, or why it is not open
        if (readable)
            return true;
    }
    *error = m_error;
    return false;
}

bool PortalStore::openConnection(bool readOnly)
{
    m_statements->queries.clear();
    m_readOnly = readOnly;
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    const bool sqlite = m_config.kind == DbConfig::Kind::Sqlite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", m_connectionName);
    if (sqlite) {
        db.setDatabaseName(m_config.path);
        // Writers from other threads wait for the lock instead of failing at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000")
                             + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    } else {
        db.setHostName(m_config.host);
        if (m_config.port > 0)
            db.setPort(m_config.port);
        db.setUserName(m_config.user);
        db.setPassword(m_config.password);
        db.setDatabaseName(m_config.database);
        // A server that takes the connection and never answers would hold a start, or a worker
        // and its clients, for as long as the connection lasts.
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(PostgresConnectSeconds));
    }
    if (!db.open()) {
        fail(db.lastError());
        return false;
    }
    if (sqlite) {
        QSqlQuery q(db);
        // WAL lets readers go on while one writer commits; FULL makes each answered
        // commit durable before the reply leaves. Read-only, the file keeps its mode.
        const bool ready = readOnly ? q.exec(QStringLiteral("SELECT COUNT(*) FROM schema_version"))
                                    : q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))
                                          && q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        if (!ready) {
            fail(q.lastError());
            return false;
        }
        m_readOnly = readOnly || opensReadOnly(db);
    }
    return true;
}

QSqlDatabase PortalStore::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

QSqlQuery &PortalStore::prepared(const char *key, const QString &sql)
{
    auto it = m_statements->queries.find(key);
    if (it == m_statements->queries.end()) {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            fail(q.lastError());
            return m_statements->unprepared;
        }
        it = m_statements->queries.emplace(key, std::move(q)).first;
    }
    return it->second;
}

bool PortalStore::exec(QSqlQuery &q)
{
    if (&q == &m_statements->unprepared)
        return false;
    if (!q.exec()) {
        fail(q.lastError());
        return false;
    }
    return true;
}

void PortalStore::fail(const QSqlError &error)
{
    // A connection refused a write as read-only (SQLite may open a file it cannot write
    // read-only without saying so) serves reads on until a write tries to reopen it.
    m_readOnly = m_readOnly || isReadOnlyError(error, m_config.kind);
    m_error = databaseErrorMessage(error, m_config.kind);
}

bool PortalStore::begin()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_config.kind == DbConfig::Kind::Postgres) {
        if (!db.transaction()) {
            fail(db.lastError());
            return false;
        }
        return true;
    }
    // IMMEDIATE takes the write lock up front: a deferred transaction that reads first
    // and writes later could fail with "busy" when another writer came in between.
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    fail(q.lastError());
    // SQLite opens a file it cannot write read-only without saying so; opened again,
    // it may write once more. Statements prepared so far are gone with the connection.
    if (!isReadOnlyError(q.lastError(), m_config.kind) || !openConnection(false) || m_readOnly)
        return false;
    QSqlQuery again(QSqlDatabase::database(m_connectionName, false));
    if (again.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    fail(again.lastError());
    return false;
}

bool PortalStore::commit()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_config.kind == DbConfig::Kind::Postgres) {
        if (!db.commit()) {
            fail(db.lastError());
            return false;
        }
        return true;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("COMMIT"))) {
        fail(q.lastError());
        return false;
    }
    return true;
}

void PortalStore::rollback()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_config.kind == DbConfig::Kind::Postgres) {
        db.rollback();
        return;
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("ROLLBACK"));
}

std::optional<QByteArray> PortalStore::goLinkKey()
{
    QSqlQuery &q = prepared("goLinkKey", QStringLiteral("SELECT value FROM secrets WHERE name = ?"));
    q.bindValue(0, QString::fromLatin1(GoLinkKeyName));
    if (!exec(q))
        return std::nullopt;
    const QByteArray key = q.next() ? QByteArray::fromHex(q.value(0).toString().toLatin1()) : QByteArray();
    q.finish();
    if (key.size() != 32) {
        m_error = QStringLiteral("the go-link key in table secrets is missing or not 32 bytes in hex");
        return std::nullopt;
    }
    return key;
}

bool PortalStore::announceChange()
{
    if (m_config.kind != DbConfig::Kind::Postgres)
        return true;
    // NOTIFY itself cannot be prepared; the function can, and is delivered alike.
    QSqlQuery &q = prepared("announceChange", QStringLiteral("SELECT pg_notify('%1', '')")
                                                  .arg(QLatin1String(ChangeChannel)));
    if (!exec(q))
        return false;
    q.finish();
    return true;
}

std::optional<bool> PortalStore::isEmpty()
{
    QSqlQuery &q = prepared("isEmpty", QStringLiteral(
        "SELECT (SELECT COUNT(*) FROM sites) + (SELECT COUNT(*) FROM faces) + (SELECT COUNT(*) FROM ticks)"));
    if (!exec(q) || !q.next())
        return std::nullopt;
    const bool empty = q.value(0).toLongLong() == 0;
    q.finish();
    return empty;
}

// The rows of an installation that has made no change yet are the defaults' (user id "").
static const char effectiveUser[] =
    "(CASE WHEN EXISTS (SELECT 1 FROM families f WHERE f.userid = ?) THEN ? ELSE '' END)";

std::optional<bool> PortalStore::hasOwnRows(const QString &userid)
{
    QSqlQuery &q = prepared("hasOwnRows", QStringLiteral(
        "SELECT CASE WHEN EXISTS (SELECT 1 FROM families WHERE userid = ?) "
        "OR EXISTS (SELECT 1 FROM sites WHERE owner = ?) THEN 1 ELSE 0 END"));
    q.bindValue(0, userid);
    q.bindValue(1, userid);
    if (!exec(q) || !q.next())
        return std::nullopt;
    const bool own = q.value(0).toInt() != 0;
    q.finish();
    return own;
}

std::optional<std::array<QString, 4>> PortalStore::faceNames(const QString &userid)
{
    QSqlQuery &q = prepared("faceNames", QStringLiteral("SELECT child, name FROM faces WHERE userid = %1")
                                             .arg(QLatin1String(effectiveUser)));
    q.bindValue(0, userid);
    q.bindValue(1, userid);
    if (!exec(q))
        return std::nullopt;
    std::array<QString, 4> names;
    for (int i = 0; i < 4; ++i)
        names[i] = QStringLiteral("Child %1").arg(i + 1);
    while (q.next()) {
        const int child = q.value(0).toInt();
        if (child >= 1 && child <= 4)
            names[child - 1] = q.value(1).toString();
    }
    q.finish();
    return names;
}

static SiteRow readSite(const QSqlQuery &q)
{
    SiteRow row;
    row.id = q.value(0).toLongLong();
    row.owner = q.value(1).toString();
    row.fields.url = q.value(2).toString();
    row.fields.shortname = q.value(3).toString();
    row.fields.comments = q.value(4).toString();
    row.fields.ageFrom = q.value(5).toString();
    row.fields.ageTo = q.value(6).toString();
    row.fields.logo = q.value(7).toString();
    return row;
}

std::optional<QList<SiteRow>> PortalStore::sites(const QString &userid, int child)
{
    QSqlQuery &q = prepared("sites", QStringLiteral(
        "SELECT s.id, s.owner, s.url, s.shortname, s.comments, s.age_from, s.age_to, s.logo, "
        "CASE WHEN k.site_id IS NULL THEN 0 ELSE 1 END "
        "FROM sites s LEFT JOIN ticks k ON k.site_id = s.id AND k.child = ? AND k.userid = %1 "
        "WHERE s.owner = '' OR s.owner = ? ORDER BY s.id").arg(QLatin1String(effectiveUser)));
    q.bindValue(0, child);
    q.bindValue(1, userid);
    q.bindValue(2, userid);
    q.bindValue(3, userid);
    if (!exec(q))
        return std::nullopt;
    QList<SiteRow> rows;
    while (q.next()) {
        SiteRow row = readSite(q);
        row.ticked = q.value(8).toInt() != 0;
        rows.append(row);
    }
    q.finish();
    return rows;
}

std::optional<SiteRow> PortalStore::site(const QString &userid, qint64 id)
{
    QSqlQuery &q = prepared("site", QStringLiteral(
        "SELECT id, owner, url, shortname, comments, age_from, age_to, logo FROM sites "
        "WHERE id = ? AND (owner = '' OR owner = ?)"));
    q.bindValue(0, id);
    q.bindValue(1, userid);
    if (!exec(q))
        return std::nullopt;
    SiteRow row;  // id 0: not found
    if (q.next())
        row = readSite(q);
    q.finish();
    return row;
}

std::optional<QString> PortalStore::tickedSiteUrl(const QString &userid, int child, qint64 id, bool *ownSite)
{
    QSqlQuery &q = prepared("tickedSiteUrl", QStringLiteral(
        "SELECT s.url, s.owner <> '' FROM sites s JOIN ticks k ON k.site_id = s.id "
        "WHERE s.id = ? AND (s.owner = '' OR s.owner = ?) AND k.child = ? AND k.userid = %1")
                                                  .arg(QLatin1String(effectiveUser)));
    q.bindValue(0, id);
    q.bindValue(1, userid);
    q.bindValue(2, child);
    q.bindValue(3, userid);
    q.bindValue(4, userid);
    if (!exec(q))
        return std::nullopt;
    QString url;
    if (q.next()) {
        url = q.value(0).toString();
        if (ownSite)
            *ownSite = q.value(1).toBool();
    }
    q.finish();
    return url;
}
