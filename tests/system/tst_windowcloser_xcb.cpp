// The whole title search as the browser runs it on an X11 desktop: our own
// windows first, then other programs' windows, on a virtual server that this
// test starts for itself before the application connects to it.

#include "system/WindowCloser.h"

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

class CountingWindow : public QWidget {
public:
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

class tst_WindowCloserXcb : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void foreignWindowAskedWhenNoOwnWindowMatches();
    void ownWindowFirstThenForeignNeverOwnTwice();

private:
    Window makeForeignWindow(const char *title);
    Window nextDeleteRequest(int timeoutMs);

    Display *m_other = nullptr;
};

void tst_WindowCloserXcb::initTestCase()
{
    if (g_display.isEmpty())
        QSKIP("Xvfb could not be started; the X11 title search is not tested");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    m_other = XOpenDisplay(g_display.constData());
    QVERIFY(m_other);
}

void tst_WindowCloserXcb::cleanupTestCase()
{
    if (m_other)
        XCloseDisplay(m_other);
}

Window tst_WindowCloserXcb::makeForeignWindow(const char *title)
{
    const Window window = XCreateSimpleWindow(m_other, DefaultRootWindow(m_other), 0, 0, 40, 40,
                                              0, 0, 0);
    XStoreName(m_other, window, title);
    Atom deleteWindow = XInternAtom(m_other, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(m_other, window, &deleteWindow, 1);
    XMapWindow(m_other, window);
    XSync(m_other, False);
    return window;
}

Window tst_WindowCloserXcb::nextDeleteRequest(int timeoutMs)
{
    const Atom protocols = XInternAtom(m_other, "WM_PROTOCOLS", False);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        while (XPending(m_other)) {
            XEvent event;
            XNextEvent(m_other, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols)
                return event.xclient.window;
        }
        pollfd fd{ConnectionNumber(m_other), POLLIN, 0};
        ::poll(&fd, 1, 50);
    }
    return None;
}

void tst_WindowCloserXcb::foreignWindowAskedWhenNoOwnWindowMatches()
{
    const Window prompt = makeForeignWindow("File Download");
    const Window other = makeForeignWindow("File Download (2)");
    CountingWindow unrelated;
    unrelated.setWindowTitle(QStringLiteral("Tadpole"));
    unrelated.show();
    QVERIFY(QTest::qWaitForWindowExposed(&unrelated));

    CloseWindowByTitle(QStringLiteral("file download"));
    QCOMPARE(nextDeleteRequest(5000), prompt);
    QCoreApplication::processEvents();
    QCOMPARE(unrelated.closeRequests, 0);

    XDestroyWindow(m_other, prompt);
    XDestroyWindow(m_other, other);
    XSync(m_other, True);
}

void tst_WindowCloserXcb::ownWindowFirstThenForeignNeverOwnTwice()
{
    const Window prompt = makeForeignWindow("Security Warning");
    CountingWindow own;
    own.setWindowTitle(QStringLiteral("Security Warning"));
    own.show();
    QVERIFY(QTest::qWaitForWindowExposed(&own));

    CloseWindowByTitle(QStringLiteral("Security Warning"));
    // Our window's request is still queued: the second call must go to the
    // other program's window, not to ours through the X server.
    CloseWindowByTitle(QStringLiteral("Security Warning"));
    QCOMPARE(nextDeleteRequest(5000), prompt);
    QTRY_VERIFY(!own.isVisible());
    QTest::qWait(100);
    QCOMPARE(own.closeRequests, 1);

    XDestroyWindow(m_other, prompt);
    XSync(m_other, True);
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
        tst_WindowCloserXcb test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    return result;
}

#include "tst_windowcloser_xcb.moc"
