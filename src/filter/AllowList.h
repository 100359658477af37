#pragma once

#include "filter/AllowMatcher.h"

#include <QString>
#include <QStringList>
#include <QStringView>

// The allow list: the comma-joined text that start-up builds, pages extend and
// the unblocked file saves, plus a matcher kept in step with it so that the
// allow test stays one pass over the address however long the list grows.
// Entries are exactly the pieces of text() split at ",": an appended entry that
// itself holds a comma counts as the pieces it splits into, as the text says.
class AllowList
{
public:
    AllowList() = default;
    // The defaults joined by ",", then "," and the unblocked file's first line,
    // even when that line is empty (the empty entry it leaves matches nothing).
    AllowList(const QStringList &defaults, const QString &unblockedLine);

    QString text() const { return m_text; }

    // Appends "," and the entry to the text; the next allow test sees it.
    void append(const QString &entry);

    // The allow test: some non-empty entry, upper-cased (a-z only), occurs in
    // the upper-cased address, anywhere in it.
    bool allows(QStringView address) const;

    // The learned-site check: a case-sensitive search for the caption anywhere
    // in the list text, not an entry-by-entry comparison.
    bool textContains(const QString &caption) const;

    // Appends the caption unless the list text already holds it or it is empty.
    // Returns whether it was appended.
    bool learn(const QString &caption);

private:
    void bringMatchersUpToDate() const;

    QString m_text;
    QStringList m_entries;
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
