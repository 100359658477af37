#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct FetchResult;

// One site of the portal's available-sites reply: a row of nine TAB-separated
// fields, each row ended by CR LF.
struct SiteRow {
    QString id;        // field 0, decimal
    QString shortName; // field 1
    QString url;       // field 2
    QString ages;      // field 3, "3 to 12"
    QString comments;  // field 4
    QString type;      // field 5: 1 public, 2 private
    bool ticked = false; // field 7 is exactly "-1": on this child's menu
    QString logo;      // field 8
};

struct SiteListReply {
    QList<SiteRow> rows;  // in the reply's order
    int unreadable = 0;   // rows left out: fewer than nine fields, or an id that is no number
    int repeated = 0;     // rows left out because an earlier row has the same id
};

// Reads the reply as UTF-8. A last row without its CR LF is still a row (the
// portal ends every row, so only a cut-short reply lacks it); a row that
// cannot be read is counted and skipped, so one bad row costs only itself.
SiteListReply parseAvailableSites(const QByteArray &reply);

// What the parent is told about rows left out of a load; empty when none were.
QString leftOutRowsMessage(const SiteListReply &reply);

// What the parent is told when the portal did not make a change (it never reached it, or
// refused it), or may have made it without saying so.
QString changeNotSavedMessage(const QString &change, const FetchResult &failed);
