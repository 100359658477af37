// Closing windows by title: our own (hidden ones too), then other programs'
// on a virtual X11 server the test starts itself before the application
// connects. Without Xvfb the other programs' cases skip.

#include "system/WindowCloser.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTest>
#include <QWidget>

#include <X11/Xlib.h>

#include <csignal>
#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray g_display;   // empty when no virtual server could be started

class RecordingWindow : public QWidget {
public:
    explicit RecordingWindow(const QString &title, bool refuse = false) : refuse(refuse) { setWindowTitle(title); }
    const bool refuse;   // as a window with unsaved work would
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override { ++closeRequests; event->setAccepted(!refuse); }
};

pid_t startServer()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                 "320x240x24", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char c = 0;   // end of file when Xvfb could not be run
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        g_display.append(c);
    ::close(fds[0]);
    if (!g_display.isEmpty())
        g_display.prepend(':');
    return pid;
}

// A window of another program, titled as old and new programs do.
Window makeWindow(Display *owner, const QByteArray &utf8Title)
{
    const Window window = XCreateSimpleWindow(owner, DefaultRootWindow(owner), 0, 0, 50, 50, 0, 0, 0);
    if (QString::fromUtf8(utf8Title).toLatin1() == utf8Title)
        XStoreName(owner, window, utf8Title.constData());
    else
        XChangeProperty(owner, window, XInternAtom(owner, "_NET_WM_NAME", False),
                        XInternAtom(owner, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(utf8Title.constData()), int(utf8Title.size()));
    Atom deleteWindow = XInternAtom(owner, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(owner, window, &deleteWindow, 1);
    XMapWindow(owner, window);
    XSync(owner, False);
    return window;
}

// The window named by the next close request the owner receives, or None.
Window nextCloseRequest(Display *owner, int timeoutMs)
{
    XEvent event{};
    const bool got = QTest::qWaitFor([&] { return XCheckTypedEvent(owner, ClientMessage, &event); }, timeoutMs);
    return got ? event.xclient.window : None;
}

} // namespace

class tst_Windows : public QObject {
    Q_OBJECT
private slots:
    void ownWholeTitleIgnoringCase_data();
    void ownWholeTitleIgnoringCase();
    void ownSameTitledOneCallEach_data();
    void ownSameTitledOneCallEach();
    void ownRefusedOrShownAgainIsAskedAgain();
    void foreignAfterOwnNeverOwnTwice_data();
    void foreignAfterOwnNeverOwnTwice();
};

void tst_Windows::ownWholeTitleIgnoringCase_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("closed");
    QTest::newRow("other capitals") << "Tadpole Pop-Up" << "Tadpole Pop-up" << true;
    QTest::newRow("longer title") << "File Download (2)" << "File Download" << false;
    QTest::newRow("prefix") << "File Download" << "File" << false;
    QTest::newRow("trailing space") << "File Download" << "File Download " << false;
}

void tst_Windows::ownWholeTitleIgnoringCase()
{
    QFETCH(QString, caption);
    QFETCH(QString, asked);
    QFETCH(bool, closed);
    RecordingWindow window(caption);
    QCOMPARE(closeOwnWindowByTitle(asked), closed);
    QCoreApplication::processEvents();
    QCOMPARE(window.closeRequests, int(closed));
}

void tst_Windows::ownSameTitledOneCallEach_data()
{
    QTest::addColumn<bool>("loopBetween");
    QTest::newRow("event loop between the calls") << true;
    QTest::newRow("two calls in a row") << false;
}

void tst_Windows::ownSameTitledOneCallEach()
{
    QFETCH(bool, loopBetween);
    // Hidden and alive after their close, as a closed download prompt is.
    RecordingWindow first(QStringLiteral("File Download"));
    RecordingWindow second(QStringLiteral("file download"));
    CloseWindowByTitle(QStringLiteral("File Download"));
    if (loopBetween) {
        QCoreApplication::processEvents();
        QCOMPARE(first.closeRequests + second.closeRequests, 1);
    }
    CloseWindowByTitle(QStringLiteral("File Download"));
    QCoreApplication::processEvents();
    QCOMPARE(first.closeRequests, 1);
    QCOMPARE(second.closeRequests, 1);
    QVERIFY(!closeOwnWindowByTitle(QStringLiteral("File Download")));
}

void tst_Windows::ownRefusedOrShownAgainIsAskedAgain()
{
    RecordingWindow stubborn(QStringLiteral("Security Warning"), true);
    RecordingWindow popup(QStringLiteral("Tadpole Pop-Up"));
    QVERIFY(closeOwnWindowByTitle(stubborn.windowTitle()));
    QVERIFY(closeOwnWindowByTitle(popup.windowTitle()));
    QCoreApplication::processEvents();
    QVERIFY(closeOwnWindowByTitle(stubborn.windowTitle()));
    QVERIFY(!closeOwnWindowByTitle(popup.windowTitle()));
    popup.show();
    QVERIFY(closeOwnWindowByTitle(popup.windowTitle()));
    QCoreApplication::processEvents();
    QCOMPARE(stubborn.closeRequests, 2);
    QCOMPARE(popup.closeRequests, 2);
    QVERIFY(!popup.isVisible());
}

void tst_Windows::foreignAfterOwnNeverOwnTwice_data()
{
    // Other programs' windows bottom to top, our shown window above them, the
    // calls made, and the other windows asked to close, in order.
    QTest::addColumn<QByteArrayList>("others");
    QTest::addColumn<QString>("own");
    QTest::addColumn<QList<QStringList>>("calls");
    QTest::addColumn<QList<int>>("asked");
    QTest::newRow("old-style WM_NAME")
        << QByteArrayList{"File Download", "File Download", "File Download (2)"} << "File Download"
        << QList<QStringList>{{"FILE DOWNLOAD"}, {"File Download"}} << QList<int>{1};
    QTest::newRow("UTF-8 _NET_WM_NAME")
        << QByteArrayList{"T\u00e9l\u00e9chargement", "T\u00e9l\u00e9chargement", "T\u00e9l\u00e9chargement (2)"}
        << "T\u00e9l\u00e9chargement"
        << QList<QStringList>{{"T\u00c9L\u00c9CHARGEMENT"}, {"T\u00e9l\u00e9chargement"}} << QList<int>{1};
    QTest::newRow("two titles in one walk")
        << QByteArrayList{"Security Warning", "File Download", "Security Warning", "file download (2)"} << "File Download"
        << QList<QStringList>{{"file download"}, {"Security Warning", "File Download"}} << QList<int>{2, 1};
}

void tst_Windows::foreignAfterOwnNeverOwnTwice()
{
    QFETCH(QByteArrayList, others);
    QFETCH(QString, own);
    QFETCH(QList<QStringList>, calls);
    QFETCH(QList<int>, asked);
    if (g_display.isEmpty())
        QSKIP("Xvfb could not be started; other programs' windows are not tested");
    // The other program's windows go with its connection.
    const std::unique_ptr<Display, int (*)(Display *)> owner(XOpenDisplay(g_display.constData()), XCloseDisplay);
    QVERIFY(owner);
    QList<Window> windows;
    for (const QByteArray &title : others)
        windows.append(makeWindow(owner.get(), title));
    RecordingWindow ours(own);
    ours.show();   // above them all
    QVERIFY(QTest::qWaitForWindowExposed(&ours));

    // Ours is asked first; its request is still queued when the next call
    // goes to the other program's windows, passing ours over in X11.
    for (const QStringList &titles : calls)
        CloseWindowsByTitle(titles);
    for (const int index : asked)
        QCOMPARE(nextCloseRequest(owner.get(), 5000), windows.at(index));
    QCOMPARE(nextCloseRequest(owner.get(), 200), Window(None));
    QVERIFY(!ours.isVisible());
    QCOMPARE(ours.closeRequests, 1);
}

int main(int argc, char *argv[])
{
    const pid_t server = startServer();
    qputenv("QT_QPA_PLATFORM", g_display.isEmpty() ? "offscreen" : "xcb");
    if (!g_display.isEmpty())
        qputenv("DISPLAY", g_display);
    int result = 0;
    {
        QApplication app(argc, argv);
        tst_Windows test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    return result;
}

#include "tst_windows.moc"
