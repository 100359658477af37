#pragma once

#include "browsing/TimeAllowance.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class Clock;
class QLabel;
class QPushButton;
class QWidget;

// The pictures that tell a child who cannot read about the time: a pond in
// the toolbar that drains from 10 minutes left until the end, a "time to
// finish" picture over the page at 1 minute that goes away by itself, and the
// "time is up" picture with the grown-up's button and its choices.
class TimePictures : public QObject {
public:
    struct Actions {
        std::function<bool()> askGrownUp;         // the password gate where one is set
        std::function<void(int minutes)> moreMinutes;
        std::function<void()> endForToday;
        const Clock *clock = nullptr;
    };
    static constexpr int FinishShownMs = 8000;
    // A grown-up's choices left open go again after this long, before the
    // child finds them in place of the grown-up's button; also when the wall
    // clock has moved on that far (the machine slept meanwhile).
    static constexpr qint64 ChoicesShownMs = 30000;

    // The pictures cover `area` but for its `keepTop` pixels (the toolbar,
    // where the parents' and STOP buttons stay at hand) and its `keepBottom`
    // ones (the message and status lines); the pond sits left of `countdownAnchor`.
    TimePictures(QWidget *area, QWidget *countdownAnchor, int keepTop, int keepBottom, Actions actions);

    // Each tick: the stage of the time, and the choices' time running out.
    void showStage(TimeAllowance::Stage stage);
    void showTimeUp(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();
    QWidget *finishPicture();
    QWidget *timeUpPicture();
    void onGrownUpClicked();

    QWidget *m_area;
    QPointer<QWidget> m_anchor;
    int m_keepTop;
    int m_keepBottom;
    Actions m_actions;
    QLabel *m_countdown = nullptr;
    QWidget *m_finishPicture = nullptr;
    QWidget *m_timeUpPicture = nullptr;
    QPushButton *m_grownUpButton = nullptr;
    QWidget *m_choices = nullptr;
    QTimer m_finishTimer;
    qint64 m_choicesShownAt = 0;
    QDateTime m_choicesShownWall;
    TimeAllowance::Stage m_stage = TimeAllowance::Stage::None;
};
