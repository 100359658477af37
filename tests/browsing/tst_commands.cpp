#include "browsing/TimePictures.h"
#include "browsing/Watchdog.h"
#include "browsing/MainWindow.h"
#include "parents/PreferencesWindow.h"
#include "shell/LocalTextFile.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"
#include "parents/SiteSelectionWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimeZone>
#include <QColorDialog>
#include <QTest>

// The main window's commands and its watchdog, each control driven by a mouse click at its place in the shown window,
// on scripted outside parts.
class tst_Commands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { delete m_window.data(); }
    void controlsAnswerClicksAtTheirPlace_data();
    void controlsAnswerClicksAtTheirPlace();
    void countdownOnTheClocksMinutes();
    void timeUpPictureAndTheGrownUpsChoices_data();
    void timeUpPictureAndTheGrownUpsChoices();
    void tickClosesPromptsEndsBrowsersAndWatchesPopups();
    void keysThatLeaveTheWindowDoNothing();
    void faceTipsShowNamesAsTypedAndFollowARename();

private:
    void start(const QByteArray &controlIni = "pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n");
    FakeBrowserView *view() const { return m_world->views.created.at(0); }
    ProgramState &g() { return m_window->state(); }
    bool closed() const { return m_window.isNull() || !m_window->isVisible(); }
    bool enabled(const char *control) const { return m_window->findChild<QWidget *>(QLatin1String(control))->isEnabled(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedWorld> m_world;
    QPointer<MainWindow> m_window;
};

void tst_Commands::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_world = std::make_unique<ScriptedWorld>();
}

void tst_Commands::start(const QByteArray &controlIni)
{
    const QString folder = m_dir->path() + QStringLiteral("/tadpole/");
    // A public host short enough for the id to reach the status line.
    QVERIFY(QDir().mkpath(folder) && writeFile(folder + "terminate", {}) && writeFile(folder + "control.ini", controlIni)
            && writeFile(folder + "tadpole.conf", "[portal]\npublic=tp.example\n"));
    m_window = new MainWindow(m_world->services(folder.chopped(1), m_dir->path() + QLatin1Char('/')));
    QTRY_VERIFY(m_window->startupFinished());
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_world->launcher.started.clear();
    m_world->closedTitles.clear();
}

void tst_Commands::controlsAnswerClicksAtTheirPlace_data()
{
    QTest::addColumn<QByteArray>("controlIni");
    QTest::addColumn<QList<bool>>("gate");   // the password gate's answers
    QTest::addColumn<QString>("clicks");     // controls clicked in turn; "close" is the close box, "alt+F4" that key ("-held": with repeats)
    QTest::addColumn<QString>("seen");       // what each click did, in order
    const QByteArray plain = "pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n";
    const QByteArray open = "pw=owl\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n";
    const QByteArray locked = "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n";
    const QString menu = QStringLiteral("go:http://127.0.0.1:8642/tad/tad_menu.asp?t=%1&userid={id}");
    // Each case starts on the block page of a blocked address: back first takes it away.
    QTest::newRow("back: off the block page, then in history; forward, refresh") << plain << QList<bool>{}
        << "backButton backButton forwardButton reloadButton" << " | back | forward | refresh";
    QTest::newRow("mail") << plain << QList<bool>{} << "mailButton" << "go:http://tadpolekids.net/mail/mail.asp status:Blocked: http://tadpolekids.net/mail/mail.asp";
    QTest::newRow("donation") << plain << QList<bool>{} << "donateButton" << "go:http://www.tadpolekids.net/donate.htm status:Blocked: http://www.tadpolekids.net/donate.htm";
    // Blocked, the link shows no id: it is this installation's key at the portal.
    QTest::newRow("the message line's link") << plain << QList<bool>{} << "messageLine"
                                             << "go:http://tp.example/tad/tadpole.asp?userid={id} status:Blocked: http://tp.example/tad/tadpole.asp?userid=...";
    QTest::newRow("block page's button behind the gate: refused, then passed") << open << QList<bool>{false, true}
        << "blockPageAskButton blockPageAskButton" << "gate | gate ask:Allow Access|Unblock: http://stranger.example/";
    // No player until the radio is first switched on; the child's view never plays it.
    QTest::newRow("radio on, then off without a word") << plain << QList<bool>{} << "radioButton radioButton"
        << "radio:http://127.0.0.1:8642/tad/radiodis.htm say:Tadpole|Radio PIP is ON and will start playing in a moment!"
           " | radio:about:blank";
    // The faces are off while the parents' windows are open; the menu is
    // reloaded even after a refusal, so the faces and the menu are back either way.
    QTest::newRow("parents: refused, then passed") << open << QList<bool>{false, true} << "parentsButton parentsButton"
        << "gate run:terminate run:terminate " + menu.arg(1) + " | gate sites(faces off) run:terminate run:terminate " + menu.arg(4) + " remembered";
    QTest::newRow("parents without a password") << plain << QList<bool>{} << "parentsButton"
        << "sites(faces off) run:terminate run:terminate " + menu.arg(4) + " remembered";
    QTest::newRow("STOP enabled: the button closes at once") << open << QList<bool>{} << "stopButton" << "run:terminate closed";
    QTest::newRow("STOP disabled: its button and the close box refused, then Alt+F4 and the right password") << locked
        << QList<bool>{false, false, true} << "stopButton close alt+F4" << "gate run:terminate | gate run:terminate | gate run:terminate closed";
    QTest::newRow("STOP disabled, Alt+F4 held down: asked once") << locked << QList<bool>{false} << "alt+F4-held" << "gate run:terminate";
}

void tst_Commands::controlsAnswerClicksAtTheirPlace()
{
    QFETCH(QString, seen);
    start(DATA(QByteArray, controlIni));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://stranger.example/")));
    m_window->clearMessageLine();
    QVERIFY(!m_window->radioView());
    m_world->parents.gateAnswers = DATA(QList<bool>, gate);
    m_world->parents.onSiteSelection = [this](const ParentsContext &context) {
        m_world->parents.shown.last() += enabled("faceButton0") ? "(faces on)" : "(faces off)";
        context.state->currentFace = 3; // the parent left child 4 selected
    };
    auto &w = *m_world;
    qsizetype navigated = view()->navigated.size(), moved = 0, asked = 0, said = 0, shown = 0, ran = 0;
    QString radio, status = m_window->statusLineText();
    bool remembered = false; // the parents' area was opened: its hint is not shown again
    QStringList done;
    const QStringList controls = DATA(QString, clicks).split(' ');
    for (const QString &control : controls) {
        if (control.startsWith("alt+F4")) {
            QTest::keyClick(view()->widget(), Qt::Key_F4, Qt::AltModifier);
            for (int i = 0; control.endsWith("held") && i < 3; ++i) { // the key's repeats
                QKeyEvent repeat(QEvent::KeyPress, Qt::Key_F4, Qt::AltModifier, QString(), true);
                QApplication::sendEvent(view()->widget(), &repeat);
            }
        } else
            control == "close" ? void(m_window->close()) : clickControl(m_window, control);
        if (done.size() + 1 == controls.size() && seen.endsWith("closed"))
            QTRY_VERIFY(closed()); // closing may wait for the event queue
        QTest::qWait(50);
        QStringList step;
        auto take = [&step](qsizetype &from, const auto &list, const QString &prefix, auto word) {
            for (; from < list.size(); ++from)
                step << prefix + word(list.at(from));
        };
        take(shown, w.parents.shown, "", [](const QString &s) { return s; });
        take(ran, w.launcher.started, "run:", [](const QString &s) { return QFileInfo(s).fileName(); });
        if (!m_window.isNull()) {
            take(navigated, view()->navigated, "go:", [this](const QString &s) { return QString(s).replace(g().userId, "{id}"); });
            take(moved, view()->moves, "", [](const QString &s) { return s; });
            if (m_window->statusLineText() != status && (status = m_window->statusLineText()).startsWith("Blocked"))
                step << "status:" + QString(status).replace(g().userId, "{id}");
            if (m_window->radioView() && m_window->radioView()->currentUrl().toString() != radio)
                step << "radio:" + (radio = m_window->radioView()->currentUrl().toString());
            if (!remembered && (remembered = QFileInfo::exists(g().appFolder + "parents.seen")))
                step << "remembered";
        }
        take(asked, w.dialogs.questions, "ask:", [](const ScriptedDialogs::Shown &q) { return q.title + '|' + q.text; });
        take(said, w.dialogs.messages, "say:", [](const ScriptedDialogs::Shown &m) { return m.title + '|' + m.text; });
        if (closed())
            step << "closed";
        done << step.join(' ');
    }
    QCOMPARE(done.join(" | "), seen);
    QVERIFY(m_window.isNull() || view()->navigated.filter("radiodis").isEmpty());
}

void tst_Commands::countdownOnTheClocksMinutes()
{
    // {caption, seconds of wall time passing since the save (at 10:00:20 unless `start` says), how the wall clock was
    // changed meanwhile} -> the line, or "" for none, after "out|" when spent; the warning picture (10, 5, 1 minutes,
    // "out", "" for none); with the allowed hours, the whole-day count and its seconds already used today (negative:
    // yesterday's), and more minutes given just before the last check (negative: at the start).
    const struct {
        const char *caption; qint64 passed = 0, wallChange = 0; const char *line; const char *picture = nullptr;
        const char *hours = ""; bool wholeDay = false; qint64 usedBefore = 0; int grant = 0; const char *start = "10:00:20";
        const char *restarted = nullptr; // the line after a restart, where it is not the same
        qint64 killedFor = -1; // the restart follows a kill, that many seconds later
        const char *count = nullptr; // the day's count as written, in place of usedBefore's seconds
    } rows[] = {
        {"30 minutes", 0, 0, "30 minutes on timer.", ""},
        {"30 minutes", 39, 0, "30 minutes on timer."}, // 10:00:59
        {"30 minutes", 40, 0, "29 minutes on timer."}, // 10:01:00
        {"30 minutes", 20 * 60 - 21, 0, "11 minutes on timer.", ""},
        {"30 minutes", 20 * 60, 0, "10 minutes on timer.", "10"},
        {"30 minutes", 29 * 60 + 39, 0, "1 minutes on timer.", "1"},
        {"30 minutes", 29 * 60 + 40, 0, "out|0 minutes on timer.", "out"}, // 10:30:00, twenty seconds before the stored end
        {"No Limit", 3 * 3600, 0, "", ""},
        {"30 minutes", 600, 3600, "20 minutes on timer."}, // clock set an hour forwards: not out early
        {"30 minutes", 600, -3600, "20 minutes on timer."}, // an hour back: the limit still comes
        {"30 minutes", 31 * 60, -3600, "out|0 minutes on timer."}, // never below nothing
        // Allowed hours warn and end as a limit does, the line staying the limit's.
        {"No Limit", 0, 0, "", "", "07:00-19:30"},
        {"No Limit", 0, 0, "", "5", "07:00-10:05"},
        {"No Limit", 5 * 60, 0, "out|", "out", "07:00-10:05"},
        {"2 Hours", 0, 0, "out|120 minutes on timer.", "out", "19:30-07:00"}, // started outside them
        {"No Limit", 0, 0, "", "", "19:30-07:00", false, 0, 0, "23:00:00"}, // over midnight
        {"1 Hour", 0, 0, "60 minutes on timer.", "1", "07:00-10:02", false, 0, 0, "10:01:50"}, // the nearer end warns
        // More minutes move the end from now, and the allowed hours give way until then.
        {"15 minutes", 15 * 60, 0, "15 minutes on timer.", "", "", false, 0, 15},
        {"No Limit", 5 * 60, 0, "", "10", "07:00-10:05", false, 0, 10},
        // Counted over the whole day: today's time used comes off, yesterday's
        // does not, and midnight starts the whole limit afresh.
        {"30 minutes", 0, 0, "10 minutes on timer.", "10", "", true, 20 * 60},
        {"30 minutes", 5 * 60, 0, "5 minutes on timer.", "5", "", true, 20 * 60},
        {"30 minutes", 0, 0, "30 minutes on timer.", "", "", true, -20 * 60},
        {"30 minutes", 0, 0, "out|0 minutes on timer.", "out", "", true, 45 * 60},
        {"30 minutes", 0, 0, "out|0 minutes on timer.", "out", "", true, 10'000'000'000'000'000}, // a damaged file
        {"30 minutes", 15 * 60, 0, "25 minutes on timer.", "", "", true, 0, 0, "23:50:20"},
        // Locked out over midnight: the new day's time is not used up behind the lock.
        {"30 minutes", 75 * 60, 0, "15 minutes on timer.", "", "", true, 0, 0, "23:00:20", "30 minutes on timer."},
        {"30 minutes", 0, 0, "15 minutes on timer.", "", "", true, 45 * 60, 15}, // more minutes on a spent day
        {"30 minutes", 15 * 60, 0, "25 minutes on timer.", "", "07:00-23:30", true, 0, -30, "23:50:20"}, // ... outlast midnight
        {"15 minutes", 60, -3600, "29 minutes on timer.", "", "", false, 0, -30}, // ... and a clock set back, also after a restart
        // A date set back a day goes on with the day counted; further back, it was a clock put right.
        {"30 minutes", 60, -86400, "4 minutes on timer.", "5", "", true, 25 * 60},
        {"30 minutes", 60, -3 * 86400, "30 minutes on timer.", "", "", true, 25 * 60},
        // Killed, and started again: the time used until shortly before is kept, and once it ran out, still out.
        {"30 minutes", 45, 0, "9 minutes on timer.", "10", "", true, 20 * 60, 0, "10:00:20", nullptr, 0},
        {"30 minutes", 550, 0, "out|0 minutes on timer.", "out", "", true, 1230, 0, "10:00:50", nullptr, 40},
        // A count of today's use that cannot be read is a spent day, not a fresh one.
        {.caption = "30 minutes", .line = "out|0 minutes on timer.", .wholeDay = true, .count = "seconds=abc"},
        {.caption = "30 minutes", .line = "out|0 minutes on timer.", .wholeDay = true, .count = "seconds=-5"},
        {.caption = "30 minutes", .line = "out|0 minutes on timer.", .wholeDay = true, .count = "seconds=99999999999999999999"},
        {.caption = "30 minutes", .line = "out|0 minutes on timer.", .wholeDay = true, .count = "granted=1"},
    };
    static const QStringList pictures{"", "10", "5", "1", "out"}; // in the order of TimeAllowance::Stage
    for (const auto &row : rows) {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        FixedClock clock(QDateTime(QDate(2026, 12, 6), QTime::fromString(QLatin1String(row.start))));
        if (row.usedBefore != 0 || row.count) {
            const QDate day = clock.now().date().addDays(row.usedBefore < 0 ? -1 : 0);
            const QString count = row.count ? QString::fromLatin1(row.count) : "seconds=" + QString::number(qAbs(row.usedBefore));
            QVERIFY(LocalTextFile::writeLines(DailyUsage::fileName(folder), {"day=" + day.toString(Qt::ISODate), count}, nullptr));
        }
        const auto limitFromNow = [&] {
            const QString limit = QString::fromLatin1(row.caption);
            return ParentalSettings{{}, {}, limit, SettingsFile::TimeLimitEnd(limit, clock.now()),
                                    {row.wholeDay, SettingsFile::parseHours(QLatin1String(row.hours))}};
        };
        ParentalSettings settings = limitFromNow();
        auto watchdog = std::make_unique<Watchdog>(Watchdog::Outside{.clock = &clock, .appFolder = folder});
        watchdog->limitSet(settings);
        watchdog->checkTime(settings);
        if (row.grant < 0)
            watchdog->grantMinutes(settings, -row.grant);
        for (qint64 second = 0; second < row.passed; second += 60) { // a check at least every minute
            clock.pass(std::min<qint64>(60, row.passed - second) * 1000);
            if (second == 0)
                clock.at = clock.at.addSecs(row.wallChange);
            watchdog->checkTime(settings);
        }
        if (row.grant > 0)
            watchdog->grantMinutes(settings, row.grant);
        const Watchdog::TimeCheck check = watchdog->checkTime(settings);
        const QString line = (check.ranOut ? QStringLiteral("out|") : QString()) + check.countdown.value_or(QString());
        const QString what = QStringLiteral("%1 after %2 s from %3: ").arg(row.caption).arg(row.passed).arg(row.start);
        QVERIFY2(line == QLatin1String(row.line), qPrintable(what + line));
        QVERIFY2(!row.picture || pictures.value(int(check.stage)) == QLatin1String(row.picture), qPrintable(what + pictures.value(int(check.stage))));
        if (row.wholeDay || row.grant) { // closed and started again: the same time is left, more minutes too
            const QByteArray onDisk = readFile(DailyUsage::fileName(folder));
            watchdog.reset();
            if (row.killedFor >= 0) {
                QVERIFY(writeFile(DailyUsage::fileName(folder), onDisk));
                clock.pass(row.killedFor * 1000);
            }
            ParentalSettings again = limitFromNow();
            Watchdog restarted({.clock = &clock, .appFolder = folder});
            restarted.limitSet(again);
            const std::optional<QString> expected = row.restarted ? QString::fromLatin1(row.restarted) : check.countdown;
            QVERIFY2(restarted.checkTime(again).countdown == expected, qPrintable(what + "after a restart"));
        }
    }
    // In the hour a clock set back repeats: 75 minutes saved at 00:50 summer time end at 01:05 winter time.
    const QDateTime saved(QDate(2026, 10, 25), QTime(0, 50), QTimeZone("Europe/London"));
    QCOMPARE(Watchdog::minutesRemaining(saved.addSecs(30 * 60), saved.addSecs(75 * 60)), 45);
    // Allowed hours that end in the hour the clocks skip end that long after midnight, not at once.
    const QTimeZone newYork("America/New_York");
    QCOMPARE(TimeAllowance::hoursEnd(SettingsFile::parseHours("19:30-02:30"), QDateTime(QDate(2026, 3, 7), QTime(20, 0), newYork)),
             QDateTime(QDate(2026, 3, 8), QTime(3, 30), newYork));
}

void tst_Commands::timeUpPictureAndTheGrownUpsChoices_data()
{
    QTest::addColumn<QByteArray>("controlIni");
    // In the parents' area: "save:LIMIT" in the preferences, "pass" (the limit runs out there); "start": out from the start;
    // "forward": the clock set 20 minutes forwards while start-up waits for the children's names; "refuse": the gate refuses.
    QTest::addColumn<QString>("inTheArea");
    QTest::addColumn<QStringList>("clicks"); // once the time ran out (unless it runs out in the area)
    QTest::addColumn<QString>("after");      // the message line, or "closed"
    const auto row = [](const char *name, const QString &inTheArea, const QStringList &clicks, const QString &after,
                        const QByteArray &controlIni = "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\n") {
        QTest::newRow(name) << controlIni << inTheArea << clicks << after;
    };
    row("30 more minutes", "", {"grownUpButton", "moreMinutes30"}, "30 minutes on timer.");
    row("a clock set forwards during start-up takes no time", "forward", {"grownUpButton", "moreMinutes15"}, "15 minutes on timer.");
    row("a refused gate offers nothing", "refuse", {"grownUpButton"}, "Time Ran Out");
    row("choices left open go again", "", {"grownUpButton", "later"}, "Time Ran Out");
    row("... also over a sleep of the machine", "", {"grownUpButton", "asleep"}, "Time Ran Out");
    row("End for today closes as STOP does", "", {"grownUpButton", "endForToday"}, "closed");
    row("outside the allowed hours from the start, then 15 more minutes", "start", {"grownUpButton", "moreMinutes15"}, "",
        "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\nhours=19:30-07:00\r\n");
    row("STOP free: the message, then the close", "", {}, "closed", "pw=owl\r\nstop=0\r\nstart=0\r\ntimer=15 minutes\r\n");
    // Saved preferences apply at once; no gate comes back by itself.
    row("No Limit saved in the parents' area frees the child at once", "save:No Limit", {"parentsButton"}, "");
    row("a new limit saved frees the child at once", "save:30 minutes", {"parentsButton"}, "30 minutes on timer.");
    row("the time-out waits while the parent is in the area", "pass", {"parentsButton"}, "Time Ran Out");
}

void tst_Commands::timeUpPictureAndTheGrownUpsChoices()
{
    QFETCH(QString, inTheArea);
    QFETCH(QStringList, clicks);
    QFETCH(QString, after);
    m_world->transport.onFetch = [&](const QString &address) {
        if (inTheArea == "forward" && address.contains("tad_getface.asp"))
            m_world->clock.at = m_world->clock.at.addSecs(20 * 60);
    };
    start(DATA(QByteArray, controlIni));
    m_world->parents.gateAnswers = {inTheArea != "refuse"};
    const bool stopFree = clicks.isEmpty();
    QCOMPARE(m_window->lockedOut(), inTheArea == "start");
    auto *chooser = new QColorDialog(view()->widget()); // a page's colour chooser, open as the time runs out
    if (inTheArea != "pass" && inTheArea != "start") {
        chooser->open();
        m_world->clock.pass(15 * 60 * 1000);
        QTRY_VERIFY_WITH_TIMEOUT(closed() || m_window->lockedOut(), 3000);
    }
    if (!stopFree && m_window->lockedOut()) {
        // The picture, and no box, not even the page's: the line that says so stays readable; the child's parts and the
        // radio are off, and the page still running behind the picture opens no window and is not heard.
        QVERIFY(m_world->dialogs.messages.isEmpty() && m_window->findChild<QWidget *>("timeUpPicture")->isVisible());
        QVERIFY(!chooser->isVisible());
        chooser->open(); // the page, still running, opens it again
        QTRY_VERIFY(!chooser->isVisible());
        QVERIFY(!view()->simulateNewWindow().newWindow);
        QVERIFY2(enabled("messageLine") && m_window->messageLineText() == "Time Ran Out", qPrintable(m_window->messageLineText()));
        QVERIFY(!enabled("radioButton") && !enabled("faceButton1") && !enabled("helpButton") && !view()->widget()->isEnabled() && view()->muted);
    }
    bool lockedInTheArea = false;
    m_world->parents.onSiteSelection = [&](const ParentsContext &context) {
        if (inTheArea == "pass")
            m_world->clock.pass(16 * 60 * 1000);
        PreferencesWindow preferences(context);
        if (inTheArea.startsWith("save:")) {
            preferences.show();
            QVERIFY(QTest::qWaitForWindowExposed(&preferences));
            clickAt(preferences.findChild<QWidget *>("timeLimitBox"));
            QTest::keySequence(QApplication::focusWidget(), QKeySequence::SelectAll);
            QTest::keyClicks(QApplication::focusWidget(), inTheArea.mid(5));
            clickAt(preferences.findChild<QWidget *>("saveButton"));
        }
        QTest::qWait(1500); // ticks go on in the area
        lockedInTheArea = m_window->lockedOut();
    };
    for (const QString &control : clicks) {
        if (control == "later") // the grown-up walked away
            m_world->clock.pass(TimePictures::ChoicesShownMs + 1000);
        else if (control == "asleep") // the machine slept: its wall clock alone moves
            m_world->clock.at = m_world->clock.at.addMSecs(TimePictures::ChoicesShownMs + 1000);
        else
            clickControl(m_window, control);
        QTest::qWait(control == "later" || control == "asleep" ? 1500 : 0);
    }
    QVERIFY(!lockedInTheArea);
    if (after == "closed") {
        QTRY_VERIFY(closed());
        QCOMPARE(m_world->launcher.started.filter("terminate").size(), 1);
        QCOMPARE(m_world->dialogs.messages.size(), stopFree ? 1 : 0);
        QCOMPARE(m_world->parents.shown.count("gate"), stopFree ? 0 : 1); // a free STOP asks no password
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_window->messageLineText(), after, 1500);
    const bool freed = after != "Time Ran Out";
    QCOMPARE(m_window->lockedOut(), !freed);
    QCOMPARE(m_window->findChild<QWidget *>("timeUpPicture")->isVisible(), !freed);
    QCOMPARE(m_window->findChild<QWidget *>("moreMinutes15")->isVisible(), false);
    QCOMPARE(m_window->findChild<QWidget *>("grownUpButton")->isVisible(), !freed);
    QCOMPARE(enabled("radioButton") && enabled("faceButton1") && view()->widget()->isEnabled() && !view()->muted, freed);
    QVERIFY(m_world->parents.shown.count("gate") == 1 && m_world->dialogs.messages.isEmpty());
}

void tst_Commands::tickClosesPromptsEndsBrowsersAndWatchesPopups()
{
    // A process tree of our own: one other browser running.
    QTemporaryDir proc;
    QVERIFY(QDir().mkpath(proc.filePath(QStringLiteral("4242"))));
    QVERIFY(QFile::link(QStringLiteral("/usr/bin/firefox"), proc.filePath(QStringLiteral("4242/exe"))));
    m_world->procRoot = proc.path();
    start();
    QTRY_VERIFY_WITH_TIMEOUT(m_world->closedTitles.size() >= 2, 3000);
    QCOMPARE(m_world->closedTitles.mid(0, 2), QStringList({"Security Warning", "File Download"}));
    QCOMPARE(m_world->launcher.started.value(0), g().appFolder + QStringLiteral("terminate"));

    // While a pop-up exists (hidden ones too) back, forward, refresh and the
    // parents' button are off; the next tick after it closes brings them back.
    QPointer<BrowserView> popup = view()->simulateNewWindow().newWindow;
    QTRY_VERIFY_WITH_TIMEOUT(!enabled("parentsButton"), 3000);
    QVERIFY(!enabled("backButton") && !enabled("forwardButton") && !enabled("reloadButton") && enabled("stopButton"));
    popup->parent()->deleteLater();
    QTRY_VERIFY_WITH_TIMEOUT(enabled("parentsButton"), 3000);
}

void tst_Commands::keysThatLeaveTheWindowDoNothing()
{
    // Copy, paste, typing and Alt+Left stay; the rest would leave the window or show its insides, locked or not.
    const QStringList forbidden = QStringLiteral("Ctrl+N Ctrl+T Ctrl+U F12 Ctrl+Shift+I Ctrl+S Ctrl+P Ctrl+Shift+N").split(' ');
    // What reaches the page's widget after the application's filters.
    struct Recorder : QObject {
        QList<int> keys;
        bool eventFilter(QObject *, QEvent *e) override
        {
            const int key = e->type() == QEvent::KeyPress ? static_cast<QKeyEvent *>(e)->key() : 0;
            if (key && key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt) // QTest presses those first
                keys << key;
            return false;
        }
    } recorder;
    for (const char *stop : {"0", "1"}) {
        cleanup(); // a window and a world of its own for each
        init();
        start("pw=owl\r\nstop=" + QByteArray(stop) + "\r\nstart=0\r\ntimer=0\r\n");
        view()->widget()->setFocusPolicy(Qt::StrongFocus);
        view()->widget()->installEventFilter(&recorder);
        for (const QString &keys : forbidden + QStringList{"Ctrl+C", "Ctrl+V", "A", "Alt+Left"}) {
            recorder.keys.clear();
            QTest::keySequence(view()->widget(), QKeySequence(keys));
            QVERIFY2(recorder.keys.isEmpty() == forbidden.contains(keys), qPrintable(keys + " with stop=" + stop));
        }
    }
    // Locked, the other screen shows a blank cover of ours and nothing a click could reach (ctest gives two screens).
    const auto covers = [] {
        QList<QRect> shown;
        for (const QWidget *widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("screenCover") && widget->isVisible())
                shown << widget->geometry();
        return shown;
    };
    QVERIFY2(QGuiApplication::screens().size() == 2, "two screens are needed, as ctest gives: see CONTRIBUTING.md");
    QTRY_COMPARE(covers(), QList<QRect>{QRect(800, 0, 800, 600)});
}

void tst_Commands::faceTipsShowNamesAsTypedAndFollowARename()
{
    // A rename in the parents' area reaches the face at once; markup in it shows as typed, never bold nor as a picture.
    m_world->transport.replies.insert("tad_saveface.asp", FetchResult::success("ok"));
    start();
    m_world->dialogs.inputs = {QStringLiteral("<b>Big</b> <img src=x>")};
    m_world->parents.onSiteSelection = [](const ParentsContext &context) {
        SiteSelectionWindow window(context);
        window.show();
        clickAt(window.findChild<QWidget *>(QStringLiteral("faceImage1")), Qt::RightButton);
    };
    clickControl(m_window, QStringLiteral("parentsButton"));
    const QString tip = m_window->faceToolTip(1); // read as the child sees it: a tip shows as rich text when it looks like some
    QTextDocument shown;
    Qt::mightBeRichText(tip) ? shown.setHtml(tip) : shown.setPlainText(tip);
    QCOMPARE(shown.toPlainText(), QStringLiteral("<b>Big</b> <img src=x>'s Menu"));
}

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
