#include "filter/AllowMatcher.h"

#include <algorithm>
#include <deque>

namespace {

constexpr quint32 AcceptBit = 0x80000000u;
constexpr int Lanes = 4;

// Real entries are host names and short paths. Longer ones, and whatever would
// push the table past this many cells (64 MB), are searched one by one instead:
// a garbage list then makes the test slower, never the program run out of memory.
constexpr qsizetype LongEntry = 512;
constexpr quint64 CellBudget = 16u * 1024u * 1024u;

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

bool endsInPort(QStringView entry)
{
    qsizetype digits = 0;
    while (digits < entry.size() && isDigit(entry[entry.size() - 1 - digits]))
        ++digits;
    return digits > 0 && digits < entry.size() && entry[entry.size() - 1 - digits] == u':';
}

bool portEntryEndsAt(QStringView address, qsizetype end)
{
    return end == address.size() || !isDigit(address[end]);
}

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
            continue; // contained in every address; start-up leaves one when the unblocked file is missing
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
    // Every digit has a column of its own when an entry ends in a port: what
    // follows that entry decides whether it matches.
    if (std::any_of(patterns.begin(), patterns.end(), [](const QString &p) { return endsInPort(p); })) {
        for (char16_t u = u'0'; u <= u'9'; ++u)
            m_asciiClass[u] = columns++;
    }
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

    const quint64 maxStates = std::max<quint64>(1, CellBudget / columns);
    quint64 patternLength = 1;
    for (const QString &p : std::as_const(patterns))
        patternLength += quint64(p.size());
    std::vector<quint32> next(columns, 0); // trie edges while building; 0 = none
    next.reserve(std::min(patternLength, maxStates + 1) * columns);
    std::vector<bool> accepting(1, false);
    // A state where an entry ending in a port ends: it accepts on the next
    // character unless that is a digit, or at the end of the address. It keeps
    // its row: a longer entry may go on from it.
    std::vector<bool> pending(1, false);
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
                pending.push_back(false);
                next.resize(next.size() + columns, 0);
            }
            state = next[cell];
            if (accepting[state]) {
                covered = true;
                break;
            }
        }
        if (!covered) {
            // An entry ending in a port is decided one character after its end.
            const bool port = endsInPort(p);
            (port ? pending : accepting)[state] = true;
            m_longestPattern = std::max(m_longestPattern, p.size() + (port ? 1 : 0));
        }
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
                if (pending[fallback[child]])
                    pending[child] = true;
                queue.push_back(child);
            } else {
                next[row + column] = next[fallbackRow + column];
            }
        }
    }

    std::vector<bool> digitColumn(columns, false);
    for (char16_t u = u'0'; u <= u'9'; ++u)
        digitColumn[m_asciiClass[u]] = m_asciiClass[u] != 0;
    m_pending.assign(stateCount, false);
    for (quint32 state = 0; state < stateCount; ++state) {
        m_pending[state] = pending[state] && !accepting[state];
        const quint64 row = quint64(state) * columns;
        for (quint32 column = 0; column < columns; ++column) {
            const quint32 target = next[row + column];
            const bool accepts = accepting[target] || (m_pending[state] && !digitColumn[column]);
            next[row + column] = target * columns | (accepts ? AcceptBit : 0u);
        }
    }
    m_columns = columns;
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
        if (m_wideClass.empty() ? scan<false>(address) : scan<true>(address))
            return true;
    }
    return leftoverMatches(address);
}

template<bool Wide>
bool AllowMatcher::scan(QStringView address) const
{
    const quint32 *table = m_table.data();
    const auto column = [this](char16_t c) {
        if constexpr (Wide)
            return classOf(c);
        else
            return c < 128 ? m_asciiClass[c] : 0u;
    };
    const char16_t *text = address.utf16();
    const qsizetype length = address.size();

    // Each step waits for the previous one's table read, so one pass runs at
    // memory latency. Long addresses are cut into four stretches scanned side
    // by side; each stretch runs on past its end by the longest entry less one
    // character, so an entry that starts in a stretch is found by that stretch
    // (an entry ending in a port counts one character longer). Whichever
    // reaches the address's end asks whether a port entry ends there.
    const qsizetype overlap = m_longestPattern - 1;
    const qsizetype stretch = length / Lanes;
    if (stretch > 2 * overlap + 64) {
        qsizetype position[Lanes];
        quint32 row[Lanes] = {};
        for (int lane = 0; lane < Lanes; ++lane)
            position[lane] = lane * stretch;
        for (qsizetype step = 0; step < stretch; ++step) {
            quint32 seen = 0;
            for (int lane = 0; lane < Lanes; ++lane) {
                row[lane] = table[row[lane] + column(text[position[lane] + step])];
                seen |= row[lane];
            }
            if (seen & AcceptBit)
                return true;
        }
        // Finish each stretch's run-on; the last one runs to the end.
        for (int lane = 0; lane < Lanes; ++lane) {
            const qsizetype end = lane == Lanes - 1 ? length : std::min(length, (lane + 1) * stretch + overlap);
            quint32 state = row[lane];
            for (qsizetype i = position[lane] + stretch; i < end; ++i) {
                state = table[state + column(text[i])];
                if (state & AcceptBit)
                    return true;
            }
            if (end == length && m_pending[state / m_columns])
                return true;
        }
        return false;
    }
    quint32 row = 0;
    for (qsizetype i = 0; i < length; ++i) {
        row = table[row + column(text[i])];
        if (row & AcceptBit)
            return true;
    }
    return m_pending[row / m_columns];
}

bool AllowMatcher::leftoverMatches(QStringView address) const
{
    if (m_leftovers.isEmpty())
        return false;
    const QString upper = filterUpper(address);
    for (const QString &entry : m_leftovers) {
        if (!endsInPort(entry)) {
            if (upper.contains(entry))
                return true;
            continue;
        }
        for (qsizetype at = upper.indexOf(entry); at >= 0; at = upper.indexOf(entry, at + 1)) {
            if (portEntryEndsAt(upper, at + entry.size()))
                return true;
        }
    }
    return false;
}

qsizetype AllowMatcher::memoryBytes() const
{
    qsizetype bytes = qsizetype(m_table.capacity() * sizeof(quint32)) + qsizetype(m_pending.capacity() / 8)
            + qsizetype(m_wideClass.capacity() * sizeof(m_wideClass[0]));
    for (const QString &entry : m_leftovers)
        bytes += entry.size() * qsizetype(sizeof(QChar));
    return bytes;
}
