#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// The filter's own upper-casing: only a-z become A-Z. Everything that compares
// addresses with allow-list entries, or makes entries from addresses, uses it,
// so that an entry made from an address is always found in that address again.
QString filterUpper(QStringView text);

// True when the entry ends in ":" and digits: a port, matched only where no
// other digit follows it (at `end`, past the entry, in the address).
bool endsInPort(QStringView entry);
bool portEntryEndsAt(QStringView address, qsizetype end);

// Answers "does the address contain any of these entries?" in one pass over the
// address, whatever the number of entries (an Aho-Corasick automaton over the
// upper-cased entries). Immutable once built; build a new one to change entries.
// An entry that ends in a port (":" and digits, "127.0.0.4:4980") is found only
// where no other digit follows it: "127.0.0.4:49807" is another place.
class AllowMatcher
{
public:
    AllowMatcher() = default;
    explicit AllowMatcher(const QStringList &entries);

    // True when some non-empty entry, upper-cased, occurs in the upper-cased
    // address (one ending in a port, not before a digit). An empty entry matches nothing.
    bool matchesAny(QStringView address) const;

    // Heap bytes held by the automaton; the benchmark reports it.
    qsizetype memoryBytes() const;

private:
    quint32 classOf(char16_t c) const;
    template<bool Wide>
    bool scan(QStringView address) const;
    bool leftoverMatches(QStringView address) const;

    // Character -> column. Column 0 is every character no entry contains.
    quint32 m_asciiClass[128] = {};
    std::vector<std::pair<char16_t, quint32>> m_wideClass; // sorted by character
    qsizetype m_longestPattern = 0;
    // Row-major transitions; each value is the next row's offset, with
    // AcceptBit set when taking that transition means some entry has matched.
    std::vector<quint32> m_table;
    quint32 m_columns = 1;
    // By state: an entry ending in a port has just ended, so the address's end matches.
    std::vector<bool> m_pending;
    // Entries too long or too many to put in the table without running memory
    // up (only a damaged or hostile list gets here); searched one by one.
    QStringList m_leftovers;
};
