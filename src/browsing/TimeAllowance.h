#pragma once

#include "shell/SettingsFile.h"

#include <QDate>
#include <QDateTime>
#include <QString>

// The arithmetic of the child's time beyond the countdown itself: which
// picture warns, whether now lies in the allowed hours and when they end.
namespace TimeAllowance {

// The pictures that warn, from 10, 5 and 1 minutes left, and the end.
enum class Stage { None, TenMinutes, FiveMinutes, OneMinute, Out };
Stage stageFor(qint64 minutesLeft);

bool insideHours(const AllowedHours &hours, const QTime &time);
// The moment the allowed stretch that `now` lies in ends; invalid when no
// hours are set or `now` lies outside them.
QDateTime hoursEnd(const AllowedHours &hours, const QDateTime &now);

} // namespace TimeAllowance

// The time used today, for a limit counted over the whole day, and a
// parent's more minutes given today. Kept in the program folder in
// "timeused.txt" (the day, the seconds used, the moment the minutes given
// end), written whole, so that neither closing the program nor a restart of
// the machine gives a fresh limit on the same day or takes back what a parent
// gave; a new day starts afresh.
class DailyUsage {
public:
    explicit DailyUsage(QString appFolder) : m_appFolder(std::move(appFolder)) {}
    static QString fileName(const QString &appFolder);

    // What the file says for `today`, or for the day after (a clock set back): nothing
    // when it holds another day or is missing, a spent day when its count cannot be read.
    void load(const QDate &today);
    // Adds time used. Returns true when `today` is a new day, which starts from nothing.
    bool add(qint64 ms, const QDate &today);
    qint64 usedSeconds() const { return m_usedMs / 1000; }
    // The time ran out: the minute the countdown no longer showed counts as used.
    void roundUpToMinute();
    QDateTime grantedUntil() const { return m_grantedUntil; }
    void setGrantedUntil(const QDateTime &until) { m_grantedUntil = until; }
    bool save(QString *error = nullptr) const;

private:
    static bool countsOn(const QDate &day, const QDate &today);

    QString m_appFolder;
    QDate m_day;
    qint64 m_usedMs = 0;
    QDateTime m_grantedUntil;
};
