#include "E2eSupport.h"
#include "X11Windows.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

#include <unistd.h>
#include <QTest>


static const char MainTitle[] = "Tadpole 2.0"; // the main window: the program and its short version

// The real browser program on a virtual X server against the real portal: its
// watchdog closes other programs' prompts and ends other browsers, and every
// way of closing its window goes through the STOP button's gate.
class tst_E2eWatchdog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void closesForeignPromptsAndEndsOtherBrowsers();
    void closeRequestWithStopDisabledShowsTheGate();
    void lockedWindowCannotBeLeft();
    void unlockedWindowMayBeMinimised();
    void waylandDesktop();

private:
    bool startBrowser(const QByteArray &controlIni, const QByteArray &browserNames,
                      const QHash<QString, QString> &environment = {});
    void stopBrowser();
    Window findTopLevel(const char *title) const;
    void askToClose(Window window) const;
    bool startWindowManager();
    QString xdotool(const QStringList &arguments) const;
    QString activeTitle() const;
    bool becomesActive(const QString &title, int ms = 1500) const;
    QString windowState(const QString &window) const;
    bool keyboardHeld() const;

    e2e::PortalProcess m_portal;
    QProcess m_xvfb;
    Display *m_x = nullptr;
    QByteArray m_display;
    std::unique_ptr<e2e::ProgramFolder> m_folder;
    QProcess m_browser;
    QProcess m_windowManager;
};

void tst_E2eWatchdog::initTestCase()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed: other programs' windows need a real X server");
    QVERIFY(m_portal.start());
    m_xvfb.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(m_xvfb.waitForStarted());
    QVERIFY(e2e::waitFor([&] { return m_xvfb.canReadLine() || m_xvfb.state() != QProcess::Running; }, 10000));
    m_display = ':' + m_xvfb.readLine().trimmed();
    m_x = XOpenDisplay(m_display.constData());
    QVERIFY(m_x);
}

void tst_E2eWatchdog::cleanupTestCase()
{
    stopBrowser();
    m_windowManager.kill();
    m_windowManager.waitForFinished(5000);
    if (m_x)
        XCloseDisplay(m_x);
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

bool tst_E2eWatchdog::startBrowser(const QByteArray &controlIni, const QByteArray &browserNames,
                                   const QHash<QString, QString> &environment)
{
    stopBrowser(); // one left by a failed case
    m_folder = std::make_unique<e2e::ProgramFolder>(m_portal.host());
    QFile conf(m_folder->path(QStringLiteral("tadpole.conf")));
    QFile ini(m_folder->path(QStringLiteral("control.ini")));
    if (!conf.open(QIODevice::WriteOnly) || !ini.open(QIODevice::WriteOnly))
        return false;
    conf.write("[portal]\nloopback=" + m_portal.host().toLatin1() + "\n[browsers]\nnames=" + browserNames + "\n");
    ini.write(controlIni);
    conf.close();
    ini.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) // an empty value: unset
        it.value().isEmpty() ? env.remove(it.key()) : env.insert(it.key(), it.value());
    m_browser.setProcessEnvironment(env);
    m_browser.start(m_folder->path(QStringLiteral("tadpole")), {QStringLiteral("1")});
    // Up once its first menu was asked for; the watchdog ticks from then on.
    const bool onX11 = env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")) == QLatin1String("xcb");
    return m_browser.waitForStarted() && e2e::waitFor([&] {
        return m_portal.requests(m_portal.host()).filter(QStringLiteral("tad_menu.asp")).size() > 0;
    }, 60000) && (!onX11 || e2e::waitFor([&] { return findTopLevel(MainTitle) != 0; }, 10000));
}

void tst_E2eWatchdog::stopBrowser()
{
    if (m_browser.state() == QProcess::NotRunning)
        return;
    m_browser.kill();
    m_browser.waitForFinished(5000);
}

Window tst_E2eWatchdog::findTopLevel(const char *title) const
{
    return e2e::findTopLevel(m_x, title);
}

void tst_E2eWatchdog::askToClose(Window window) const
{
    e2e::askToClose(m_x, window);
}

void tst_E2eWatchdog::closesForeignPromptsAndEndsOtherBrowsers()
{
    QVERIFY(startBrowser("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n", "firefox"));

    // Another program's download prompt, asking to be told of a close request.
    Window prompt = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 10, 10, 200, 100, 0, 0, 0);
    Atom deleteWindow = XInternAtom(m_x, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(m_x, prompt, &deleteWindow, 1);
    XStoreName(m_x, prompt, "File Download");
    XMapWindow(m_x, prompt);
    XFlush(m_x);
    QElapsedTimer shown;
    shown.start();
    bool asked = false;
    while (!asked && shown.elapsed() < 1500) {
        while (XPending(m_x)) {
            XEvent event;
            XNextEvent(m_x, &event);
            asked = asked || (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == deleteWindow);
        }
        QTest::qWait(20);
    }
    XDestroyWindow(m_x, prompt);
    XFlush(m_x);
    QVERIFY2(asked, "the download prompt was not asked to close within 1.5 s");

    // Another web browser: a copy of sleep under the browser's name.
    QTemporaryDir bin;
    const QString firefox = bin.filePath(QStringLiteral("firefox"));
    QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), firefox));
    QProcess other;
    other.start(firefox, {QStringLiteral("60")});
    QVERIFY(other.waitForStarted());
    QVERIFY2(other.waitForFinished(3000), "the other browser still ran after 3 s");
    QCOMPARE(m_browser.state(), QProcess::Running);
    stopBrowser();
}

void tst_E2eWatchdog::closeRequestWithStopDisabledShowsTheGate()
{
    QVERIFY(startBrowser("pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n", "no-such-browser-here"));
    // Asked again until the gate shows: a request while start-up still runs is let go.
    Window gate = 0;
    QVERIFY2(e2e::waitFor([&] { askToClose(findTopLevel(MainTitle)); QTest::qWait(500);
                              return (gate = findTopLevel("Security")) != 0; }, 15000), "no password gate");
    askToClose(gate); // the gate's close box: a refusal
    QVERIFY(e2e::waitFor([&] { return findTopLevel("Security") == 0; }, 10000));
    QTest::qWait(1000);
    QVERIFY(findTopLevel(MainTitle) != 0);
    QCOMPARE(m_browser.state(), QProcess::Running);

    // With the STOP button free again the same request ends the program.
    stopBrowser();
    QVERIFY(startBrowser("pw=owl\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n", "no-such-browser-here"));
    QVERIFY(e2e::waitFor([&] { askToClose(findTopLevel(MainTitle)); return m_browser.waitForFinished(500); }, 15000));
}

bool tst_E2eWatchdog::startWindowManager()
{
    if (m_windowManager.state() == QProcess::Running)
        return true;
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.start(openbox, {});
    // Up once it has named its window on the root window.
    return m_windowManager.waitForStarted()
        && e2e::waitFor([&] { return windowState(QStringLiteral("root")).contains(QLatin1String("window id")); },
                        10000);
}

QString tst_E2eWatchdog::xdotool(const QStringList &arguments) const
{
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xdotool"), arguments);
    run.waitForFinished(10000);
    return QString::fromUtf8(run.readAllStandardOutput()).trimmed();
}

QString tst_E2eWatchdog::activeTitle() const
{
    return xdotool({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")});
}

bool tst_E2eWatchdog::becomesActive(const QString &title, int ms) const
{
    return e2e::waitFor([&] { return activeTitle() == title; }, ms);
}

// The window manager's state of a window (an id, or "root" for its check
// that the manager runs), as xprop prints it.
QString tst_E2eWatchdog::windowState(const QString &window) const
{
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    run.setProcessEnvironment(env);
    if (window == QLatin1String("root"))
        run.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    else
        run.start(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE")});
    run.waitForFinished(10000);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    return out.contains(QLatin1String("not found")) ? QString() : out;
}

// Whether another program holds the keyboard: the test's own grab is refused.
bool tst_E2eWatchdog::keyboardHeld() const
{
    const int result = XGrabKeyboard(m_x, DefaultRootWindow(m_x), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (result == GrabSuccess)
        XUngrabKeyboard(m_x, CurrentTime);
    XFlush(m_x);
    return result == AlreadyGrabbed;
}

void tst_E2eWatchdog::lockedWindowCannotBeLeft()
{
    if (!startWindowManager())
        QSKIP("openbox and xdotool are needed to leave a window as a child would");
    QVERIFY(startBrowser("pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n", "no-such-browser-here"));
    QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 10000), qPrintable(activeTitle()));
    const QString main = xdotool({QStringLiteral("getactivewindow")});
    QVERIFY2(windowState(main).contains(QLatin1String("_NET_WM_STATE_FULLSCREEN")), qPrintable(windowState(main)));
    QVERIFY(e2e::waitFor([&] { return keyboardHeld(); }, 1500));

    // Another program's window, as a child would find one on the desktop.
    Window other = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 10, 10, 300, 200, 0, 0, 0);
    XStoreName(m_x, other, "Other Program");
    XMapWindow(m_x, other);
    XFlush(m_x);
    const QString otherId = QString::number(other);
    const struct { const char *name; QStringList escape; } escapes[] = {
        {"minimised", {QStringLiteral("windowminimize"), main}},
        {"another program's window activated", {QStringLiteral("windowactivate"), otherId}},
        {"Alt+Tab", {QStringLiteral("key"), QStringLiteral("alt+Tab")}},
        {"Super", {QStringLiteral("key"), QStringLiteral("super")}},
    };
    for (const auto &escape : escapes) {
        xdotool(escape.escape);
        QVERIFY2(e2e::waitFor([&] { return activeTitle() == QLatin1String(MainTitle)
                                           && !windowState(main).contains(QLatin1String("HIDDEN")); }, 1500),
                 qPrintable(QString::fromLatin1(escape.name) + ": " + activeTitle() + ", " + windowState(main)));
        QVERIFY2(e2e::waitFor([&] { return keyboardHeld(); }, 1500), escape.name);
    }

    // The parents' button at its place on the screen: the gate and a message
    // box of ours take the keyboard while the window is locked.
    const int width = xdotool({QStringLiteral("getdisplaygeometry")}).section(QLatin1Char(' '), 0, 0).toInt();
    xdotool({QStringLiteral("mousemove"), QString::number(width - 40 - 40 - 6 + 20), QStringLiteral("24"),
             QStringLiteral("click"), QStringLiteral("1")});
    QVERIFY2(becomesActive(QStringLiteral("Security")), qPrintable(activeTitle()));
    QVERIFY(e2e::waitFor([&] { return !keyboardHeld(); }, 1500));
    xdotool({QStringLiteral("type"), QStringLiteral("wren")});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QVERIFY2(becomesActive(QStringLiteral("Lilypad")), qPrintable(activeTitle())); // "Wrong Password!"
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QVERIFY(becomesActive(QStringLiteral("Security")));
    xdotool({QStringLiteral("type"), QStringLiteral("owl")});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QVERIFY2(becomesActive(QStringLiteral("Site Selection")), qPrintable(activeTitle()));

    // A parent in the parents' area may use the rest of the desktop.
    xdotool({QStringLiteral("windowactivate"), otherId});
    QTest::qWait(1500);
    QCOMPARE(activeTitle(), QStringLiteral("Other Program"));
    // Once it closes, the window is locked again.
    xdotool({QStringLiteral("windowactivate"), xdotool({QStringLiteral("search"), QStringLiteral("--name"),
                                                        QStringLiteral("^Site Selection$")})});
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 5000), qPrintable(activeTitle()));
    XDestroyWindow(m_x, other);
    XFlush(m_x);
    stopBrowser();
}

void tst_E2eWatchdog::unlockedWindowMayBeMinimised()
{
    if (!startWindowManager())
        QSKIP("openbox and xdotool are needed to leave a window as a child would");
    QVERIFY(startBrowser("pw=owl\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n", "no-such-browser-here"));
    QVERIFY2(becomesActive(QString::fromLatin1(MainTitle), 10000), qPrintable(activeTitle()));
    const QString main = xdotool({QStringLiteral("getactivewindow")});
    QVERIFY(!windowState(main).contains(QLatin1String("_NET_WM_STATE_FULLSCREEN")));
    xdotool({QStringLiteral("windowminimize"), main});
    QTest::qWait(1500);
    QVERIFY2(windowState(main).contains(QLatin1String("_NET_WM_STATE_HIDDEN")), qPrintable(windowState(main)));
    stopBrowser();
}

// A Wayland desktop (sway, headless) with XWayland's X server beside it.
void tst_E2eWatchdog::waylandDesktop()
{
    const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
    if (sway.isEmpty())
        QSKIP("sway is needed for a Wayland desktop");
    QTemporaryDir runtime;
    QFile config(runtime.filePath(QStringLiteral("config")));
    QVERIFY(config.open(QIODevice::WriteOnly) && config.write("output HEADLESS-1 resolution 1024x768\n") > 0);
    config.close();
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess compositor;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    env.insert(QStringLiteral("HOME"), runtime.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    compositor.setProcessEnvironment(env);
    if (geteuid() == 0) { // sway will not run as root
        QVERIFY(::chown(qPrintable(runtime.path()), 65534, 65534) == 0);
        compositor.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                     QStringLiteral("--clear-groups"), sway, QStringLiteral("-c"), config.fileName()});
    } else {
        compositor.start(sway, {QStringLiteral("-c"), config.fileName()});
    }
    auto stop = qScopeGuard([&] { stopBrowser(); compositor.kill(); compositor.waitForFinished(5000); });
    QString socket;
    QVERIFY2(e2e::waitFor([&] {
        const QStringList sockets = QDir(runtime.path()).entryList({QStringLiteral("wayland-*")}, QDir::System);
        socket = sockets.filter(QRegularExpression(QStringLiteral("^wayland-\\d+$"))).value(0);
        return !socket.isEmpty();
    }, 10000), qPrintable(QString::fromLocal8Bit(compositor.readAllStandardError().right(500))));
    const QHash<QString, QString> wayland = {{QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()},
                                             {QStringLiteral("WAYLAND_DISPLAY"), socket},
                                             {QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland")},
                                             {QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client")}};
    const QByteArray locked = "pw=owl\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n";

    // Both offered and nothing chosen: X11, where prompts can be closed and the keyboard held.
    QHash<QString, QString> both = wayland;
    both.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    QVERIFY(startBrowser(locked, "no-such-browser-here", both));
    QVERIFY(!QString::fromLocal8Bit(m_browser.readAllStandardError()).contains(QLatin1String("native Wayland")));

    // Chosen: the compositor is asked to hold its shortcuts, and what cannot be done is said once.
    QHash<QString, QString> native = wayland;
    native.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    native.insert(QStringLiteral("DISPLAY"), QString());
    QVERIFY(startBrowser(locked, "no-such-browser-here", native));
    QByteArray said;
    QVERIFY2(e2e::waitFor([&] { said += m_browser.readAllStandardError(); return said.contains(".inhibit_shortcuts("); }, 15000),
             said.right(2000).constData());
    QCOMPARE(said.count("tadpole: running as a native Wayland program"), 1);
}

QTEST_GUILESS_MAIN(tst_E2eWatchdog)
#include "tst_e2e_watchdog.moc"
