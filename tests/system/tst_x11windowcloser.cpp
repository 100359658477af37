#include "system/X11WindowCloser.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>

namespace {

// How a test window carries its title.
enum class TitleKind { WmNameLatin1, NetWmNameUtf8 };

} // namespace

Q_DECLARE_METATYPE(TitleKind)

class tst_X11WindowCloser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void asksOnlyTheWindowWithTheWholeTitle_data();
    void asksOnlyTheWindowWithTheWholeTitle();
    void asksTheFirstOfTwoAndPassesOverSkipped();
    void windowWithoutCloseProtocolIsLeftAlone();
    void windowManagerIsAskedForWindowWithoutProtocol();

private:
    Window makeWindow(const QString &title, TitleKind kind = TitleKind::WmNameLatin1,
                      bool takesDelete = true);
    // The window that received WM_DELETE_WINDOW within `timeoutMs`, or None.
    Window nextDeleteRequest(int timeoutMs);

    QProcess m_server;
    Display *m_owner = nullptr;    // the "other program" that owns the windows
    Display *m_browser = nullptr;  // the connection the closer works on
    QList<Window> m_windows;
};

void tst_X11WindowCloser::initTestCase()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed; the foreign-window tests need a virtual X server");
    // -displayfd lets the server pick a free display and tell us which.
    m_server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
    QVERIFY(m_server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine() || m_server.state() != QProcess::Running, 10000);
    const QByteArray number = m_server.readLine().trimmed();
    QVERIFY2(!number.isEmpty(), "Xvfb did not report a display");
    const QByteArray name = ":" + number;
    m_owner = XOpenDisplay(name.constData());
    m_browser = XOpenDisplay(name.constData());
    QVERIFY(m_owner && m_browser);
}

void tst_X11WindowCloser::cleanupTestCase()
{
    if (m_owner)
        XCloseDisplay(m_owner);
    if (m_browser)
        XCloseDisplay(m_browser);
    if (m_server.state() == QProcess::Running) {
        m_server.terminate();
        m_server.waitForFinished(3000);
    }
}

void tst_X11WindowCloser::cleanup()
{
    for (const Window window : std::as_const(m_windows))
        XDestroyWindow(m_owner, window);
    m_windows.clear();
    XSync(m_owner, True);   // drop requests meant for the windows just gone
}

Window tst_X11WindowCloser::makeWindow(const QString &title, TitleKind kind, bool takesDelete)
{
    const Window window = XCreateSimpleWindow(m_owner, DefaultRootWindow(m_owner), 0, 0, 50, 50,
                                              0, 0, 0);
    if (kind == TitleKind::WmNameLatin1) {
        const QByteArray latin1 = title.toLatin1();
        XChangeProperty(m_owner, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(latin1.constData()),
                        int(latin1.size()));
    } else {
        const QByteArray utf8 = title.toUtf8();
        XChangeProperty(m_owner, window, XInternAtom(m_owner, "_NET_WM_NAME", False),
                        XInternAtom(m_owner, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(utf8.constData()),
                        int(utf8.size()));
    }
    if (takesDelete) {
        Atom deleteWindow = XInternAtom(m_owner, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(m_owner, window, &deleteWindow, 1);
    }
    XMapWindow(m_owner, window);
    XSync(m_owner, False);
    m_windows.append(window);
    return window;
}

Window tst_X11WindowCloser::nextDeleteRequest(int timeoutMs)
{
    const Atom protocols = XInternAtom(m_owner, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(m_owner, "WM_DELETE_WINDOW", False);
    QElapsedTimer clock;
    clock.start();
    while (true) {
        while (XPending(m_owner)) {
            XEvent event;
            XNextEvent(m_owner, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols
                && Atom(event.xclient.data.l[0]) == deleteWindow) {
                return event.xclient.window;
            }
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return None;
        pollfd fd{ConnectionNumber(m_owner), POLLIN, 0};
        ::poll(&fd, 1, int(left));
    }
}

void tst_X11WindowCloser::asksOnlyTheWindowWithTheWholeTitle_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<TitleKind>("kind");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("closed");

    QTest::newRow("download prompt by its old-style name")
        << "File Download" << TitleKind::WmNameLatin1 << "File Download" << true;
    QTest::newRow("title compared ignoring case")
        << "SECURITY WARNING" << TitleKind::WmNameLatin1 << "Security Warning" << true;
    QTest::newRow("UTF-8 title of a modern window")
        << QString::fromUtf8("Téléchargement") << TitleKind::NetWmNameUtf8
        << QString::fromUtf8("téléchargement") << true;
    QTest::newRow("Latin-1 title decoded as Latin-1")
        << QString::fromUtf8("Téléchargement") << TitleKind::WmNameLatin1
        << QString::fromUtf8("Téléchargement") << true;
    QTest::newRow("longer title is another window")
        << "File Download (2)" << TitleKind::WmNameLatin1 << "File Download" << false;
}

void tst_X11WindowCloser::asksOnlyTheWindowWithTheWholeTitle()
{
    QFETCH(QString, caption);
    QFETCH(TitleKind, kind);
    QFETCH(QString, asked);
    QFETCH(bool, closed);
    const Window window = makeWindow(caption, kind);

    X11WindowCloser closer(m_browser);
    QCOMPARE(closer.closeWindowByTitle(asked), closed);
    if (closed)
        QCOMPARE(nextDeleteRequest(5000), window);
    else
        QCOMPARE(nextDeleteRequest(300), Window(None));
}

void tst_X11WindowCloser::asksTheFirstOfTwoAndPassesOverSkipped()
{
    const Window lower = makeWindow(QStringLiteral("File Download"));
    const Window upper = makeWindow(QStringLiteral("File Download"));
    X11WindowCloser closer(m_browser);

    // One call, one request: the topmost window only.
    QVERIFY(closer.closeWindowByTitle(QStringLiteral("File Download")));
    QCOMPARE(nextDeleteRequest(5000), upper);
    QCOMPARE(nextDeleteRequest(200), Window(None));

    // Windows of our own are passed over (the browser lists its own).
    QVERIFY(closer.closeWindowByTitle(QStringLiteral("File Download"), {upper}));
    QCOMPARE(nextDeleteRequest(5000), lower);
}

void tst_X11WindowCloser::windowWithoutCloseProtocolIsLeftAlone()
{
    const Window window = makeWindow(QStringLiteral("File Download"), TitleKind::WmNameLatin1,
                                     false);
    X11WindowCloser closer(m_browser);
    // No window manager to ask either: nothing is sent and nothing is killed.
    QVERIFY(!closer.closeWindowByTitle(QStringLiteral("File Download")));
    XWindowAttributes attributes;
    QVERIFY(XGetWindowAttributes(m_owner, window, &attributes));
    QCOMPARE(attributes.map_state, IsViewable);
}

void tst_X11WindowCloser::windowManagerIsAskedForWindowWithoutProtocol()
{
    // The owner connection plays a window manager: it lists its clients on
    // the root and takes close requests sent to the root.
    const Window root = DefaultRootWindow(m_owner);
    const Atom clientList = XInternAtom(m_owner, "_NET_CLIENT_LIST", False);
    const Atom supported = XInternAtom(m_owner, "_NET_SUPPORTED", False);
    const Atom closeWindow = XInternAtom(m_owner, "_NET_CLOSE_WINDOW", False);
    const Window decoy = makeWindow(QStringLiteral("File Download"));   // not managed
    const Window managed = makeWindow(QStringLiteral("File Download"), TitleKind::NetWmNameUtf8,
                                      false);
    Q_UNUSED(decoy);
    XChangeProperty(m_owner, root, clientList, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&managed), 1);
    XChangeProperty(m_owner, root, supported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&closeWindow), 1);
    XSelectInput(m_owner, root, SubstructureRedirectMask);
    XSync(m_owner, False);

    X11WindowCloser closer(m_browser);
    const bool asked = closer.closeWindowByTitle(QStringLiteral("file download"));

    Window target = None;
    QElapsedTimer clock;
    clock.start();
    while (target == None && clock.elapsed() < 5000) {
        while (XPending(m_owner)) {
            XEvent event;
            XNextEvent(m_owner, &event);
            if (event.type == ClientMessage && event.xclient.message_type == closeWindow)
                target = event.xclient.window;
        }
        pollfd fd{ConnectionNumber(m_owner), POLLIN, 0};
        ::poll(&fd, 1, 50);
    }
    XSelectInput(m_owner, root, NoEventMask);
    XDeleteProperty(m_owner, root, clientList);
    XDeleteProperty(m_owner, root, supported);
    XSync(m_owner, False);

    QVERIFY(asked);
    QCOMPARE(target, managed);
}

QTEST_GUILESS_MAIN(tst_X11WindowCloser)
#include "tst_x11windowcloser.moc"
