#include "E2eSupport.h"
#include "X11Desktop.h"
#include "support/VirtualDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/OtherProgramsWindow.h"
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

using namespace desktopTools;

namespace {

const char MainTitle[] = "Tadpole 2.0"; // the main window: the program and its short version
const QByteArray Locked = "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n";
const QByteArray Unlocked = "pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n";

} // namespace

// The real browser program on a virtual X server (and on a Wayland desktop) against the real portal: its watchdog closes
// other programs' prompts and ends other browsers, every way of closing or leaving a locked window goes through the
// parent's password, and the time's warnings show under a fast clock.
class tst_E2eDesktop : public QObject {
    Q_OBJECT

    VirtualDisplay m_screen;
    Display *m_x = nullptr;
    PortalProcess m_portal;
    std::unique_ptr<ProgramFolder> m_folder;
    QProcess m_browser;
    QProcess m_windowManager;

    // The program on the virtual display, with its control.ini (and timeused.txt where given) and the
    // environment's changes (an empty value unsets), under faketime where `clock` is given; up once its first
    // menu was asked for (the watchdog ticks from then on) and, on X11, once its window shows.
    bool startBrowser(const QByteArray &controlIni, const QByteArray &browserNames = "no-such-browser-here",
                      const QHash<QString, QString> &environment = {}, const QString &clock = {}, const QByteArray &timeUsed = {})
    {
        m_folder = std::make_unique<ProgramFolder>(m_portal.host(), browserNames);
        if (!m_folder->write(QStringLiteral("control.ini"), controlIni)
            || (!timeUsed.isEmpty() && !m_folder->write(QStringLiteral("timeused.txt"), timeUsed)))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            it.value().isEmpty() ? env.remove(it.key()) : env.insert(it.key(), it.value());
        m_browser.setProcessEnvironment(env);
        // The portal's log holds the earlier programs' menus too: up once one more was asked for.
        const auto menus = [&] { return m_portal.requests(m_portal.host()).filter(QStringLiteral("tad_menu.asp")).size(); };
        const qsizetype menusBefore = menus();
        const QString program = m_folder->path(QStringLiteral("tadpole"));
        clock.isEmpty() ? m_browser.start(program, {QStringLiteral("1")})
                        : m_browser.start(QStringLiteral("faketime"), {QStringLiteral("-f"), clock, program, QStringLiteral("1")});
        const QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return m_browser.waitForStarted() && e2e::waitFor([&] { return menus() > menusBefore; }, 60000)
            && (platform != QLatin1String("xcb") || e2e::waitFor([&] { return shown(MainTitle); }, 10000));
    }
private slots:
    void initTestCase()
    {
        if (m_screen.name().isEmpty())
            QSKIP("Xvfb could not be started: other programs' windows need a real X server");
        qputenv("DISPLAY", m_screen.name()); // for the browser and the tools this test runs
        QVERIFY(m_portal.startFresh());
        QVERIFY(m_x = XOpenDisplay(m_screen.name().constData()));
        // A window may vanish before a request about it; Xlib's default answer to that error ends the test program.
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    }
    void cleanup()
    {
        m_browser.kill();
        m_browser.waitForFinished(5000);
    }
    void cleanupTestCase()
    {
        m_windowManager.kill();
        m_windowManager.waitForFinished(5000);
        if (m_x)
            XCloseDisplay(m_x);
    }

    void closesForeignPromptsAndEndsOtherBrowsers()
    {
        const qsizetype logged = m_portal.requests(m_portal.host()).size();
        QVERIFY(startBrowser(Unlocked, "firefox"));
        // The portal's pages in start-up's order: the start page is asked for before the log-on.
        const QStringList pages = m_portal.requests(m_portal.host()).mid(logged).replaceInStrings(QRegularExpression(QStringLiteral("\\?.*")), QString());
        QCOMPARE(pages.filter(QRegularExpression(QStringLiteral("^/tad/[^/]*$"))).join(QLatin1Char(' ')),
                 QStringLiteral("/tad/version.htm /tad/tad_start.asp /tad/tad_visit.asp /tad/tad_getface.asp /tad/tad_menu.asp"));
        const Window prompt = otherProgramsWindow(m_x, "File Download");
        auto destroy = qScopeGuard([&] { XDestroyWindow(m_x, prompt); XFlush(m_x); });
        const Atom deleteWindow = XInternAtom(m_x, "WM_DELETE_WINDOW", False);
        XEvent event;
        QVERIFY2(e2e::waitFor([&] {
            return XCheckTypedWindowEvent(m_x, prompt, ClientMessage, &event) && Atom(event.xclient.data.l[0]) == deleteWindow;
        }, 1500), "the download prompt was not asked to close within 1.5 s");

        // Another web browser: a copy of sleep under the browser's name.
        const QString firefox = m_folder->path(QStringLiteral("firefox"));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), firefox));
        QProcess other;
        other.start(firefox, {QStringLiteral("60")});
        QVERIFY2(other.waitForStarted() && other.waitForFinished(3000), "the other browser still ran after 3 s");
        QCOMPARE(m_browser.state(), QProcess::Running);
    }

    void lockedWindowCannotBeLeft()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("openbox and xdotool are needed to leave a window as a child would");
        m_windowManager.start(QStringLiteral("openbox"), {});
        QVERIFY(m_windowManager.waitForStarted() && e2e::waitFor([] { // up once it has named its window on the root window
            return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}).contains(QLatin1String("window id"));
        }, 10000));
        QVERIFY(startBrowser(Locked));
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 10000), qPrintable(activeTitle()));
        const QByteArray said = m_browser.readAllStandardError(); // quiet unless asked: no engine report
        QVERIFY2(!said.contains("webenginecontext") && !said.contains("Init Parameters") && !said.contains(":ERROR:"), said.constData());
        const QString main = xdotool({QStringLiteral("getactivewindow")});
        QVERIFY2(windowState(main).contains(QLatin1String("_NET_WM_STATE_FULLSCREEN")), qPrintable(windowState(main)));
        QVERIFY(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000));

        // Another program's window, as a child would find one on the desktop.
        const Window other = otherProgramsWindow(m_x, "Other Program");
        auto destroy = qScopeGuard([&] { XDestroyWindow(m_x, other); XFlush(m_x); });
        // The focus moves to it, and the report of a grab of ours comes just after (as when the window comes back from
        // being minimised): Qt believes the window has the focus still. The window takes it back.
        const auto focused = [&] { Window at = 0; int revert = 0; XGetInputFocus(m_x, &at, &revert); return at; };
        XWindowAttributes shows{};
        QVERIFY(e2e::waitFor([&] { return XGetWindowAttributes(m_x, other, &shows) && shows.map_state == IsViewable; }, 3000));
        XSetInputFocus(m_x, other, RevertToParent, CurrentTime);
        XEvent grabbed{};
        grabbed.xfocus = {FocusIn, 0, True, m_x, Window(main.toULong()), NotifyGrab, NotifyAncestor};
        XSendEvent(m_x, Window(main.toULong()), False, NoEventMask, &grabbed);
        XFlush(m_x);
        QVERIFY2(e2e::waitFor([&] { return focused() == main.toULong(); }, 5000), qPrintable(QString::number(focused())));
        for (int i = 0; i < 100; ++i, usleep(10'000)) // and keeps the keyboard, not letting go for a moment now and then
            QVERIFY2(keyboardHeld(m_x), qPrintable(QStringLiteral("let go after %1 ms").arg(i * 10)));
        const struct { const char *name; QStringList escape; } escapes[] = {
            {"minimised", {QStringLiteral("windowminimize"), main}},
            {"another program's window activated", {QStringLiteral("windowactivate"), QString::number(other)}},
            {"Alt+Tab", {QStringLiteral("key"), QStringLiteral("alt+Tab")}},
            {"Super", {QStringLiteral("key"), QStringLiteral("super")}},
            {"Alt and the wheel: another desktop", QStringLiteral("mousemove 300 400 keydown alt click 5 keyup alt").split(' ')},
            {"a page's menu closed, then at once Super+D", QStringLiteral("click 3 sleep 0.5 key Escape sleep 0.1 key super+d").split(' ')},
        };
        desktopWasShown(m_x);
        for (const auto &escape : escapes) {
            xdotool(escape.escape);
            QVERIFY2(e2e::waitFor([&] { return activeTitle() == QLatin1String(MainTitle) && !windowState(main).contains(QLatin1String("HIDDEN")); }, 5000),
                     qPrintable(QString::fromLatin1(escape.name) + ": " + activeTitle() + ", " + windowState(main)));
            QVERIFY2(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000), escape.name);
            QVERIFY2(!desktopWasShown(m_x), escape.name); // told of since the escape was tried
        }
        // A page's pop-up opens above the locked window, and its own Close button brings the child back: the menu's
        // first tile (Plain Pond, which the filter then knows), the first face for the menu again, its third tile
        // (Pop-up Pond), then that page's button opening Plain Pond.
        const auto open = [&](const char *at, int host) {
            const QString site = QString(m_portal.host()).replace(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.%1").arg(host));
            const qsizetype before = m_portal.requests(site).size();
            xdotool(QStringLiteral("mousemove %1 click 1").arg(QLatin1String(at)).split(' '));
            return e2e::waitFor([&] { return m_portal.requests(site).size() > before; }, 5000) && (QTest::qWait(500), true);
        };
        // Before the pop-up, the window is sent to this desktop alone; with the pop-up shown, the desktop is switched.
        QVERIFY(open("80 190", 2));
        // A page's colour chooser holds the keyboard as the window does, and again once it has picked a colour from
        // the screen: Plain Pond's colour box, the chooser's Pick Screen Color (Alt+P) and a click.
        xdotool(QStringLiteral("key Tab space").split(' '));
        QVERIFY2(becomesActive(QStringLiteral("Select Color"), 5000), qPrintable(activeTitle()));
        xdotool(QStringLiteral("key alt+p sleep 0.3 click 1 sleep 0.1 key super+d sleep 0.3 key Escape").split(' '));
        QVERIFY2(!desktopWasShown(m_x), "the desktop was shown after a colour was picked from the screen");
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle)), qPrintable(activeTitle()));
        // A page's list that a key closes lets go of the keyboard with it; it is taken again at once, five times in five.
        for (int i = 0; i < 5; ++i) {
            xdotool(QStringLiteral("mousemove 500 84 click 1 sleep 0.4 key Tab key super+d sleep 0.3").split(' '));
            QVERIFY2(!desktopWasShown(m_x), qPrintable(QStringLiteral("the desktop was shown after the list closed, time %1").arg(i + 1)));
        }
        QVERIFY(open("220 24", 1) && open("400 190", 4));
        xdotool(QStringLiteral("keydown alt keydown shift click 5 keyup shift keyup alt").split(' '));
        QVERIFY(open("60 143", 2));
        Window popup = 0;
        QVERIFY(e2e::waitFor([&] { return (popup = shown("Tadpole Pop-Up")) != 0; }, 5000));
        QVERIFY2(e2e::waitFor([&] { return onTop(popup); }, 5000), "the pop-up is not the top window");
        QVERIFY2(run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(popup), QStringLiteral("_NET_WM_DESKTOP")})
                     .endsWith(QLatin1String("4294967295")), "the pop-up is not on every desktop");
        xdotool(QStringLiteral("keydown alt click 2 keyup alt").split(' ')); // the window manager's "lower"
        QVERIFY2(e2e::waitFor([&] { return onTop(popup); }, 5000), "the pop-up stayed under the window");
        // Its page's colour chooser, minimised by its button, takes the pop-up with it; both come back, also when it is
        // minimised again and again by a quick hand, some of the times before the program has heard that they came back.
        xdotool(QStringLiteral("mousemove 10 60 click 1 key Tab space").split(' '));
        QVERIFY2(becomesActive(QStringLiteral("Select Color"), 5000), qPrintable(activeTitle()));
        for (int i = 0; i < 3; ++i) {
            const Window chooser = shown("Select Color");
            QVERIFY(chooser);
            QElapsedTimer pressing;
            for (pressing.start(); pressing.elapsed() < 1000; usleep(5000 + i * 5000)) {
                XIconifyWindow(m_x, chooser, DefaultScreen(m_x));
                XFlush(m_x);
            }
            QVERIFY2(e2e::waitFor([] { return activeTitle() == QLatin1String("Select Color") && shown("Select Color") && shown("Tadpole Pop-Up"); }, 5000),
                     qPrintable(QStringLiteral("time %1: ").arg(i + 1) + activeTitle()));
        }
        QVERIFY2(e2e::waitFor([&] { // pressed again while the chooser is not yet the program's focus
            xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
            return becomesActive(QStringLiteral("Tadpole Pop-Up"), 500);
        }, 3000), qPrintable(activeTitle()));
        xdotool(QStringLiteral("keydown alt click 5 keyup alt sleep 0.5 mousemove 158 22 click 1").split(' '));
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000) && !shown("Tadpole Pop-Up"), qPrintable(activeTitle()));
        QTest::qWait(1500); // the next tick gives the buttons back

        // Its close box asks for the parent's password; the gate's own close box refuses, and the window stays.
        askToClose(m_x, main.toULong());
        QVERIFY2(becomesActive(QStringLiteral("Security"), 5000), qPrintable(activeTitle()));
        askToClose(m_x, shown("Security"));
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000), qPrintable(activeTitle()));
        // So does Alt+F4, which the window manager never sees while the window holds the keyboard; in the gate it refuses.
        QVERIFY(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000));
        for (const char *title : {"Security", MainTitle}) {
            xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")});
            QVERIFY2(becomesActive(QString::fromLatin1(title), 5000), qPrintable(QString::fromLatin1(title) + " not active: " + activeTitle()));
        }

        // The parents' button at its place on the screen, 40 + 40 + 6 - 20 pixels left of its right edge, after a pause over it
        // that shows its tooltip as a hand would: the gate holds the keyboard itself, so the desktop's shortcuts reach no one
        // while it waits for a grown-up.
        xdotool(QStringLiteral("mousemove %1 24 sleep 2 click 1").arg(1024 - (40 + 40 + 6 - 20)).split(' '));
        QVERIFY2(becomesActive(QStringLiteral("Security")), qPrintable(activeTitle()));
        QVERIFY(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000));
        // The window manager names the active window a moment after it has unmapped it: back means shown too.
        const auto gateIsBack = [] {
            return e2e::waitFor([] { return activeTitle() == QLatin1String("Security") && shown("Security") && shown(MainTitle); }, 5000);
        };
        // Minimised, the gate goes with the main window (openbox takes it along), and the keyboard stays held: Super+D
        // pressed the moment the server reports the gate unmapped reaches no one, five times in five.
        for (int i = 0; i < 5; ++i) {
            const Window gate = shown("Security");
            XSelectInput(m_x, gate, StructureNotifyMask);
            XIconifyWindow(m_x, gate, DefaultScreen(m_x));
            XFlush(m_x);
            XEvent unmapped{};
            QElapsedTimer waited;
            waited.start();
            while (!XCheckTypedWindowEvent(m_x, gate, UnmapNotify, &unmapped) && waited.elapsed() < 3000)
                usleep(100);
            for (const auto &[key, down] : {std::pair{XK_Super_L, True}, {XK_d, True}, {XK_d, False}, {XK_Super_L, False}})
                XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, key), down, CurrentTime);
            XFlush(m_x);
            QVERIFY2(gateIsBack(), qPrintable(activeTitle()));
            QVERIFY2(!desktopWasShown(m_x), qPrintable(QStringLiteral("the desktop was shown after the gate was minimised, time %1").arg(i + 1)));
        }
        // Minimised and clicked at once, both are shown again before the program hears of it, and the keyboard is held.
        // (Two runs of xdotool: in one, a click after a window's command goes to that window as a sent event.)
        for (int i = 0; i < 3; ++i) {
            xdotool({QStringLiteral("windowminimize"), QString::number(shown("Security"))});
            xdotool({QStringLiteral("click"), QStringLiteral("1")});
            QVERIFY2(gateIsBack(), qPrintable(activeTitle()));
            QVERIFY(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000));
        }
        const QString desktop = xdotool({QStringLiteral("get_desktop")});
        xdotool(QStringLiteral("key super+d ctrl+alt+Right sleep 0.5").split(' '));
        QVERIFY2(!desktopWasShown(m_x), "the desktop was shown");
        QCOMPARE(xdotool({QStringLiteral("get_desktop")}), desktop);
        xdotool({QStringLiteral("set_desktop"), QStringLiteral("0")}); // where the other program is
        QVERIFY2(activeTitle() == QLatin1String("Security") && shown("Security") && shown(MainTitle), qPrintable(activeTitle()));
        for (const auto &[typed, next] : {std::pair{"wren", "Lilypad"}, {"", "Security"}, {"owl", "Site Selection"}}) { // Lilypad: "Wrong Password!"
            if (*typed)
                xdotool({QStringLiteral("type"), QLatin1String(typed)});
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            QVERIFY2(becomesActive(QLatin1String(next)) && onTop(shown(next)), qPrintable(QLatin1String(next) + " expected; active: " + activeTitle()));
        }

        // A parent in the parents' area may use the rest of the desktop; once its close box closes it, the window is
        // locked again and comes back over the other program. (Asked again, up to three times, while the site
        // selection may still be finishing its own showing on a busy machine; then it must stay for 1.5 s.)
        bool stayed = false;
        for (int ask = 0; ask < 3 && !stayed; ++ask) {
            QVERIFY2(e2e::waitFor([&] {
                xdotool({QStringLiteral("windowactivate"), QString::number(other)});
                return activeTitle() == QLatin1String("Other Program");
            }, 3000), qPrintable(activeTitle()));
            QTest::qWait(1500);
            stayed = activeTitle() == QLatin1String("Other Program");
        }
        QVERIFY2(stayed, qPrintable(activeTitle()));
        askToClose(m_x, shown("Site Selection"));
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000), qPrintable(activeTitle()));
        QVERIFY(e2e::waitFor([&] { return keyboardHeld(m_x); }, 5000));

        // Link Pond's link to a host no list names, then the status line that tells of it: after the gate, the
        // question shows over the locked window, where a parent can read it.
        QVERIFY(open("220 24", 1) && e2e::waitFor([&] { return open("560 190", 5); }, 15000)); // clicked again if the menu was still coming
        QVERIFY2(e2e::waitFor([&] { // the link again while its page may still be coming; over the block page it is no link
            xdotool(QStringLiteral("mousemove 80 142 click 1 sleep 0.3 mousemove 50 760 click 1").split(' '));
            return becomesActive(QStringLiteral("Security"), 1000);
        }, 15000), qPrintable(activeTitle()));
        xdotool({QStringLiteral("type"), QStringLiteral("owl")});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QVERIFY2(becomesActive(QStringLiteral("Allow Access")) && e2e::waitFor([] { return onTop(shown("Allow Access")); }, 5000),
                 qPrintable(activeTitle()));
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000), qPrintable(activeTitle()));
    }

    // A second start for the same folder brings the minimised window back and ends, asking the portal nothing.
    void secondStartBringsTheWindowBack()
    {
        if (m_windowManager.state() != QProcess::Running)
            QSKIP("openbox is needed to minimise a window");
        QVERIFY(startBrowser(Unlocked));
        QVERIFY2(e2e::waitFor([&] { // once the window manager has it: minimised earlier, it is shown again
            xdotool({QStringLiteral("windowminimize"), QStringLiteral("--sync"), QString::number(shown(MainTitle))});
            return activeTitle() != QLatin1String(MainTitle);
        }, 10000), qPrintable(activeTitle()));
        // The running copy's menu may still be fetching its pictures.
        const auto asked = [&] { return m_portal.requests(m_portal.host()).filter(QRegularExpression(QStringLiteral("^/tad/(?!logos/)"))).size(); };
        const qsizetype before = asked();
        QProcess second;
        second.start(m_folder->path(QStringLiteral("tadpole")), {QStringLiteral("1")});
        QVERIFY(second.waitForFinished(20000) && second.exitCode() == 0);
        const QByteArray said = second.readAllStandardError();
        QVERIFY2(said.contains("came to the front") && asked() == before, said.constData());
        QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000), qPrintable(activeTitle()));
    }

    // Under a clock twenty times as fast (wall and monotonic both), a 15-minute daily limit with 4 minutes used
    // earlier today drains the toolbar's pond at 10, 5 and 1 minutes left, shows "time to finish" (which goes
    // away by itself) and then "time is up", each seen in what the X server shows, and keeps the day's time used.
    void warningsAndTheTimeIsUpPictureUnderAFastClock()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("faketime")).isEmpty())
            QSKIP("faketime is needed: scripts/setup-debian.sh installs it");
        QVERIFY(startBrowser("pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\ndaily=1\r\n", "no-such-browser-here", {},
                             QStringLiteral("+0 x20"), "day=" + QDate::currentDate().toString(Qt::ISODate).toLatin1() + "\r\nseconds=240\r\n"));
        const Window window = shown(MainTitle);
        QList<int> levels; // of the pond's water, each lower than the last
        QStringList seen;
        const auto see = [&](bool shows, const QString &picture) {
            if (shows && !seen.contains(picture))
                seen << picture;
        };
        QVERIFY2(e2e::waitFor([&] {
            const QImage image = grab(m_x, window);
            const int water = count(image, 0xff2e9be6, true), sunset = count(image, 0xffffb347, false);
            const int night = count(image, 0xff1d2b53, false), most = image.height() * image.width() / 5;
            if (water > 0 && (levels.isEmpty() || water < levels.last()))
                levels << water;
            see(sunset > most, "time to finish");
            see(seen.contains("time to finish") && sunset == 0 && night == 0, "the page again"); // gone by itself
            see(night > most, "time is up");
            return seen.contains("time is up");
        }, 150000), qPrintable(seen.join(", ")));
        QVERIFY2(levels.size() >= 3, qPrintable(QString::number(levels.size()))); // 10, 5 and 1 minutes left
        QCOMPARE(seen, (QStringList{"time to finish", "the page again", "time is up"}));
        QCOMPARE(m_browser.state(), QProcess::Running); // STOP is locked: the picture waits for a grown-up
        // Use counts from the first tick after start-up (a minute or more at this speed) to the time-out's whole minute.
        const QByteArray used = m_folder->read(QStringLiteral("timeused.txt"));
        QVERIFY2(used.split('=').last().trimmed().toInt() >= 12 * 60, used.constData());
    }

    // A Wayland desktop (sway, headless) with XWayland's X server beside it.
    void waylandDesktop()
    {
        const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
        if (sway.isEmpty())
            QSKIP("sway is needed for a Wayland desktop");
        QTemporaryDir runtime;
        const QString config = runtime.filePath(QStringLiteral("config"));
        QVERIFY(writeFile(config, "output HEADLESS-1 resolution 1024x768\n"));
        QProcess compositor;
        QProcessEnvironment env;
        for (const auto &[name, value] : {std::pair{"PATH", qEnvironmentVariable("PATH")}, {"HOME", runtime.path()},
                                          {"XDG_RUNTIME_DIR", runtime.path()}, {"WLR_BACKENDS", QStringLiteral("headless")},
                                          {"WLR_LIBINPUT_NO_DEVICES", QStringLiteral("1")}, {"WLR_RENDERER", QStringLiteral("pixman")}})
            env.insert(QLatin1String(name), value);
        compositor.setProcessEnvironment(env);
        QStringList command{sway, QStringLiteral("-c"), config};
        QVERIFY(geteuid() != 0 || ::chown(qPrintable(runtime.path()), 65534, 65534) == 0); // sway will not run as root
        if (geteuid() == 0)
            command = QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups").split(QLatin1Char(' ')) + command;
        compositor.start(command.first(), command.mid(1));
        auto stop = qScopeGuard([&] { cleanup(); compositor.kill(); compositor.waitForFinished(5000); });
        QString socket;
        QVERIFY2(e2e::waitFor([&] {
            const QStringList sockets = QDir(runtime.path()).entryList({QStringLiteral("wayland-*")}, QDir::System);
            return !(socket = sockets.filter(QRegularExpression(QStringLiteral("^wayland-\\d+$"))).value(0)).isEmpty();
        }, 10000), qPrintable(QString::fromLocal8Bit(compositor.readAllStandardError().right(500))));
        // Both offered and nothing chosen: X11, where prompts can be closed and the keyboard held.
        QHash<QString, QString> wayland = {{"XDG_RUNTIME_DIR", runtime.path()}, {"WAYLAND_DISPLAY", socket},
                                           {"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DEBUG", "client"}, {"QT_QPA_PLATFORM", {}}};
        QVERIFY(startBrowser(Locked, "no-such-browser-here", wayland));
        QVERIFY(!QString::fromLocal8Bit(m_browser.readAllStandardError()).contains(QLatin1String("native Wayland")));

        // Chosen: the compositor is asked to hold its shortcuts, and what cannot be done is said once.
        cleanup();
        wayland.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        wayland.insert(QStringLiteral("DISPLAY"), QString());
        QVERIFY(startBrowser(Locked, "no-such-browser-here", wayland));
        QByteArray said;
        QVERIFY2(e2e::waitFor([&] { said += m_browser.readAllStandardError(); return said.contains(".inhibit_shortcuts("); }, 15000),
                 said.right(2000).constData());
        QCOMPARE(said.count("tadpole: running as a native Wayland program"), 1);
    }
};

QTEST_GUILESS_MAIN(tst_E2eDesktop)
#include "tst_e2e_desktop.moc"
