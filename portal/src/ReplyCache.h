#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <list>
#include <memory>
#include <mutex>

// A reply built from the database, kept for reuse.
struct CachedReply {
    QByteArray body;
    // A menu's tiles link to tad_go.asp with the reader's own id and a signature, so the
    // body is kept without those links: each is put in at `at` when the reply is sent.
    struct Link {
        qsizetype at = 0;
        qint64 site = 0;
        QString storedUrl;
    };
    QList<Link> links;
};

// Replies shared by every worker, bounded in bytes (keys, bodies and bookkeeping counted),
// the least recently used dropped first. A table per worker bounded by its number of
// entries let a few hundred readers with made-up ids grow the portal by hundreds of MB.
//
// A reply dropped from the table (or too big for it) while a connection still sends it is
// found again for as long as one does, not built anew: each reply is held once however
// many clients ask for it, and clients that never read hold no copies of their own.
//
// Every entry belongs to one change generation. A call with a newer generation drops every
// entry at once; an insert with an older one is ignored, since its reply may have been read
// before the change that ended that generation.
class ReplyCache {
public:
    explicit ReplyCache(qsizetype maxBytes);
    ReplyCache(const ReplyCache &) = delete;
    ReplyCache &operator=(const ReplyCache &) = delete;

    std::shared_ptr<const CachedReply> find(const QString &key, quint64 generation);
    // A reply bigger than the whole budget is not kept.
    void insert(const QString &key, quint64 generation, std::shared_ptr<const CachedReply> reply);

    qsizetype bytes() const;
    qsizetype count() const;
    // What one entry is counted as.
    static qsizetype cost(const QString &key, const CachedReply &reply);

private:
    struct Entry {
        QString key;
        std::shared_ptr<const CachedReply> reply;
        qsizetype cost = 0;
    };
    using Lru = std::list<Entry>;  // front: most recently used
    void advanceLocked(quint64 generation);
    void eraseLocked(Lru::iterator it);
    // Drops the replies out of the table that no connection sends any more.
    void sweepSentLocked();
    void keepWhileSentLocked(const QString &key, const std::shared_ptr<const CachedReply> &reply, bool sentSoon);

    mutable std::mutex m_mutex;
    const qsizetype m_maxBytes;
    qsizetype m_bytes = 0;
    quint64 m_generation = 0;
    Lru m_lru;
    QHash<QString, Lru::iterator> m_index;
    QHash<QString, std::shared_ptr<const CachedReply>> m_sent; // out of the table, still sent, of this generation
    int m_findsSinceSweep = 0;
};
