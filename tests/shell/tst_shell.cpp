#include "browsing/MainWindow.h"
#include "filter/UnblockedFile.h"
#include "shell/HttpTransport.h"
#include "shell/Identity.h"
#include "shell/SettingsFile.h"
#include "shell/SingleInstance.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QDateTime TenOClock(QDate(2026, 12, 6), QTime(10, 0, 0));
const QByteArray DefaultSettings("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n");

QByteArray http(const QByteArray &body, const QByteArray &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// A portal in the test's own event loop (the transport's wait runs that loop): every request
// gets `reply`, or none at all when it is "slow" or asks for the page `hangOn` (then `onHang` runs).
class TestPortal : public QTcpServer {
public:
    TestPortal()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    targets << socket->readAll().split(' ').value(1);
                    if (!hangOn.isEmpty() && targets.last().contains(hangOn))
                        onHang();
                    else if (reply != "slow")
                        socket->write(reply), socket->disconnectFromHost();
                });
        });
        listen(QHostAddress::LocalHost);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/tad/").arg(serverPort()); }
    QByteArray reply = http("2.04");
    QList<QByteArray> targets;
    QByteArray hangOn;
    std::function<void()> onHang;
};

} // namespace

// The shell: the program folder's files, the portal client and start-up, on a scripted portal, dialogs and views.
class tst_Shell : public QObject {
    Q_OBJECT
private slots:
    void settingsAreReadByTheKeyRules_data()
    {
        // Values before reading are all "-"; the limit is minutes from ten o'clock (-1: none read).
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QStringList>("read");   // password, STOP, time limit
        QTest::addColumn<int>("limit");
        const int year = 365 * 24 * 60;
        QTest::newRow("the default file: no password, STOP free, no limit") << DefaultSettings << QStringList{"", "0", "0"} << year;
        QTest::newRow("no file: the values stay") << QByteArray() << QStringList{"-", "-", "-"} << -1;
        QTest::newRow("keys in another order with other keys between")
            << QByteArray("timer=30 minutes\r\ncolour=blue\r\nstop=0\r\npw=x\r\n") << QStringList{"x", "0", "30 minutes"} << 30;
        QTest::newRow("a repeated key: the later line wins") << QByteArray("stop=1\r\nstop=1\r\nstop=0\r\n") << QStringList{"-", "0", "-"} << -1;
        QTest::newRow("STOP as the preferences show it: spaces around, an unusable value changes nothing")
            << QByteArray("stop=1 \r\nstop=yes\r\n") << QStringList{"-", "1", "-"} << -1;
        QTest::newRow("a second = ends the value") << QByteArray("pw=ab=cd\r\n") << QStringList{"ab", "-", "-"} << -1;
        QTest::newRow("lines without = change nothing") << QByteArray("pw\r\nhello\r\npw=z\r\n") << QStringList{"z", "-", "-"} << -1;
        QTest::newRow("values are not trimmed") << QByteArray("pw= pad \r\n") << QStringList{" pad ", "-", "-"} << -1;
        QTest::newRow("a password line that is not UTF-8 reads byte for byte")
            << QByteArray("pw=caf\xe9\r\nstop=1\r\n") << QStringList{"caf\u00e9", "1", "-"} << -1;
        QTest::newRow("LF and lone CR line ends") << QByteArray("pw=a\nstop=1\rtimer=2 Hours") << QStringList{"a", "1", "2 Hours"} << 120;
        QTest::newRow("10 MiB of NULs and a byte that is not UTF-8 stop nothing")
            << QByteArray(10 * 1024 * 1024, '\0').replace(77, 1, "\xff") + "\r\npw=kept" << QStringList{"kept", "-", "-"} << -1;
        // Our own keys, which the four values pass over.
        QTest::newRow("allowed hours that are not two times are none")
            << QByteArray("daily=0\r\nhours=7 to 19\r\n") << QStringList{"-", "-", "-", "", ""} << -1;
        // The captions, in the order the preferences list them, grant 15 minutes more each; any other, hand-typed, a year.
        const QStringList captions{"15 minutes", "30 minutes", "45 minutes", "1 Hour", "1 Hr. and 15 min.", "1 Hr. and 30 min.", "1 Hr. and 45 min.", "2 Hours"};
        for (const QString &caption : captions + QStringList{"No Limit", "", "2 hours"})
            QTest::addRow("timer=%s", qPrintable(caption)) << "timer=" + caption.toUtf8() << QStringList{"-", "-", caption}
                                                          << (captions.contains(caption) ? int(captions.indexOf(caption) + 1) * 15 : year);
    }
    void settingsAreReadByTheKeyRules()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        QVERIFY(content.isNull() || writeFile(SettingsFile::fileName(dir.path() + '/'), content));
        ParentalSettings read{"-", "-", "-", {}, {}};
        SettingsFile::ReadSettings(dir.path() + '/', TenOClock, read);
        QStringList values{read.Password, read.StopDisabled, read.TimeLimit};
        if (DATA(QStringList, read).size() > 3)
            values << (read.time.wholeDay ? "whole day" : "") << SettingsFile::formatHours(read.time.hours);
        QTEST(values, "read");
        QTEST(read.LimitEnd.isValid() ? int(TenOClock.secsTo(read.LimitEnd) / 60) : -1, "limit");
    }

    void settingsAreWrittenWholeOrNotAtAll()
    {
        // Pasted into a one-line box, a line break would let a value write a line of its own.
        QTemporaryDir dir;
        QString error;
        QVERIFY(!SettingsFile::write(dir.path() + '/', QStringLiteral("frog"), true, QStringLiteral("No Limit\r\npw=."), &error) && !error.isEmpty());
        QVERIFY(!SettingsFile::write(dir.path() + '/', QStringLiteral("fr\nog"), true, QStringLiteral("1 Hour"), &error));
        QVERIFY(QDir(dir.path()).isEmpty());

        // A full disk, as a file size limit: the write fails, says so and leaves the old files as they were.
        QVERIFY(SettingsFile::write(dir.path() + '/', QStringLiteral("frog"), true, QStringLiteral("1 Hour"), &error)
                && UnblockedFile::write(dir.filePath("unblocked.tad"), QStringLiteral("OLD.EXAMPLE"), &error));
        const QByteArray settings = readFile(dir.filePath("control.ini"));
        rlimit limit{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit saved = limit;
        limit.rlim_cur = 16;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        QString settingsError, unblockedError;
        const bool wrote = SettingsFile::write(dir.path() + '/', QString(40, u'p'), false, QStringLiteral("2 Hours"), &settingsError)
                | UnblockedFile::write(dir.filePath("unblocked.tad"), QStringLiteral("A-LONGER-SITE.EXAMPLE"), &unblockedError);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!wrote && !settingsError.isEmpty() && !unblockedError.isEmpty());
        QCOMPARE(readFile(dir.filePath("control.ini")), settings);
        QCOMPARE(readFile(dir.filePath("unblocked.tad")), QByteArray("OLD.EXAMPLE\r\n"));
    }

    void userIdIsMadeOnceAndKept_data()
    {
        QTest::addColumn<QByteArray>("stored"); // the file before; null: none; "/": a folder
        QTest::addColumn<int>("taken");         // "userid.id.bad" names already taken by folders (-1: the folder cannot be written)
        QTest::addColumn<int>("draw");          // the random part drawn
        QTest::addColumn<QString>("id");
        QTest::newRow("new: the local time and a draw of 0") << QByteArray() << 0 << 0 << "202612061000000";
        QTest::newRow("new: the local time and the largest draw") << QByteArray() << 0 << 999999 << "20261206100000999999";
        QTest::newRow("stored: its first line as it stands") << QByteArray("123\r\nsecond line\r\n") << 0 << 7 << "123";
        QTest::newRow("a folder that cannot hold the file still gives an id") << QByteArray() << -1 << 42 << "2026120610000042";
        // The portal refuses an id that is no number: a new one, the old file kept beside it.
        for (const char *bad : {" 123 ", "abc", "", "\r\n12"})
            QTest::addRow("not a number: \"%s\"", bad) << QByteArray(bad) << 1 << 5 << "202612061000005";
        QTest::newRow("a folder: moved aside") << QByteArray("/") << 0 << 6 << "202612061000006";
        QTest::newRow("a folder that cannot move: the spare file, read back") << QByteArray("/") << 10 << 8 << "202612061000008";
    }
    void userIdIsMadeOnceAndKept()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, taken);
        QFETCH(int, draw);
        QTemporaryDir dir;
        const bool writable = taken >= 0;
        const QString folder = writable ? dir.path() + '/' : QStringLiteral("/nonexistent/tadpole/");
        const QString path = Identity::fileName(folder);
        const QString kept = taken == 10 ? path : path + ".bad" + (taken > 0 ? QString::number(taken) : QString()); // where the old one lies after
        for (int n = 0; n < taken; ++n)
            QVERIFY(QDir().mkpath(path + ".bad" + (n ? QString::number(n) : QString())));
        QVERIFY(stored.isNull() || (stored == "/" ? QDir().mkpath(path) : writeFile(path, stored)));
        const Identity::LoadResult result = Identity::LoadUserId(folder, TenOClock, [draw] { return quint32(draw); });
        QTEST(result.userId, "id");
        QCOMPARE(result.error.isEmpty(), writable); // the failure is reported; the id is still used
        const bool moved = taken >= 0 && taken < 10 && !stored.isNull() && !stored.startsWith(result.userId.toLatin1() + "\r\n");
        if (stored.isNull() || QFileInfo(path).isFile())
            QCOMPARE(readFile(path), (stored.isNull() && writable) || moved ? result.userId.toLatin1() + "\r\n" : stored);
        QCOMPARE(stored == "/" ? QFileInfo(kept).isDir() : !stored.isNull() && readFile(kept) == stored, moved || taken == 10);
        QCOMPARE(Identity::LoadUserId(folder, TenOClock.addDays(1)).userId == result.userId, writable); // the next start reads it back
        // Drawn from the system's source, not from the time of day: ids made in the same second differ.
        QSet<QString> ids;
        for (int i = 0; i < 20 && !writable; ++i)
            ids.insert(Identity::LoadUserId(folder, TenOClock).userId);
        QVERIFY(writable || ids.size() > 15);
    }

    // A second start for a folder brings the running copy forward and ends; one that does not answer is waited for, and
    // if it ends meanwhile, the second runs. Another folder is another browser's; a folder in the lock file's place holds.
    void oneRunningCopyPerFolder()
    {
        using Start = SingleInstance::Start;
        for (const bool folderInPlace : {false, true}) {
            QTemporaryDir dir, other;
            const QString folder = dir.path() + '/';
            QVERIFY(!folderInPlace || QDir().mkpath(folder + "tadpole.lock"));
            auto first = std::make_unique<SingleInstance>(folder);
            QSignalSpy forward(first.get(), &SingleInstance::comeForwardRequested);
            QVERIFY(first->start() == Start::Claimed && SingleInstance(other.path() + '/').start() == Start::Claimed);
            std::atomic<int> second = -1; // started on a thread of its own, while this one answers
            std::thread asking([&] { second = int(SingleInstance(folder).start()); });
            QTRY_VERIFY(second >= 0);
            asking.join();
            QVERIFY(Start(second.load()) == Start::HandedOver && forward.size() == 1);
            if (folderInPlace)
                continue;
            QVERIFY(SingleInstance(folder).start() == Start::NotAnswered); // this thread cannot answer meanwhile
            std::thread waiting([&] { second = int(SingleInstance(folder).start()); });
            QThread::msleep(1500);
            first.reset(); // ends without answering
            waiting.join();
            QVERIFY(Start(second.load()) == Start::Claimed);
        }
    }

    void portalIsReachableOnlyWhereItAnswersANumber_data()
    {
        QTest::addColumn<QByteArray>("reply"); // to version.htm; "slow": none within the time-out, "refused": no portal, "": no address
        QTest::addColumn<QString>("failure");  // what a failed fetch says, at least, after "unsure: " where the portal may have had the request; null: the fetch gives the body
        QTest::addColumn<bool>("reachable");
        for (const char *number : {"2.04", " 7 ", "-1.5e3"})
            QTest::addRow("%s", number) << http(number) << QString() << true;
        for (const char *other : {"", "abc", "<html><body>404</body></html>", "2 04"})
            QTest::addRow("\"%s\"", other) << http(other) << QString() << false;
        QTest::newRow("HTTP 500 with a number") << http("3", "500 Internal Server Error") << "unsure: 500" << false;
        QTest::newRow("HTTP 409 with the portal's reason")
            << http("this installation has 500 sites of its own\n", "409 Conflict\r\nContent-Type: text/plain; charset=utf-8")
            << "The portal answered HTTP 409: this installation has 500 sites of its own" << false;
        QTest::newRow("a reply that is not HTTP") << QByteArray("\x01\x02 not http at all\xff\r\n\r\n", 24) << "unsure: " << false;
        QTest::newRow("a 200 head and half its body, then closed") << http("2.04").replace("Length: 4", "Length: 8") << "unsure: " << false;
        QTest::newRow("chunks that never end") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n2.04\r\n") << "unsure: " << false;
        QTest::newRow("9 MiB") << http(QByteArray(9 * 1024 * 1024, 'x')) << "unsure: larger" << false;
        QTest::newRow("a long run of digits, then a letter") << http(QByteArray(300000, '1') + 'x') << QString() << false;
        QTest::newRow("no answer within the time-out") << QByteArray("slow") << "unsure: timed out" << false;
        QTest::newRow("no portal listening") << QByteArray("refused") << "" << false;
        QTest::newRow("no address") << QByteArray() << "" << false;
    }
    void portalIsReachableOnlyWhereItAnswersANumber()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, failure);
        TestPortal portal;
        portal.reply = reply;
        if (reply == "refused")
            portal.close();
        HttpTransport transport(500);
        PortalClient client(transport, reply.isNull() ? QStringLiteral("not an address/") : portal.base());
        const QDeadlineTimer hangGuard(20000);
        const FetchResult fetched = client.request("version.htm", {{"userid", "123"}, {"newname", "Tom & Jerry #1 = 100% \u00d6l\u00e7\u00fc"}});
        QString why;
        const bool reachable = client.checkPortal(&why);
        QVERIFY2(why.isEmpty() == reachable, qPrintable(why)); // a portal that failed the check says why
        QVERIFY2(!hangGuard.hasExpired(), "the time-out must end the wait, long before a late reply, and a reply be read in time");
        // Whatever the answer, a portal got the keys in order and the values encoded.
        QCOMPARE(portal.targets.value(0), reply == "refused" || reply.isNull() ? QByteArray()
                 : QByteArray("/tad/version.htm?userid=123&newname=Tom%20%26%20Jerry%20%231%20%3D%20100%25%20%C3%96l%C3%A7%C3%BC"));
        if (failure.isNull())
            QCOMPARE(fetched.body, std::optional<QByteArray>(reply.mid(reply.indexOf("\r\n\r\n") + 4)));
        else
            QVERIFY2(!fetched.ok() && !fetched.error.isEmpty() && fetched.unsure == failure.startsWith("unsure: ")
                     && fetched.error.contains(failure.mid(fetched.unsure ? 8 : 0)), qPrintable(fetched.error));
        QTEST(reachable, "reachable");
    }

    // Before the table below: its row without a portal ends the program, and every wait after that ends at once.
    void startupWaitsOnAHangingPortalWithoutTakingInput()
    {
        // The real transport on a portal that never sends the names: the window repaints and says what it waits for, a face
        // and STOP clicked, a link dropped and a window asked for start nothing (no filter yet); start-up goes on after the bound.
        TestPortal portal;
        portal.hangOn = "tad_getface.asp";
        QTemporaryDir dir;
        const QString folder = dir.path() + "/TadPole/";
        QVERIFY(QDir().mkpath(folder) && writeFile(folder + "terminate", {})
                && writeFile(folder + "tadpole.conf", "[portal]\nloopback=127.0.0.1:" + QByteArray::number(portal.serverPort())));
        ScriptedWorld world;
        HttpTransport transport(1500);
        BrowserServices services = world.services(folder.chopped(1), dir.path() + "/");
        services.transport = &transport;
        MainWindow window(services);
        struct : QObject {
            int paints = 0, drags = 0;
            bool eventFilter(QObject *, QEvent *e) override { return paints += e->type() == QEvent::Paint, drags += e->type() == QEvent::DragEnter, false; }
        } counter;
        QString seen;
        portal.onHang = [&] {
            window.findChild<QWidget *>("messageLine")->installEventFilter(&counter);
            window.findChild<QWidget *>("messageLine")->update();
            QTimer::singleShot(300, &window, [&] {
                FakeBrowserView *view = world.views.created.at(0);
                view->widget()->installEventFilter(&counter);
                view->widget()->setAcceptDrops(true); // as the engine's view does
                QMimeData link;
                link.setUrls({QUrl("http://blocked.example/")});
                QDragEnterEvent drag(QPoint(5, 5), Qt::CopyAction, &link, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(view->widget(), &drag);
                const NewWindowRequest popup = view->simulateNewWindow();
                seen = window.messageLineText() + (counter.paints ? " painted" : " not painted") + (counter.drags ? " took a dragged link" : "")
                    + (popup.cancel && !popup.newWindow ? "" : " opened a window");
                clickControl(&window, "faceButton2");
                clickControl(&window, "stopButton");
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(window.startupFinished(), 10000);
        QCOMPARE(seen, QStringLiteral("Getting Face Names... painted"));
        QVERIFY(window.isVisible());
        QCOMPARE(world.views.created.at(0)->navigated.join(' ').remove(window.state().userId),
                 portal.base() + "tad_start.asp " + portal.base() + "tad_menu.asp?t=1&userid=");
    }

    void startupTalksToThePortalInOrder_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("answers"); // the pages the portal answers, as "page=reply"
        QTest::addColumn<QString>("order");       // the portal base, then its requests and the view's navigations
        QTest::addColumn<QString>("seen");        // the faces' tips, or the message that ended start-up
        // In a file's place in the program folder: "link NAME TARGET", "folder NAME", "pipe NAME"; or "default": the
        // program's folder lacks the name, so the files go to the default folder.
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QStringList>("configs"); // the system-wide tadpole.conf, then the program folder's
        const auto row = [](const char *name, const QString &commandLine, const QStringList &answers, const QString &order,
                            const QString &seen, const QString &setUp = {}, const QStringList &configs = {}) {
            QTest::newRow(name) << commandLine << answers << order << seen << setUp << configs;
        };
        const QStringList every{"version.htm=2.04", "tad_visit.asp=welcome", "tad_getface.asp=Anna\tBen\tCara\tDan"};
        const QString all = " version.htm tad_start.asp tad_visit.asp?userid={id}&ver=2.04 tad_getface.asp?userid={id} tad_menu.asp?t=1&userid={id}";
        const QString loopback = "http://127.0.0.1:8642/tad/", anna = "Anna's Menu|Ben's Menu|Cara's Menu|Dan's Menu";
        row("every page answered", "1", every, loopback + all, anna);
        row("no portal: the message, before any id", "1", {}, loopback + " version.htm",
            "Tadpole: You cannot connect to the Tadpole Web Portal.  Check your internet connection.");
        row("no visit log, an empty name kept and a missing one by number", "1", {"version.htm=2.04", "tad_getface.asp=Anna\t\tCara"},
            loopback + all, "Anna's Menu|'s Menu|Cara's Menu|Child 4's Menu");
        row("no names: all by number", "1", {"version.htm=2.04", "tad_visit.asp=welcome"}, loopback + all,
            "Child 1's Menu|Child 2's Menu|Child 3's Menu|Child 4's Menu");
        row("2 selects the local network", "2", every, "http://tadpole-portal.lan:8642/tad/" + all, anna);
        row("\"12\" selects the public host", "12", every, "http://www.tadpoleportal.net/tad/" + all, anna);
        row("\"\" selects the public host", "", every, "http://www.tadpoleportal.net/tad/" + all, anna);
        const QString cannot = "Tadpole: Tadpole cannot read {files}%1 (%2). Make it readable for this account, then start Tadpole again.";
        row("settings no one may read: the message, before the portal", "1", every, loopback + ' ', cannot.arg("control.ini", "Permission denied"),
            "link control.ini /proc/sys/vm/drop_caches"); // a file of the kernel's that only takes writes, even root's
        row("a link to nothing", "1", every, loopback + ' ', cannot.arg("unblocked.tad", "No such file or directory"),
            "link unblocked.tad /no/such/disk/unblocked.tad");
        row("a pipe", "1", every, loopback + ' ', cannot.arg("timeused.txt", "it is not a file"), "pipe timeused.txt");
        row("a folder in the id's place is the id's to move aside", "1", every, loopback + all, anna, "folder userid.id");
        row("a folder without the name uses the default folder", "1", every, loopback + all, anna, "default");
        // The portal package's file points a start with no argument at the portal installed beside it;
        // the program folder's keys win over it, key by key; a portal may be reached over https; a closing slash is dropped.
        const QStringList configs{"[portal]\npublic=127.0.0.1:8642/\nlan=HTTPS://kids.lan/\n", "[portal]\nlan=https://www.family.example:8443/\n"};
        row("no argument: the system-wide file's portal", "", every, loopback + all, anna, {}, configs);
        row("2: the program folder's https portal", "2", every, "https://www.family.example:8443/tad/" + all, anna, {}, configs);
        row("2: the system-wide https portal", "2", every, "https://kids.lan/tad/" + all, anna, {}, configs.mid(0, 1));
    }
    void startupTalksToThePortalInOrder()
    {
        const bool defaultFolder = DATA(QString, setUp) == "default";
        QTemporaryDir dir;
        const QString program = dir.path() + (defaultFolder ? "/Kids/Browser" : "/Kids/TadPole");
        const QString files = defaultFolder ? dir.path() + "/default/" : program + '/';
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(dir.path() + "/default") && writeFile(program + "/terminate", {}));
        const QStringList made = DATA(QString, setUp).split(' ');
        if (made[0] == "link" && made[2].startsWith("/proc") && !QFileInfo(made[2]).isFile())
            QSKIP("no write-only file to stand for an unreadable one");
        QVERIFY(made[0] != "link" || QFile::link(made[2], files + made[1]));
        QVERIFY(made[0] != "folder" || QDir().mkpath(files + made[1]));
        QVERIFY(made[0] != "pipe" || mkfifo(QFile::encodeName(files + made[1]).constData(), 0600) == 0);
        QFETCH(QStringList, configs);
        for (int i = 0; i < configs.size(); ++i)
            QVERIFY(writeFile(i ? files + "tadpole.conf" : dir.path() + "/system.conf", configs.at(i).toUtf8()));
        ScriptedWorld world;
        ScriptedTransport &portal = world.transport; // logs its requests; the view's navigations join them
        portal.replies.clear();
        for (const QString &answer : DATA(QStringList, answers))
            portal.replies.insert(answer.section('=', 0, 0), FetchResult::success(answer.section('=', 1).toUtf8()));
        world.commandLine = DATA(QString, commandLine);
        BrowserServices services = world.services(program, dir.path() + "/default/");
        services.systemConfigFile = dir.path() + "/system.conf";
        MainWindow window(services); // starts up from its event loop
        connect(window.view(), &BrowserView::navigationRequested, this, [&](NavigationRequest &r) { portal.requests << r.url.toString(); });
        QTRY_VERIFY(window.startupFinished() || !world.dialogs.messages.isEmpty());
        const ProgramState &g = window.state();
        QTEST(g.portalBase + ' ' + portal.requests.join(' ').remove(g.portalBase).replace("userid=" + g.userId, "userid={id}"), "order");
        QStringList seen;
        for (int face = 0; face < 4 && window.startupFinished(); ++face)
            seen << window.faceToolTip(face);
        for (const ScriptedDialogs::Shown &shown : world.dialogs.messages)
            seen << QString(shown.title + ": " + shown.text).replace(files, "{files}");
        QTEST(seen.join('|'), "seen");
        const bool started = window.startupFinished();
        QCOMPARE(window.isVisible(), started);
        QCOMPARE(g.appFolder, files);
        QCOMPARE(readFile(files + "userid.id"), started ? g.userId.toLatin1() + "\r\n" : QByteArray()); // stored only once logged on
        if (!started)
            return;
        QCOMPARE(readFile(files + "control.ini"), DefaultSettings);
        // The portal in use is allowed by its host and port, without "www." and whatever its scheme.
        const QString portalHost = QUrl(g.portalBase).authority().remove(QRegularExpression("^www\\."));
        QVERIFY2(g.allowList.text().startsWith("http:///," + portalHost + ",") && g.allowList.text().contains(",doubleclick,"), qPrintable(g.allowList.text()));
        QCOMPARE(window.windowTitle() + '|' + window.versionLineText() + '|' + window.messageLineText(),
                 QStringLiteral("Tadpole 2.0|Tadpole Version: 2.04|Grown-ups: the parents' button at the top right, beside STOP, chooses each child's sites."));
        // The first menu ran the program folder's helper; the default folder has none, and that puts no box in front of the child.
        QCOMPARE(world.launcher.started, defaultFolder ? QStringList() : QStringList{files + "terminate"});
    }
};

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
