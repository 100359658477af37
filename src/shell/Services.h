#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QUrl>

// The small seams that tests script: the clock, the dialogs and the portal's
// transport. The real ones are made once in main.

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that only moves forward, whatever is done to the
    // wall clock: the watchdog tells a changed clock from time that passed.
    virtual qint64 monotonicMs() const = 0;
};

class SystemClock : public Clock {
public:
    SystemClock() { m_started.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 monotonicMs() const override { return m_started.elapsed(); }

private:
    QElapsedTimer m_started;
};

// Message and input boxes. A box whose caller names no title shows "Lilypad",
// the program's application title.
class Dialogs {
public:
    enum class Answer { Yes, No };
    static inline const QString ApplicationTitle = QStringLiteral("Lilypad");

    virtual ~Dialogs() = default;
    virtual void message(const QString &text, const QString &title) = 0;
    // `defaultAnswer` is what Return (or Enter) gives.
    virtual Answer askYesNo(const QString &text, const QString &title, Answer defaultAnswer = Answer::Yes) = 0;
    // An empty string when the parent cancels, as the platform's input box does.
    virtual QString input(const QString &prompt, const QString &title, const QString &defaultText) = 0;
};
