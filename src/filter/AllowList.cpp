#include "filter/AllowList.h"

#include <algorithm>

namespace {
// Recent entries are folded into the settled matcher once they outnumber this
// or a sixteenth of the settled ones: a rebuild of the recent matcher stays a
// few milliseconds, and the whole list is rebuilt only every few hundred appends.
constexpr qsizetype MinimumFold = 64;
constexpr qsizetype FoldShare = 16;
}

AllowList::AllowList(const QStringList &defaults, const QString &unblockedLine, QStringList *dropped)
    : m_defaults(defaults)
{
    QStringList kept;
    for (const QString &entry : unblockedLine.split(u',', Qt::SkipEmptyParts)) {
        if (acceptable(entry))
            kept.append(entry);
        else
            m_leftOut.append(entry);
    }
    if (dropped)
        *dropped = m_leftOut;
    m_text = defaults.join(u',') + u',' + kept.join(u',');
    m_entries = m_text.split(u',');
    for (const QString &entry : std::as_const(m_entries)) {
        m_entrySet.insert(entry);
        m_hosts.add(entry);
    }
    m_settled = AllowMatcher(m_entries);
    m_settledCount = m_entries.size();
    m_recentBuiltCount = m_entries.size();
}

QString AllowList::fileText() const
{
    return m_leftOut.isEmpty() ? m_text : m_text + u',' + m_leftOut.join(u',');
}

bool AllowList::acceptable(const QString &entry) const
{
    return isAcceptableEntry(entry, m_defaults);
}

void AllowList::append(const QString &entry)
{
    m_text += u',';
    m_text += entry;
    m_entries += entry;
    m_entrySet.insert(entry);
    m_hosts.add(entry);
}

bool AllowList::unblock(const QString &entry)
{
    if (!acceptable(entry))
        return false;
    append(entry);
    return true;
}

bool AllowList::allows(QStringView address) const
{
    bringMatchersUpToDate();
    return m_settled.matchesAny(address) || m_recent.matchesAny(address);
}

void AllowList::bringMatchersUpToDate() const
{
    if (m_recentBuiltCount == m_entries.size())
        return;
    const qsizetype recentCount = m_entries.size() - m_settledCount;
    if (recentCount > std::max(MinimumFold, m_settledCount / FoldShare)) {
        m_settled = AllowMatcher(m_entries);
        m_settledCount = m_entries.size();
        m_recent = AllowMatcher();
    } else {
        m_recent = AllowMatcher(m_entries.mid(m_settledCount));
    }
    m_recentBuiltCount = m_entries.size();
}

bool AllowList::textContains(const QString &caption) const
{
    return m_text.contains(caption, Qt::CaseSensitive);
}

bool AllowList::learn(const QString &caption)
{
    if (!acceptable(caption) || m_entrySet.contains(caption))
        return false;
    append(caption);
    return true;
}
