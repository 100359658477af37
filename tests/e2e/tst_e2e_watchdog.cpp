#include "E2eSupport.h"
#include "X11Windows.h"

#include <QProcess>
#include <QStandardPaths>
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

private:
    bool startBrowser(const QByteArray &controlIni, const QByteArray &browserNames);
    void stopBrowser();
    Window findTopLevel(const char *title) const;
    void askToClose(Window window) const;

    e2e::PortalProcess m_portal;
    QProcess m_xvfb;
    Display *m_x = nullptr;
    QByteArray m_display;
    std::unique_ptr<e2e::ProgramFolder> m_folder;
    QProcess m_browser;
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
    if (m_x)
        XCloseDisplay(m_x);
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

bool tst_E2eWatchdog::startBrowser(const QByteArray &controlIni, const QByteArray &browserNames)
{
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
    m_browser.setProcessEnvironment(env);
    m_browser.start(m_folder->path(QStringLiteral("tadpole")), {QStringLiteral("1")});
    // Up once its first menu was asked for; the watchdog ticks from then on.
    return m_browser.waitForStarted() && e2e::waitFor([&] {
        return m_portal.requests(m_portal.host()).filter(QStringLiteral("tad_menu.asp")).size() > 0;
    }, 60000) && e2e::waitFor([&] { return findTopLevel(MainTitle) != 0; }, 10000);
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

QTEST_GUILESS_MAIN(tst_E2eWatchdog)
#include "tst_e2e_watchdog.moc"
