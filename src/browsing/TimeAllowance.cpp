#include "browsing/TimeAllowance.h"

#include "shell/LocalTextFile.h"

#include <QTimeZone>

#include <algorithm>

namespace TimeAllowance {

Stage stageFor(qint64 minutesLeft)
{
    if (minutesLeft <= 0)
        return Stage::Out;
    if (minutesLeft <= 1)
        return Stage::OneMinute;
    if (minutesLeft <= 5)
        return Stage::FiveMinutes;
    if (minutesLeft <= 10)
        return Stage::TenMinutes;
    return Stage::None;
}

bool insideHours(const AllowedHours &hours, const QTime &time)
{
    if (!hours.isSet())
        return true;
    if (hours.from < hours.to)
        return hours.from <= time && time < hours.to;
    return time >= hours.from || time < hours.to; // over midnight
}

namespace {
// A wall time of that day; one the clocks skip as they are set forwards is
// read as that long after the day's start, so the hours still end.
QDateTime wallTime(const QDate &day, const QTime &time, const QTimeZone &zone)
{
    const QDateTime at(day, time, zone);
    return at.isValid() ? at : day.startOfDay(zone).addSecs(QTime(0, 0).secsTo(time));
}
} // namespace

QDateTime hoursEnd(const AllowedHours &hours, const QDateTime &now)
{
    if (!hours.isSet() || !insideHours(hours, now.time()))
        return {};
    QDateTime end = wallTime(now.date(), hours.to, now.timeZone());
    if (end <= now)
        end = wallTime(now.date().addDays(1), hours.to, now.timeZone());
    return end;
}

} // namespace TimeAllowance

QString DailyUsage::fileName(const QString &appFolder)
{
    return appFolder + QStringLiteral("timeused.txt");
}

bool DailyUsage::countsOn(const QDate &day, const QDate &today)
{
    // A new day starts once the date has passed the day counted. Moved back
    // by a day (a clock set back, a time zone crossed westwards over
    // midnight), the date goes on with that day; moved back further, it is a
    // clock put right, and the day starts afresh.
    return day.isValid() && (day == today || day == today.addDays(1));
}

void DailyUsage::load(const QDate &today)
{
    m_day = today;
    m_usedMs = 0;
    m_grantedUntil = {};
    QDate day;
    qint64 seconds = -1;
    bool secondsRead = false;
    QDateTime granted;
    for (const QString &line : LocalTextFile::readLines(fileName(m_appFolder))) {
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed().toUpper();
        const QString value = line.section(QLatin1Char('='), 1).trimmed();
        if (key == QLatin1String("DAY"))
            day = QDate::fromString(value, Qt::ISODate);
        else if (key == QLatin1String("SECONDS"))
            seconds = value.toLongLong(&secondsRead);
        else if (key == QLatin1String("GRANTED") && value.toLongLong() > 0)
            granted = QDateTime::fromSecsSinceEpoch(value.toLongLong());
    }
    if (!countsOn(day, today))
        return;
    m_day = day;
    // A day holds no more than a day of use. A count for the day that cannot
    // be read is a damaged file, and the day is taken as spent, not as new.
    m_usedMs = (secondsRead && seconds >= 0 ? std::min<qint64>(seconds, 24 * 3600) : 24 * 3600) * 1000;
    m_grantedUntil = granted;
}

void DailyUsage::roundUpToMinute()
{
    m_usedMs = (m_usedMs + 59999) / 60000 * 60000;
}

bool DailyUsage::add(qint64 ms, const QDate &today)
{
    if (!countsOn(m_day, today)) {
        m_day = today;
        m_usedMs = 0;
        m_grantedUntil = {};
        return true;
    }
    m_usedMs += std::max<qint64>(0, ms);
    return false;
}

bool DailyUsage::save(QString *error) const
{
    QStringList lines{QStringLiteral("day=") + m_day.toString(Qt::ISODate),
                      QStringLiteral("seconds=") + QString::number(usedSeconds())};
    if (m_grantedUntil.isValid())
        lines << QStringLiteral("granted=") + QString::number(m_grantedUntil.toSecsSinceEpoch());
    return LocalTextFile::writeLines(fileName(m_appFolder), lines, error);
}
