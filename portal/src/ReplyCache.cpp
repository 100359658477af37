#include "ReplyCache.h"

ReplyCache::ReplyCache(qsizetype maxBytes) : m_maxBytes(maxBytes) {}

qsizetype ReplyCache::cost(const QString &key, const CachedReply &reply)
{
    // The texts as the room they hold (bytes made from text hold three a character), and
    // roughly what the list node, the hash node and the shared reply's own allocations take
    // beside them.
    qsizetype bytes = 256 + key.capacity() * qsizetype(sizeof(QChar)) + reply.body.capacity()
                      + reply.links.capacity() * qsizetype(sizeof(CachedReply::Link));
    for (const CachedReply::Link &link : reply.links)
        bytes += link.storedUrl.capacity() * qsizetype(sizeof(QChar));
    return bytes;
}

void ReplyCache::advanceLocked(quint64 generation)
{
    if (generation <= m_generation)
        return;
    m_generation = generation;
    m_index.clear();
    m_lru.clear();
    m_sent.clear();
    m_bytes = 0;
}

void ReplyCache::eraseLocked(Lru::iterator it)
{
    keepWhileSentLocked(it->key, it->reply, false);
    m_bytes -= it->cost;
    m_index.remove(it->key);
    m_lru.erase(it);
}

namespace {

// A connection that sends a reply holds its text: shared beyond the cache, it is still sent.
bool beingSent(const CachedReply &reply)
{
    return !reply.body.isEmpty() && !reply.body.isDetached();
}

} // namespace

void ReplyCache::sweepSentLocked()
{
    m_sent.removeIf([](const auto &sent) { return !beingSent(*sent.value()); });
}

void ReplyCache::keepWhileSentLocked(const QString &key, const std::shared_ptr<const CachedReply> &reply, bool sentSoon)
{
    sweepSentLocked();
    if (sentSoon || beingSent(*reply))
        m_sent.insert(key, reply);
}

std::shared_ptr<const CachedReply> ReplyCache::find(const QString &key, quint64 generation)
{
    std::lock_guard lock(m_mutex);
    advanceLocked(generation);
    if (generation != m_generation)
        return nullptr;
    // Now and then the replies out of the table that no connection sends any more go, so
    // none is held long after its sending.
    if (!m_sent.isEmpty() && ++m_findsSinceSweep >= 64) {
        m_findsSinceSweep = 0;
        sweepSentLocked();
    }
    const auto found = m_index.constFind(key);
    if (found == m_index.cend()) {
        const auto sent = m_sent.constFind(key);
        return sent != m_sent.cend() && beingSent(**sent) ? *sent : nullptr;
    }
    const Lru::iterator it = *found;
    m_lru.splice(m_lru.begin(), m_lru, it);
    return it->reply;
}

void ReplyCache::insert(const QString &key, quint64 generation, std::shared_ptr<const CachedReply> reply)
{
    if (!reply)
        return;
    const qsizetype bytes = cost(key, *reply);
    std::lock_guard lock(m_mutex);
    advanceLocked(generation);
    if (generation != m_generation)
        return;
    if (bytes > m_maxBytes) { // its caller is about to send it
        keepWhileSentLocked(key, reply, true);
        return;
    }
    if (const auto found = m_index.constFind(key); found != m_index.cend())
        eraseLocked(*found);
    m_lru.push_front(Entry{key, std::move(reply), bytes});
    m_index.insert(key, m_lru.begin());
    m_bytes += bytes;
    while (m_bytes > m_maxBytes && !m_lru.empty())
        eraseLocked(std::prev(m_lru.end()));
}

qsizetype ReplyCache::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

qsizetype ReplyCache::count() const
{
    std::lock_guard lock(m_mutex);
    return qsizetype(m_lru.size());
}
