#pragma once

#include "browsing/TimeAllowance.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class Clock;
class ProgramLauncher;
struct ParentalSettings;

// What the main window's one-second timer does, with every outside part
// injected: the time limit's countdown, and the sweep that closes download
// and security prompts, ends other web browsers and watches for pop-ups.
class Watchdog {
public:
    struct Outside {
        Clock *clock = nullptr;
        std::function<int()> countOtherBrowsers = {};
        std::function<void(const QStringList &titles)> closeWindowsByTitle = {};
        std::function<bool()> popupOpen = {};
        std::function<void()> startTerminate = {}; // hidden, not waited for
        QString appFolder = {}; // where the minutes used today are kept
    };

    struct TimeCheck {
        std::optional<QString> countdown; // the message line's new text, if any
        bool ranOut = false;
        // The picture that warns: the nearer of the limit's end and the end of the allowed hours.
        TimeAllowance::Stage stage = TimeAllowance::Stage::None;
    };

    explicit Watchdog(Outside outside);
    ~Watchdog(); // keeps the minutes used today

    // Whole minutes from now to the end, both cut to the minute: with "30
    // minutes" saved at 10:00:20 there are 30 until 10:01:00 and none at 10:30:00.
    static qint64 minutesRemaining(const QDateTime &now, const QDateTime &limitEnd);
    static QString countdownText(qint64 minutes); // "45 minutes on timer."

    // The time limit. A wall clock set forwards or backwards between two
    // checks moves the end with it, so the limit counts time that really
    // passed: it neither runs out early nor never.
    // The time runs out at the limit's end and outside the allowed hours.
    TimeCheck checkTime(ParentalSettings &settings);

    // The limit's end was set from the clock as it read then (at start-up,
    // before the portal was asked): a change of the clock since then moves it,
    // as one between two checks does.
    void watchClockFrom(const QDateTime &wall, qint64 monotonicMs);
    // The limit was set (at start-up, by a save of the preferences). Counted
    // over the whole day, today's time used comes off it.
    void limitSet(ParentalSettings &settings);
    // A parent's "more minutes": the limit's end moves to at least that far
    // from now, and the allowed hours give way until then, also after a
    // restart on the same day.
    void grantMinutes(ParentalSettings &settings, int minutes);

    // The rest of one tick. Returns whether a pop-up window is open.
    bool sweep();

private:
    void grantUntil(ParentalSettings &settings, const QDateTime &until);

    Outside m_outside;
    std::optional<QDateTime> m_lastWall;
    qint64 m_lastMonotonic = 0;
    DailyUsage m_usage;
    bool m_usageLoaded = false;
    static constexpr qint64 UsageSavedEverySeconds = 15;
    qint64 m_savedStep = -1;
    bool m_wholeDay = false;
    bool m_out = false; // locked out, until a limit is set or minutes given: time meanwhile is no time used
    std::optional<QDateTime> m_grantedUntil;
};
