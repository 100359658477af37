#pragma once

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
    };

    struct TimeCheck {
        std::optional<QString> countdown; // the message line's new text, if any
        bool ranOut = false;
    };

    explicit Watchdog(Outside outside);

    // Whole minutes from now to the end, both cut to the minute: with "30
    // minutes" saved at 10:00:20 there are 30 until 10:01:00 and none at 10:30:00.
    static qint64 minutesRemaining(const QDateTime &now, const QDateTime &limitEnd);
    static QString countdownText(qint64 minutes); // "45 minutes on timer."

    // The time limit. A wall clock set forwards or backwards between two
    // checks moves the end with it, so the limit counts time that really
    // passed: it neither runs out early nor never.
    TimeCheck checkTime(ParentalSettings &settings);

    // The rest of one tick. Returns whether a pop-up window is open.
    bool sweep();

private:
    Outside m_outside;
    std::optional<QDateTime> m_lastWall;
    qint64 m_lastMonotonic = 0;
};
