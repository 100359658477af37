#include "support/FakeBrowserView.h"
#include "browsing/ShortcutGuard.h"
#include "browsing/Watchdog.h"
#include "browsing/MainWindow.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"

#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

// The main window's commands and its watchdog, each control driven by a mouse
// click at its place in the shown window, on scripted outside parts.
class tst_Commands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void everyControlAnswersAClickAtItsPlace_data();
    void everyControlAnswersAClickAtItsPlace();
    void stopPath_data();
    void stopPath();
    void parentsButtonGatesTheSiteSelectionAndReloadsTheMenu();
    void radioSwitchesOnWithAMessageThenOffWithout();
    void countdownOnTheClocksMinutes();
    void spentLimitLocksTheChildOutUntilAGate();
    void tickClosesPromptsEndsBrowsersAndWatchesPopups();
    void keysThatLeaveTheWindowDoNothing();

private:
    void start(const QByteArray &controlIni = "pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n");
    void click(const QString &control);
    FakeBrowserView *view() const { return m_world->views.created.at(0); }
    ProgramState &g() { return m_window->state(); }
    bool closed() const { return m_window.isNull() || !m_window->isVisible(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedWorld> m_world;
    QPointer<MainWindow> m_window;
};

void tst_Commands::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_world = std::make_unique<ScriptedWorld>();
}

void tst_Commands::cleanup()
{
    delete m_window.data();
}

void tst_Commands::start(const QByteArray &controlIni)
{
    const QString folder = m_dir->path() + QStringLiteral("/tadpole/");
    QDir().mkpath(folder);
    QFile(folder + QStringLiteral("terminate")).open(QIODevice::WriteOnly);
    QFile ini(folder + QStringLiteral("control.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(controlIni) == controlIni.size());
    ini.close();
    m_window = new MainWindow(m_world->services(folder.chopped(1), m_dir->path() + QLatin1Char('/')));
    QTRY_VERIFY(m_window->startupFinished());
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_world->launcher.started.clear();
    m_world->closedTitles.clear();
}

void tst_Commands::click(const QString &control)
{
    clickControl(m_window, control);
}

void tst_Commands::everyControlAnswersAClickAtItsPlace_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("navigated"); // the child's view's next address; "" for none
    QTest::addColumn<QString>("seen");      // what else the click did, in the view's or a dialog's words
    const QString id = QStringLiteral("{id}");
    QTest::newRow("back") << "backButton" << "" << "back";
    QTest::newRow("forward") << "forwardButton" << "" << "forward";
    QTest::newRow("refresh") << "reloadButton" << "" << "refresh";
    QTest::newRow("help") << "helpButton" << "http://www.tadpolekids.net/" << "";
    QTest::newRow("mail") << "mailButton" << "http://tadpolekids.net/mail/mail.asp" << "";
    QTest::newRow("donation") << "donateButton" << "http://www.tadpolekids.net/donate.htm" << "";
    QTest::newRow("face 3") << "faceButton2" << "http://127.0.0.1:8642/tad/tad_menu.asp?t=3&userid={id}" << "";
    QTest::newRow("status line of a blocked address") << "statusLine" << "" << "Allow Access|Unblock: http://stranger.example/";
}

void tst_Commands::everyControlAnswersAClickAtItsPlace()
{
    QFETCH(QString, control);
    QFETCH(QString, navigated);
    QFETCH(QString, seen);
    start();
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://stranger.example/")));
    const qsizetype before = view()->navigated.size();
    click(control);
    QCOMPARE(view()->navigated.mid(before).join(' '), QString(navigated).replace("{id}", g().userId));
    QStringList done;
    for (const auto &[count, word] : {std::pair{view()->backCount, "back"}, {view()->forwardCount, "forward"},
                                      {view()->refreshCount, "refresh"}})
        if (count)
            done << QLatin1String(word);
    for (const ScriptedDialogs::Shown &q : m_world->dialogs.questions)
        done << q.title + '|' + q.text;
    QCOMPARE(done.join(' '), seen);

    // The message line's link goes to the portal's own information page.
    m_window->clearMessageLine();
    m_window->setStatusLine(QString());
    click(QStringLiteral("messageLine"));
    QCOMPARE(view()->navigated.last(), "http://www.tadpoleportal.net/tad/tadpole.asp?userid=" + g().userId);
}

void tst_Commands::stopPath_data()
{
    QTest::addColumn<QByteArray>("controlIni");
    QTest::addColumn<QString>("how");      // "button" or "window manager"
    QTest::addColumn<QList<bool>>("gate"); // the gate's answers
    QTest::addColumn<bool>("closes");
    const QByteArray locked = "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n";
    const QByteArray open = "pw=owl\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n";
    QTest::newRow("STOP enabled: the button closes at once") << open << "button" << QList<bool>{} << true;
    QTest::newRow("STOP enabled: so does the close box") << open << "window manager" << QList<bool>{} << true;
    QTest::newRow("STOP disabled, right password") << locked << "button" << QList<bool>{true} << true;
    QTest::newRow("STOP disabled, refused") << locked << "button" << QList<bool>{false} << false;
    QTest::newRow("STOP disabled, close box, refused") << locked << "window manager" << QList<bool>{false} << false;
    QTest::newRow("STOP disabled, close box, right password") << locked << "window manager" << QList<bool>{true} << true;
}

void tst_Commands::stopPath()
{
    QFETCH(QByteArray, controlIni);
    QFETCH(QString, how);
    QFETCH(QList<bool>, gate);
    QFETCH(bool, closes);
    start(controlIni);
    m_world->parents.gateAnswers = gate;
    if (how == QLatin1String("button"))
        click(QStringLiteral("stopButton"));
    else
        m_window->close(); // the close box and Alt+F4 arrive as this close request
    QTRY_COMPARE(m_world->parents.shown.size(), gate.size()); // the gate, only when STOP is disabled
    QTRY_COMPARE(closed(), closes);
    QTest::qWait(50);
    QCOMPARE(closed(), closes);
    QCOMPARE(m_world->launcher.started, QStringList{g().appFolder + QStringLiteral("terminate")});
}

void tst_Commands::parentsButtonGatesTheSiteSelectionAndReloadsTheMenu()
{
    start("pw=owl\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
    bool facesOffMeanwhile = false;
    m_world->parents.onSiteSelection = [&](const ParentsContext &context) {
        facesOffMeanwhile = !m_window->findChild<QWidget *>(QStringLiteral("faceButton0"))->isEnabled();
        context.state->currentFace = 3; // the parent left child 4 selected
    };
    for (const bool right : {false, true}) {
        m_world->parents.gateAnswers = {right};
        m_world->parents.shown.clear();
        const qsizetype before = view()->navigated.size();
        click(QStringLiteral("parentsButton"));
        QCOMPARE(m_world->parents.shown, right ? QStringList({"gate", "sites"}) : QStringList{"gate"});
        // Reloaded even after a refusal, so the faces and the menu are back either way.
        QCOMPARE(view()->navigated.mid(before).size(), 1);
        QVERIFY(view()->navigated.last().contains(right ? "t=4" : "t=1"));
        QVERIFY(m_window->findChild<QWidget *>(QStringLiteral("faceButton0"))->isEnabled());
    }
    QVERIFY(facesOffMeanwhile);

    // Without a password the site selection opens at once.
    g().settings.Password.clear();
    m_world->parents.shown.clear();
    click(QStringLiteral("parentsButton"));
    QCOMPARE(m_world->parents.shown, QStringList{"sites"});
    QCOMPARE(m_world->launcher.started.size(), 6); // each press, and each menu reload after it
}

void tst_Commands::radioSwitchesOnWithAMessageThenOffWithout()
{
    start();
    QVERIFY(!m_window->radioView()); // no player until the radio is first switched on
    click(QStringLiteral("radioButton"));
    QVERIFY(m_window->radioView());
    QCOMPARE(m_window->radioView()->currentUrl().toString(), QStringLiteral("http://www.tadpoleportal.net/tad/radiodis.htm"));
    QCOMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(m_world->dialogs.messages.at(0).text + '|' + m_world->dialogs.messages.at(0).title,
             QStringLiteral("Radio PIP is ON and will start playing in a moment!|Tadpole"));
    click(QStringLiteral("radioButton"));
    QCOMPARE(m_window->radioView()->currentUrl().toString(), QStringLiteral("about:blank"));
    QCOMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(view()->navigated.filter("radiodis").size(), 0); // the child's view never plays it
}

void tst_Commands::countdownOnTheClocksMinutes()
{
    // {caption, seconds of wall time passing since the save at 10:00:20, how
    // the wall clock was changed meanwhile} -> the line, or "" for none; "out" when spent.
    const struct { const char *caption; qint64 passed, wallChange; const char *line; } rows[] = {
        {"30 minutes", 0, 0, "30 minutes on timer."},
        {"30 minutes", 39, 0, "30 minutes on timer."}, // 10:00:59
        {"30 minutes", 40, 0, "29 minutes on timer."}, // 10:01:00
        {"30 minutes", 29 * 60 + 39, 0, "1 minutes on timer."},
        {"30 minutes", 29 * 60 + 40, 0, "out"}, // 10:30:00, twenty seconds before the stored end
        {"2 Hours", 0, 0, "120 minutes on timer."},
        {"No Limit", 3 * 3600, 0, ""},
        {"20 minutes", 3 * 3600, 0, ""}, // not a caption: no limit
        {"", 0, 0, ""}, // no time-limit setting at all
        {"30 minutes", 600, 3600, "20 minutes on timer."}, // clock set an hour forwards: not out early
        {"30 minutes", 600, -3600, "20 minutes on timer."}, // an hour back: the limit still comes
        {"30 minutes", 31 * 60, -3600, "out"},
    };
    for (const auto &row : rows) {
        FixedClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 0, 20)));
        ParentalSettings settings;
        settings.TimeLimit = QString::fromLatin1(row.caption);
        settings.LimitEnd = SettingsFile::TimeLimitEnd(settings.TimeLimit, clock.now());
        Watchdog watchdog({.clock = &clock});
        watchdog.checkTime(settings);
        for (qint64 second = 0; second < row.passed; second += 60) { // a check at least every minute
            clock.pass(std::min<qint64>(60, row.passed - second) * 1000);
            if (second == 0)
                clock.at = clock.at.addSecs(row.wallChange);
            watchdog.checkTime(settings);
        }
        const Watchdog::TimeCheck check = watchdog.checkTime(settings);
        const QString line = check.ranOut ? QStringLiteral("out") : check.countdown.value_or(QString());
        QVERIFY2(line == QLatin1String(row.line), qPrintable(QStringLiteral("%1 after %2 s: %3").arg(row.caption).arg(row.passed).arg(line)));
    }
}

void tst_Commands::spentLimitLocksTheChildOutUntilAGate()
{
    start("pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\n");
    m_world->clock.pass(15 * 60 * 1000);
    m_world->parents.gateAnswers = {false}; // the STOP gate at the time-out
    QTRY_COMPARE_WITH_TIMEOUT(m_world->dialogs.messages.size(), 1, 3000);
    QCOMPARE(m_world->dialogs.messages.at(0).text, QStringLiteral("Time Ran Out"));
    QVERIFY(!closed());
    QVERIFY(!m_window->timerRunning());
    QCOMPARE(m_window->messageLineText(), QStringLiteral("Time Ran Out"));
    for (const char *control : {"faceButton1", "backButton", "helpButton"})
        QVERIFY2(!m_window->findChild<QWidget *>(QLatin1String(control))->isEnabled(), control);
    QVERIFY(!view()->widget()->isEnabled());

    // A parent passes the gate from the parents' button: the child gets the
    // window back and the timer runs again; with the limit still spent, its
    // next tick says so once more.
    m_world->parents.gateAnswers = {true, false};
    click(QStringLiteral("parentsButton"));
    QVERIFY(view()->widget()->isEnabled());
    QVERIFY(m_window->timerRunning());
    QTRY_COMPARE_WITH_TIMEOUT(m_world->dialogs.messages.size(), 2, 3000);
    QVERIFY(m_window->lockedOut());
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
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<QWidget *>(QStringLiteral("parentsButton"))->isEnabled(), 3000);
    for (const char *control : {"backButton", "forwardButton", "reloadButton"})
        QVERIFY(!m_window->findChild<QWidget *>(QLatin1String(control))->isEnabled());
    QVERIFY(m_window->findChild<QWidget *>(QStringLiteral("stopButton"))->isEnabled());
    popup->parent()->deleteLater();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->findChild<QWidget *>(QStringLiteral("parentsButton"))->isEnabled(), 3000);
}

void tst_Commands::keysThatLeaveTheWindowDoNothing()
{
    start();
    const struct { int key; Qt::KeyboardModifiers modifiers; bool forbidden; } rows[] = {
        {Qt::Key_N, Qt::ControlModifier, true}, {Qt::Key_T, Qt::ControlModifier, true},
        {Qt::Key_U, Qt::ControlModifier, true}, {Qt::Key_F12, {}, true},
        {Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier, true}, {Qt::Key_S, Qt::ControlModifier, true},
        {Qt::Key_P, Qt::ControlModifier, true}, {Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, true},
        {Qt::Key_C, Qt::ControlModifier, false}, {Qt::Key_V, Qt::ControlModifier, false}, // copy and paste stay
        {Qt::Key_A, {}, false}, {Qt::Key_Left, Qt::AltModifier, false},
    };
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
    view()->widget()->setFocusPolicy(Qt::StrongFocus);
    view()->widget()->installEventFilter(&recorder);
    for (const auto &row : rows) {
        recorder.keys.clear();
        QTest::keyClick(view()->widget(), Qt::Key(row.key), row.modifiers);
        QVERIFY2(recorder.keys.isEmpty() == row.forbidden, qPrintable(QKeySequence(row.key | row.modifiers).toString()));
    }
}

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
