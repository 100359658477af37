#include "browsing/AllowMatcher.h"

#include <algorithm>
#include <deque>

namespace {

constexpr quint32 AcceptBit = 0x80000000u;

// Real entries are host names and short paths. Longer ones, and whatever would
// push the table past this many cells (64 MB), are searched one by one instead:
// a garbage list then makes the test slower, never the program run out of memory.
constexpr qsizetype LongEntry = 512;
constexpr quint64 CellBudget = 16u * 1024u * 1024u;

} // namespace

QString filterUpper(QStringView text)
{
    QString upper(text.size(), Qt::Uninitialized);
    QChar *out = upper.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *out++ = QChar((u >= u'a' && u <= u'z') ? char16_t(u - 32) : u);
    }
    return upper;
}

AllowMatcher::AllowMatcher(const QStringList &entries)
{
    QStringList patterns;
    patterns.reserve(entries.size());
    for (const QString &entry : entries) {
        if (entry.isEmpty())
            continue; // an empty entry would allow every address
        if (entry.size() > LongEntry)
            m_leftovers.append(filterUpper(entry));
        else
            patterns.append(filterUpper(entry));
    }
    // Shorter entries first: a longer entry that starts with a shorter one can
    // then be dropped, since any address containing it contains the shorter one.
    std::stable_sort(patterns.begin(), patterns.end(),
                     [](const QString &a, const QString &b) { return a.size() < b.size(); });

    std::vector<char16_t> wide;
    quint32 columns = 1;
    for (const QString &p : std::as_const(patterns)) {
        for (const QChar c : p) {
            const char16_t u = c.unicode();
            if (u < 128) {
                if (m_asciiClass[u] == 0)
                    m_asciiClass[u] = columns++;
            } else {
                wide.push_back(u);
            }
        }
    }
    std::sort(wide.begin(), wide.end());
    wide.erase(std::unique(wide.begin(), wide.end()), wide.end());
    for (const char16_t u : wide)
        m_wideClass.emplace_back(u, columns++);
    for (char16_t u = u'a'; u <= u'z'; ++u)
        m_asciiClass[u] = m_asciiClass[u - 32];
    if (patterns.isEmpty())
        return;
    m_columns = columns;

    const quint64 maxStates = std::max<quint64>(1, CellBudget / columns);
    std::vector<quint32> next(columns, 0); // trie edges while building; 0 = none
    std::vector<bool> accepting(1, false);
    for (const QString &p : std::as_const(patterns)) {
        if (accepting.size() + quint64(p.size()) > maxStates) {
            m_leftovers.append(p);
            continue;
        }
        quint32 state = 0;
        bool covered = false;
        for (const QChar c : p) {
            const quint32 column = classOf(c.unicode());
            const quint64 cell = quint64(state) * columns + column;
            if (next[cell] == 0) {
                next[cell] = quint32(accepting.size());
                accepting.push_back(false);
                next.resize(next.size() + columns, 0);
            }
            state = next[cell];
            if (accepting[state]) {
                covered = true;
                break;
            }
        }
        if (!covered)
            accepting[state] = true;
    }

    // Turn the trie into a full transition table, breadth first, so that a
    // state's fallback row is complete before the state itself is finished.
    const quint32 stateCount = quint32(accepting.size());
    std::vector<quint32> fallback(stateCount, 0);
    std::deque<quint32> queue;
    for (quint32 column = 0; column < columns; ++column) {
        if (const quint32 child = next[column])
            queue.push_back(child);
    }
    while (!queue.empty()) {
        const quint32 state = queue.front();
        queue.pop_front();
        if (accepting[state])
            continue; // matching stops here, so its row is never read
        const quint64 row = quint64(state) * columns;
        const quint64 fallbackRow = quint64(fallback[state]) * columns;
        for (quint32 column = 0; column < columns; ++column) {
            const quint32 child = next[row + column];
            if (child != 0) {
                fallback[child] = next[fallbackRow + column];
                if (accepting[fallback[child]])
                    accepting[child] = true;
                queue.push_back(child);
            } else {
                next[row + column] = next[fallbackRow + column];
            }
        }
    }

    for (quint32 &target : next)
        target = target * columns | (accepting[target] ? AcceptBit : 0u);
    m_table = std::move(next);
    m_table.shrink_to_fit();
}

quint32 AllowMatcher::classOf(char16_t c) const
{
    if (c < 128)
        return m_asciiClass[c];
    const auto it = std::lower_bound(m_wideClass.begin(), m_wideClass.end(), c,
                                     [](const auto &entry, char16_t key) { return entry.first < key; });
    return (it != m_wideClass.end() && it->first == c) ? it->second : 0;
}

bool AllowMatcher::matchesAny(QStringView address) const
{
    if (!m_table.empty()) {
        const quint32 *table = m_table.data();
        quint32 row = 0;
        if (m_wideClass.empty()) {
            for (const QChar c : address) {
                const char16_t u = c.unicode();
                const quint32 target = table[row + (u < 128 ? m_asciiClass[u] : 0)];
                if (target & AcceptBit)
                    return true;
                row = target;
            }
        } else {
            for (const QChar c : address) {
                const quint32 target = table[row + classOf(c.unicode())];
                if (target & AcceptBit)
                    return true;
                row = target;
            }
        }
    }
    return leftoverMatches(address);
}

bool AllowMatcher::leftoverMatches(QStringView address) const
{
    if (m_leftovers.isEmpty())
        return false;
    const QString upper = filterUpper(address);
    for (const QString &entry : m_leftovers) {
        if (upper.contains(entry))
            return true;
    }
    return false;
}

qsizetype AllowMatcher::memoryBytes() const
{
    qsizetype bytes = qsizetype(m_table.capacity() * sizeof(quint32))
            + qsizetype(m_wideClass.capacity() * sizeof(m_wideClass[0]));
    for (const QString &entry : m_leftovers)
        bytes += entry.size() * qsizetype(sizeof(QChar));
    return bytes;
}
