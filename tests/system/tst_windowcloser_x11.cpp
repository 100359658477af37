// Closing windows by title on an X11 desktop: the X11 search on its own, and
// the whole title search as the browser runs it (our own windows first, then
// other programs'). The test starts its own virtual server before the
// application connects to it.

#include "system/WindowCloser.h"
#include "system/X11WindowCloser.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray g_display;   // empty when no virtual server could be started

// How a test window carries its title.
enum class TitleKind { WmNameLatin1, NetWmNameUtf8 };

class CountingWindow : public QWidget {
public:
    explicit CountingWindow(const QString &title) { setWindowTitle(title); }
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeRequests;
        event->accept();
    }
};

// Starts Xvfb on a display it picks itself; returns its pid or -1.
pid_t startServer()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                 "320x240x24", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    pollfd fd{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&fd, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number.append(c);
    ::close(fds[0]);
    if (pid > 0 && !number.isEmpty())
        g_display = ":" + number;
    return pid;
}

} // namespace

Q_DECLARE_METATYPE(TitleKind)

class tst_WindowCloserX11 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    // The X11 search on a connection of its own.
    void asksOnlyTheWindowWithTheWholeTitle_data();
    void asksOnlyTheWindowWithTheWholeTitle();
    void asksTheFirstOfTwoAndPassesOverSkipped();
    void windowWithoutCloseProtocolIsLeftAlone();
    void windowManagerIsAskedForWindowWithoutProtocol();
    // The browser's title search.
    void foreignWindowAskedWhenNoOwnWindowMatches();
    void ownWindowFirstThenForeignNeverOwnTwice();

private:
    Window makeWindow(const QString &title, TitleKind kind = TitleKind::WmNameLatin1,
                      bool takesDelete = true);
    // The window named by the next client message of `type` within
    // `timeoutMs`, or None.
    Window nextMessage(const char *type, int timeoutMs);

    Display *m_owner = nullptr;    // the "other program" that owns the windows
    Display *m_browser = nullptr;  // the connection the X11 search works on
    QList<Window> m_windows;
};

void tst_WindowCloserX11::initTestCase()
{
    if (g_display.isEmpty())
        QSKIP("Xvfb could not be started; the X11 title search is not tested");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    m_owner = XOpenDisplay(g_display.constData());
    m_browser = XOpenDisplay(g_display.constData());
    QVERIFY(m_owner && m_browser);
}

void tst_WindowCloserX11::cleanupTestCase()
{
    if (m_owner)
        XCloseDisplay(m_owner);
    if (m_browser)
        XCloseDisplay(m_browser);
}

void tst_WindowCloserX11::cleanup()
{
    for (const Window window : std::as_const(m_windows))
        XDestroyWindow(m_owner, window);
    m_windows.clear();
    XSync(m_owner, True);   // drop requests meant for the windows just gone
}

Window tst_WindowCloserX11::makeWindow(const QString &title, TitleKind kind, bool takesDelete)
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

Window tst_WindowCloserX11::nextMessage(const char *type, int timeoutMs)
{
    const Atom wanted = XInternAtom(m_owner, type, False);
    QElapsedTimer clock;
    clock.start();
    while (true) {
        while (XPending(m_owner)) {
            XEvent event;
            XNextEvent(m_owner, &event);
            if (event.type == ClientMessage && event.xclient.message_type == wanted)
                return event.xclient.window;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return None;
        pollfd fd{ConnectionNumber(m_owner), POLLIN, 0};
        ::poll(&fd, 1, int(left));
    }
}

void tst_WindowCloserX11::asksOnlyTheWindowWithTheWholeTitle_data()
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

void tst_WindowCloserX11::asksOnlyTheWindowWithTheWholeTitle()
{
    QFETCH(QString, caption);
    QFETCH(TitleKind, kind);
    QFETCH(QString, asked);
    QFETCH(bool, closed);
    const Window window = makeWindow(caption, kind);

    X11WindowCloser closer(m_browser);
    QCOMPARE(closer.closeWindowByTitle(asked), closed);
    if (closed)
        QCOMPARE(nextMessage("WM_PROTOCOLS", 5000), window);
    else
        QCOMPARE(nextMessage("WM_PROTOCOLS", 300), Window(None));
}

void tst_WindowCloserX11::asksTheFirstOfTwoAndPassesOverSkipped()
{
    const Window lower = makeWindow(QStringLiteral("File Download"));
    const Window upper = makeWindow(QStringLiteral("File Download"));
    X11WindowCloser closer(m_browser);

    // One call, one request: the topmost window only.
    QVERIFY(closer.closeWindowByTitle(QStringLiteral("File Download")));
    QCOMPARE(nextMessage("WM_PROTOCOLS", 5000), upper);
    QCOMPARE(nextMessage("WM_PROTOCOLS", 200), Window(None));

    // Windows of our own are passed over (the browser lists its own).
    QVERIFY(closer.closeWindowByTitle(QStringLiteral("File Download"), {upper}));
    QCOMPARE(nextMessage("WM_PROTOCOLS", 5000), lower);
}

void tst_WindowCloserX11::windowWithoutCloseProtocolIsLeftAlone()
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

void tst_WindowCloserX11::windowManagerIsAskedForWindowWithoutProtocol()
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

    const Window target = nextMessage("_NET_CLOSE_WINDOW", 5000);
    XSelectInput(m_owner, root, NoEventMask);
    XDeleteProperty(m_owner, root, clientList);
    XDeleteProperty(m_owner, root, supported);
    XSync(m_owner, False);

    QVERIFY(asked);
    QCOMPARE(target, managed);
}

void tst_WindowCloserX11::foreignWindowAskedWhenNoOwnWindowMatches()
{
    const Window prompt = makeWindow(QStringLiteral("File Download"));
    makeWindow(QStringLiteral("File Download (2)"));
    CountingWindow unrelated(QStringLiteral("Tadpole"));
    unrelated.show();
    QVERIFY(QTest::qWaitForWindowExposed(&unrelated));

    CloseWindowByTitle(QStringLiteral("file download"));
    QCOMPARE(nextMessage("WM_PROTOCOLS", 5000), prompt);
    QCOMPARE(nextMessage("WM_PROTOCOLS", 200), Window(None));
    QCoreApplication::processEvents();
    QCOMPARE(unrelated.closeRequests, 0);
}

void tst_WindowCloserX11::ownWindowFirstThenForeignNeverOwnTwice()
{
    const Window prompt = makeWindow(QStringLiteral("Security Warning"));
    CountingWindow own(QStringLiteral("Security Warning"));
    own.show();
    QVERIFY(QTest::qWaitForWindowExposed(&own));

    CloseWindowByTitle(QStringLiteral("Security Warning"));
    // Our window's request is still queued: the second call must go to the
    // other program's window, not to ours through the X server.
    CloseWindowByTitle(QStringLiteral("Security Warning"));
    QCOMPARE(nextMessage("WM_PROTOCOLS", 5000), prompt);
    QTRY_VERIFY(!own.isVisible());
    QTest::qWait(100);   // room for a second, wrong request to arrive
    QCOMPARE(own.closeRequests, 1);
}

int main(int argc, char *argv[])
{
    const pid_t server = startServer();
    if (!g_display.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", g_display);
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        tst_WindowCloserX11 test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    return result;
}

#include "tst_windowcloser_x11.moc"
