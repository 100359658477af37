#include "browsing/Watchdog.h"

#include "shell/Services.h"
#include "shell/SettingsFile.h"

namespace {

constexpr qint64 CountdownShownFrom = 120;
// Timers wake late and clocks are read at slightly different moments; a
// difference this small is no change of the clock.
constexpr qint64 ClockChangeMs = 2000;

QDateTime toMinute(const QDateTime &moment)
{
    QDateTime cut = moment;
    cut.setTime(QTime(moment.time().hour(), moment.time().minute()));
    return cut;
}

} // namespace

Watchdog::Watchdog(Outside outside) : m_outside(std::move(outside)) {}

qint64 Watchdog::minutesRemaining(const QDateTime &now, const QDateTime &limitEnd)
{
    return toMinute(now).secsTo(toMinute(limitEnd)) / 60;
}

QString Watchdog::countdownText(qint64 minutes)
{
    return QString::number(minutes) + QStringLiteral(" minutes on timer.");
}

Watchdog::TimeCheck Watchdog::checkTime(ParentalSettings &settings)
{
    const QDateTime now = m_outside.clock->now();
    const qint64 monotonic = m_outside.clock->monotonicMs();
    if (m_lastWall && settings.LimitEnd.isValid()) {
        const qint64 jump = m_lastWall->msecsTo(now) - (monotonic - m_lastMonotonic);
        if (qAbs(jump) > ClockChangeMs)
            settings.LimitEnd = settings.LimitEnd.addMSecs(jump);
    }
    m_lastWall = now;
    m_lastMonotonic = monotonic;

    TimeCheck check;
    if (settings.TimeLimit.isEmpty() || !settings.LimitEnd.isValid())
        return check;
    const qint64 remaining = minutesRemaining(now, settings.LimitEnd);
    if (remaining <= CountdownShownFrom)
        check.countdown = countdownText(remaining);
    check.ranOut = remaining <= 0;
    return check;
}

bool Watchdog::sweep()
{
    if (m_outside.closeWindowsByTitle)
        m_outside.closeWindowsByTitle({QStringLiteral("Security Warning"), QStringLiteral("File Download")});
    if (m_outside.countOtherBrowsers && m_outside.countOtherBrowsers() >= 1 && m_outside.startTerminate)
        m_outside.startTerminate();
    return m_outside.popupOpen && m_outside.popupOpen();
}
