#pragma once

#include "filter/AllowEntry.h"
#include "filter/AllowMatcher.h"
#include "filter/HostIndex.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

// The allow list: the comma-joined text that start-up builds, pages extend and
// the unblocked file saves, plus a matcher kept in step with it so that the
// allow test stays one pass over the address however long the list grows.
// Entries are exactly the pieces of text() split at ",". Past the defaults, only
// entries that pass isAcceptableEntry join: none holds a ",", none covers
// nearly every address.
class AllowList
{
public:
    AllowList() = default;
    // The defaults joined by ",", then "," and the unblocked file's entries,
    // even when there are none (the empty entry left matches nothing). Entries of
    // the file that are not acceptable are left out and, when asked, listed.
    AllowList(const QStringList &defaults, const QString &unblockedLine, QStringList *dropped = nullptr);

    QString text() const { return m_text; }
    // What the unblocked file is rewritten with: the list's text, then the
    // file's entries that were left out. Those are the parent's own words,
    // kept though they allow nothing.
    QString fileText() const;

    // An unblocked site: appends "," and the entry, whether or not the list
    // already holds it. Refused (false, nothing changes) unless acceptable.
    bool unblock(const QString &entry);

    // The allow test: some non-empty entry, upper-cased (a-z only), occurs in
    // the upper-cased address, anywhere in it; an entry that ends in a port
    // (":8080") only where no other digit follows it.
    bool allows(QStringView address) const;

    // Host mode's allow test reads the entries through this index.
    const HostIndex &hosts() const { return m_hosts; }

    // A case-sensitive search for the text anywhere in the list text.
    bool textContains(const QString &caption) const;

    // Appends the caption unless it is not acceptable or is already one of the
    // entries, exactly (case counts). Returns whether it was appended.
    bool learn(const QString &caption);

    bool acceptable(const QString &entry) const;

private:
    void append(const QString &entry);
    void bringMatchersUpToDate() const;

    QStringList m_defaults;
    QStringList m_leftOut; // the unblocked file's entries that were not acceptable
    QString m_text;
    QStringList m_entries;
    QSet<QString> m_entrySet; // m_entries, for learning in constant time
    HostIndex m_hosts;
    // Appends go to a small matcher over the recent entries, rebuilt on the next
    // test; they are folded into the settled one only once they amount to a
    // fair share of it, so hundreds of appends never rebuild the whole list each.
    // Mutable because the rebuild is deferred to the (const) test; all use is on
    // the one user-interface thread.
    mutable AllowMatcher m_settled;
    mutable AllowMatcher m_recent;
    mutable qsizetype m_settledCount = 0;
    mutable qsizetype m_recentBuiltCount = 0;
};
