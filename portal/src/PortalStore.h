#pragma once

#include "DbConfig.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <array>
#include <memory>
#include <optional>

// What the parent typed about a site, as stored.
struct SiteFields {
    QString url, shortname, comments, ageFrom, ageTo, logo;
};

struct SiteRow {
    qint64 id = 0;
    QString owner;  // empty for a public site, else the owning installation's user id
    SiteFields fields;
    bool ticked = false;
};

// Full: refused, the installation already has as many as it may keep.
enum class Outcome { Ok, NotFound, Forbidden, Full, Failed };

// The PostgreSQL notification channel every change transaction notifies (ChangeFeed).
inline constexpr char ChangeChannel[] = "tadpole_changes";
inline constexpr int PostgresConnectSeconds = 10; // to connect and log in, or the server counts as unreachable

// One database connection, used by one thread only. Every change is one transaction;
// every statement is prepared once and reused.
//
// The defaults an installation starts from (the children's names and ticks) are the
// rows of the empty user id. An installation reads them until its first change, which
// copies them to its own rows in the same transaction (a row in "families" marks that).
// The tables are made and migrated by PortalSchema; the changes are in PortalStoreChanges.cpp.
class PortalStore {
public:
    PortalStore(const DbConfig &config, const QString &connectionName);
    ~PortalStore();
    PortalStore(const PortalStore &) = delete;
    PortalStore &operator=(const PortalStore &) = delete;

    // A SQLite database that cannot be opened for writing is opened read-only: reads go on.
    bool open(QString *error);
    // Opened read-only (asked for, or SQLite could not open the file for writing), or a
    // write was refused as read-only.
    bool readOnly() const { return m_readOnly; }
    QString lastError() const { return m_error; }
    DbConfig::Kind kind() const { return m_config.kind; }
    QSqlDatabase database() const;

    // The key that signs go links, made when the schema was; the same for every instance.
    std::optional<QByteArray> goLinkKey();
    std::optional<bool> isEmpty();
    // In every transaction that changes sites, ticks or names: on PostgreSQL a notification
    // the other instances hear when it commits (ChangeFeed); on SQLite nothing.
    bool announceChange();

    // Reads. `userid` is a valid installation id or empty for the public defaults.
    // True when the installation has rows of its own: it has made a change, or owns a site.
    std::optional<bool> hasOwnRows(const QString &userid);
    std::optional<std::array<QString, 4>> faceNames(const QString &userid);
    std::optional<QList<SiteRow>> sites(const QString &userid, int child);
    std::optional<SiteRow> site(const QString &userid, qint64 id);
    // The site's address when it is visible to and ticked for that child; empty when not.
    // `*ownSite`: it is the installation's own, not a public one.
    std::optional<QString> tickedSiteUrl(const QString &userid, int child, qint64 id, bool *ownSite = nullptr);

    // Changes.
    // Visits are counted per installation and day.
    Outcome recordVisit(const QString &userid, const QString &version);
    Outcome setTick(const QString &userid, int child, qint64 siteId, bool ticked);
    Outcome setFaceName(const QString &userid, int child, const QString &name);
    // A private site (owner not empty) is refused when its owner has `maxOwn` already.
    Outcome addSite(const QString &userid, const QString &owner, const SiteFields &fields, qint64 *id, int maxOwn);
    // Keeps the site's owner: an edit never makes a site public or private.
    Outcome updateSite(const QString &userid, bool maintainer, qint64 id, const SiteFields &fields);
    Outcome deleteSite(const QString &userid, bool maintainer, qint64 id);
    Outcome addSuggestion(const QString &userid, const QString &url, const QString &email, int maxKept);

    // One transaction; on SQLite it holds the write lock from its start.
    bool begin();
    bool commit();
    void rollback();

    // Writes without a transaction of their own, for the demo family (the defaults, written
    // directly) and for the changes above.
    bool insertDefaultFace(int child, const QString &name);
    bool insertTick(const QString &userid, int child, qint64 siteId);
    bool insertFamily(const QString &userid);
    bool insertSite(const QString &owner, const SiteFields &fields, const QString &changedBy, qint64 *id);
    bool copyDefaultsTo(const QString &userid);

private:
    QSqlQuery &prepared(const char *key, const QString &sql);
    bool exec(QSqlQuery &q);
    void fail(const QSqlError &error);
    bool ensureFamily(const QString &userid);
    bool writeFace(const QString &userid, int child, const QString &name);
    std::optional<SiteRow> siteForChange(const QString &userid, bool maintainer, qint64 id, Outcome *denied);
    Outcome finishChange(bool ok);
    bool canChange(const SiteRow &row, const QString &userid, bool maintainer) const;
    // An installation's rows that a bound limits, counted once no other change of its can add more.
    std::optional<qint64> countForBound(const char *key, const QString &sql, const QString &userid);
    bool openConnection(bool readOnly);

    DbConfig m_config;
    QString m_connectionName;
    QString m_error;
    bool m_readOnly = false;
    struct Statements;
    std::unique_ptr<Statements> m_statements;
};
