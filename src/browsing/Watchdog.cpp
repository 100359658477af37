#include "browsing/Watchdog.h"

#include "shell/Services.h"
#include "shell/SettingsFile.h"

#include <limits>

namespace {

constexpr qint64 CountdownShownFrom = 120;
// Timers wake late and clocks are read at slightly different moments; a
// difference this small is no change of the clock.
constexpr qint64 ClockChangeMs = 2000;

} // namespace

Watchdog::Watchdog(Outside outside) : m_outside(std::move(outside)), m_usage(m_outside.appFolder) {}

Watchdog::~Watchdog()
{
    if (m_wholeDay && m_usageLoaded)
        m_usage.save();
}

qint64 Watchdog::minutesRemaining(const QDateTime &now, const QDateTime &limitEnd)
{
    // Each cut to its minute as a moment, not as a wall time: in the hour that
    // a clock set back repeats, one wall time names two moments an hour apart.
    const auto minuteOf = [](const QDateTime &moment) { return moment.toMSecsSinceEpoch() / 60000; };
    return minuteOf(limitEnd) - minuteOf(now);
}

QString Watchdog::countdownText(qint64 minutes)
{
    // After a time-out the end lies in the past; the line never counts below nothing.
    return QString::number(std::max<qint64>(0, minutes)) + QStringLiteral(" minutes on timer.");
}

Watchdog::TimeCheck Watchdog::checkTime(ParentalSettings &settings)
{
    const QDateTime now = m_outside.clock->now();
    const qint64 monotonic = m_outside.clock->monotonicMs();
    const qint64 passed = m_lastWall ? monotonic - m_lastMonotonic : 0;
    if (m_lastWall) {
        const qint64 jump = m_lastWall->msecsTo(now) - passed;
        if (qAbs(jump) > ClockChangeMs) {
            if (settings.LimitEnd.isValid())
                settings.LimitEnd = settings.LimitEnd.addMSecs(jump);
            if (m_grantedUntil)
                m_grantedUntil = m_grantedUntil->addMSecs(jump);
            // The minutes given are kept as a moment: after a restart they
            // must end where they end now, not where the old clock put them.
            if (m_grantedUntil && m_usageLoaded && m_usage.grantedUntil().isValid()) {
                m_usage.setGrantedUntil(*m_grantedUntil);
                m_usage.save();
            }
        }
    }
    m_lastWall = now;
    m_lastMonotonic = monotonic;

    m_wholeDay = settings.time.wholeDay;
    if (m_wholeDay && m_usageLoaded) {
        if (m_usage.add(m_out ? 0 : passed, now.date())) {
            // A new day: the whole limit again, counted from now. More minutes
            // given before midnight still hold off the allowed hours' end.
            settings.LimitEnd = SettingsFile::TimeLimitEnd(settings.TimeLimit, now);
        }
        // Kept every quarter of a minute: a program ended without warning (a
        // kill, the machine switched off) loses no more of the day's count.
        if (m_usage.usedSeconds() / UsageSavedEverySeconds != m_savedStep) {
            m_savedStep = m_usage.usedSeconds() / UsageSavedEverySeconds;
            m_usage.save();
        }
    }

    TimeCheck check;
    qint64 left = std::numeric_limits<qint64>::max();
    if (!settings.TimeLimit.isEmpty() && settings.LimitEnd.isValid()) {
        left = minutesRemaining(now, settings.LimitEnd);
        if (left <= CountdownShownFrom)
            check.countdown = countdownText(left);
    }
    if (settings.time.hours.isSet()) {
        QDateTime end = TimeAllowance::hoursEnd(settings.time.hours, now);
        if (m_grantedUntil && *m_grantedUntil > now && (!end.isValid() || *m_grantedUntil > end))
            end = *m_grantedUntil;
        left = std::min(left, end.isValid() ? minutesRemaining(now, end) : 0);
    }
    check.stage = TimeAllowance::stageFor(left);
    check.ranOut = check.stage == TimeAllowance::Stage::Out;
    // Counted over the whole day, the time used is kept at once when it runs
    // out, or a restart would give back what the last save had not seen.
    if (check.ranOut && !m_out && m_wholeDay && m_usageLoaded) {
        m_usage.roundUpToMinute();
        m_savedStep = m_usage.usedSeconds() / UsageSavedEverySeconds;
        m_usage.save();
    }
    // The window stays locked until a grown-up lets the child back in, also
    // where a new day or the allowed hours' start would give time again.
    m_out = m_out || check.ranOut;
    return check;
}

void Watchdog::watchClockFrom(const QDateTime &wall, qint64 monotonicMs)
{
    m_lastWall = wall;
    m_lastMonotonic = monotonicMs;
}

void Watchdog::limitSet(ParentalSettings &settings)
{
    const QDateTime now = m_outside.clock->now();
    const bool starting = !m_usageLoaded && !m_outside.appFolder.isEmpty();
    if (starting) {
        m_usage.load(now.date());
        m_usageLoaded = true;
    }
    m_grantedUntil.reset();
    m_out = false;
    m_wholeDay = settings.time.wholeDay;
    if (m_wholeDay && m_usageLoaded && settings.LimitEnd.isValid())
        settings.LimitEnd = settings.LimitEnd.addSecs(-m_usage.usedSeconds());
    // More minutes given earlier today outlast a restart; a limit the parent
    // saves since replaces them.
    if (starting && m_usage.grantedUntil() > now) {
        grantUntil(settings, m_usage.grantedUntil());
    } else if (m_usage.grantedUntil().isValid()) {
        m_usage.setGrantedUntil({});
        m_usage.save();
    }
}

void Watchdog::grantMinutes(ParentalSettings &settings, int minutes)
{
    const QDateTime until = m_outside.clock->now().addSecs(qint64(minutes) * 60);
    grantUntil(settings, until);
    if (m_usageLoaded) {
        m_usage.setGrantedUntil(until);
        m_usage.save();
    }
}

void Watchdog::grantUntil(ParentalSettings &settings, const QDateTime &until)
{
    if (settings.LimitEnd.isValid() && settings.LimitEnd < until)
        settings.LimitEnd = until;
    m_grantedUntil = until;
    m_out = false;
}

bool Watchdog::sweep()
{
    if (m_outside.closeWindowsByTitle)
        m_outside.closeWindowsByTitle({QStringLiteral("Security Warning"), QStringLiteral("File Download")});
    if (m_outside.countOtherBrowsers && m_outside.countOtherBrowsers() >= 1 && m_outside.startTerminate)
        m_outside.startTerminate();
    return m_outside.popupOpen && m_outside.popupOpen();
}
