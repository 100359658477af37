#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// The installation's user id, kept in "userid.id" so the portal can keep each
// family's children, sites and choices apart.
namespace Identity {

inline constexpr int VersionMajor = 2;
inline constexpr int VersionMinor = 0;
inline constexpr int VersionRevision = 4;

QString shortVersion(); // "2.0"
QString longVersion();  // "2.04": the revision follows with no separator

QString fileName(const QString &appFolder);

// 14 date-time digits and a random number below 1,000,000 without leading zeros.
QString makeUserId(const QDateTime &now, quint32 randomBelowMillion);

struct LoadResult {
    QString userId;
    QString error; // set when a new id could not be stored; the id is still used
};

// Where the id is kept while a "userid.id" that holds no id cannot be moved aside.
QString spareFileName(const QString &appFolder);

// Reads the first line of the identity file as it stands when it is an id the
// portal takes (1 to 40 digits); otherwise the file is kept beside as
// "userid.id.bad" and a new id is made and stored. `random` draws the random part; by default from the
// system's random source, so two installations set up in the same second do
// not share an id.
LoadResult LoadUserId(const QString &appFolder, const QDateTime &now,
                      const std::function<quint32()> &random = {});

} // namespace Identity
