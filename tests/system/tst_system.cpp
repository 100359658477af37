// The browser count, `terminate` and its launcher on copies of programs under names only this run uses; closing
// windows by title, ours and other programs' on a virtual X server of its own.

#include "support/TestFiles.h"
#include "support/VirtualDisplay.h"
#include "system/BrowserTerminator.h"
#include "system/ProcessList.h"
#include "system/ProgramLauncher.h"
#include "system/WindowCloser.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/OtherProgramsWindow.h"
#include <memory>

namespace {

QByteArray g_display; // empty when no virtual server could be started

class RecordingWindow : public QWidget {
public:
    explicit RecordingWindow(const QString &title, bool refuse = false) : refuse(refuse) { setWindowTitle(title); }
    const bool refuse; // as a window with unsaved work would
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override { ++closeRequests; event->setAccepted(!refuse); }
};

} // namespace

class tst_System : public QObject {
    Q_OBJECT

    const QString m_tag = QStringLiteral("-test%1").arg(QCoreApplication::applicationPid());
    QTemporaryDir m_folder;
    std::vector<std::unique_ptr<QProcess>> m_children;

    // A copy of sleep named `name`, once its exe link names it (bash execs it only later); ignored signals stay so.
    bool startCopy(const QString &name, bool ignoresTerm = false)
    {
        const QString path = m_folder.filePath(name);
        if (!QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), path))
            return false;
        auto &child = m_children.emplace_back(std::make_unique<QProcess>());
        child->start(QStringLiteral("bash"), {"-c", QStringLiteral("%1exec '%2' 100").arg(ignoresTerm ? "trap '' TERM; " : "", path)});
        const auto exe = [&] { return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child->processId()))).fileName(); };
        return child->waitForStarted() && QTest::qWaitFor([&] { return exe() == name; }, 5000);
    }

private slots:
    void cleanup() { m_children.clear(); } // a QProcess kills its program as it goes

    // Each row's entries: "pid:target" is a folder with an exe link, "pid" one whose link cannot be read (a kernel
    // thread, another user's process); no entries, no process root at all. No names: the default ones.
    void countsProcesses()
    {
        const struct { const char *name; QStringList entries, names; int count; } rows[] = {
            {"a deleted executable is still its name, deleted inside a name part of it",
             {"5:/usr/lib/firefox-esr (deleted)", "6:/bin/a (deleted) b"}, {"firefox-esr", "a"}, 1},
            {"only numbered folders with a readable link are processes",
             {"1:/sbin/init", "2", "self:/bin/x", "12a:/bin/y", "0:/bin/idle", "8:/bin/z"}, {"init", "x", "y", "idle", "z"}, 2},
            {"no process root", {}, {}, 0},
            // Whole names, however long, case ignored, as `terminate` ends them: not a helper or another
            // program whose name holds one. Configured names are cleaned of case, spaces and blanks.
            {"browsers by whole name", {"1:/usr/bin/FireFox", "2:/o/firefox-bin", "3:/bin/myfirefox", "4:/bin/firefox ",
                                        "5:/q/qutebrowser-nightly-build", "6:/q/qutebrowser-nightly-build_crashpad_handler"},
             {" FIREFOX", "", "QUTEBROWSER-NIGHTLY-BUILD "}, 2},
            {"ours never, whatever is listed", {"1:/t/Tadpole-x", "2:/t/TERMINATE", "3:/t/QtWebEngineProcess", "4:/t/tadpolex"},
             {"tadpole-x", "terminate", "qtwebengineprocess", "Tadpolex"}, 0},
            // The Kelvin sign lower-cases to an ASCII k.
            {"names beyond ASCII, case ignored", {"1:/b/\u00dcBER", "2:/b/\u212aonqueror", "3:/b/KONQUEROR", "4:/b/uber"},
             {"\u00fcber", "konqueror"}, 3},
        };
        for (const auto &row : rows) {
            QTemporaryDir root;
            for (const QString &entry : row.entries) {
                const QString dir = root.filePath(entry.section(':', 0, 0));
                QVERIFY(QDir().mkpath(dir) && (!entry.contains(':') || QFile::link(entry.section(':', 1), dir + "/exe")));
            }
            const int count = ProcessList(row.entries.isEmpty() ? root.filePath("none") : root.path(),
                                          row.names.isEmpty() ? defaultBrowserNames() : row.names).countOtherBrowsers();
            QVERIFY2(count == row.count, qPrintable(QStringLiteral("%1: %2").arg(row.name).arg(count)));
        }
    }

    void terminateEndsOnlyListedBrowsers()
    {
        const QString program = m_folder.filePath(QStringLiteral("terminate"));
        QString error; // the browser's launcher tells when the program is missing
        QVERIFY(!DetachedLauncher().start(program, &error));
        QVERIFY2(error.contains(program), qPrintable(error));
        QVERIFY(QFile::copy(QStringLiteral(TERMINATE_PROGRAM), program));
        // The parent that starts the program is listed too: it must be spared.
        const QString parent = "parent" + m_tag;
        QStringList listed{parent};
        for (const char *name : {"firefox", "firefox-esr", "tadpole"})
            listed << name + m_tag;
        QVERIFY(writeFile(m_folder.filePath(QStringLiteral("tadpole.conf")), "[browsers]\nnames=" + listed.join(',').toUtf8() + "\n"));
        // Read as the browser reads its files: the system-wide one's names unless the program folder's names its own.
        const QString system = m_folder.filePath(QStringLiteral("system.conf")), portalOnly = m_folder.filePath(QStringLiteral("p.conf"));
        QVERIFY(writeFile(system, "[browsers]\nnames=Pond, ,pond\n") && writeFile(portalOnly, "[portal]\nloopback=x\n"));
        QCOMPARE(readBrowserNames({system, portalOnly}), QStringList{"pond"});
        QCOMPARE(readBrowserNames({system, m_folder.filePath(QStringLiteral("tadpole.conf"))}), normalizedBrowserNames(listed));

        QVERIFY(startCopy("firefox" + m_tag));
        QVERIFY(startCopy("firefox-esr" + m_tag, true));
        for (const char *spared : {"keepme", "myfirefox", "tadpole"})
            QVERIFY(startCopy(spared + m_tag));

        // Never itself or another user's browsers; its parent is spared in the run below.
        const qint64 browser = m_children[0]->processId();
        for (const auto &[uid, self, targets] : {std::tuple{::getuid(), 0LL, 2}, {::getuid(), browser, 1}, {::getuid() + 1, 0LL, 0}})
            QCOMPARE(BrowserTerminator("/proc", listed, uid, self, 0).findTargets().size(), targets);

        // Run by a shell under the listed parent's name, which waits for it and then says so.
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("bash")), m_folder.filePath(parent)));
        QProcess helper;
        QElapsedTimer clock;
        clock.start();
        helper.start(m_folder.filePath(parent), {"-c", QStringLiteral("'%1'; status=$?; echo ended; exit $status").arg(program)});
        QVERIFY2(m_children[0]->waitForFinished(1500), "SIGTERM first");
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.readAllStandardOutput() + QByteArray::number(helper.exitCode()), QByteArray("ended\n0"));
        // The grace, then SIGKILL; the upper bound only says it ended at all on a slow shared machine.
        QVERIFY2(clock.elapsed() >= 1800 && clock.elapsed() <= 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(m_children[1]->waitForFinished(5000));
        for (size_t i = 2; i < m_children.size(); ++i)
            QCOMPARE(m_children[i]->state(), QProcess::Running);
    }

    void closesWindowsByTitle_data()
    {
        // Our windows (a "!" refuses to close; hidden unless a step shows one) and other programs' windows, bottom to top;
        // the steps: "show N" shows our window N above them all, "|" runs the event loop, and titles joined by "+" make one
        // call. Then the close requests each of ours received, and the other programs' windows asked to close, in order.
        QTest::addColumn<QStringList>("ours");
        QTest::addColumn<QByteArrayList>("others");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("requests");
        QTest::addColumn<QList<int>>("asked");
        const QByteArrayList none;
        // The whole title, case ignored; a second call passes over the window whose close is still queued.
        QTest::newRow("ours: one window of the title each call")
            << QStringList{"File Download (2)", "Tadpole Pop-Up", "Security Warning", "File Download", "file download"} << none
            << QStringList{"File", "File Download", "File Download", "Security Warning ", "tadpole pop-up", "|"} << QList<int>{0, 1, 0, 1, 1}
            << QList<int>{};
        QTest::newRow("ours: a refusal is asked again, a closed window only once shown again")
            << QStringList{"Security Warning!", "Tadpole Pop-Up"} << none
            << QStringList{"Security Warning", "Tadpole Pop-Up", "|", "Security Warning", "Tadpole Pop-Up", "|", "show 1", "Tadpole Pop-Up", "|"}
            << QList<int>{2, 2} << QList<int>{};
        // Ours is asked first; its request is still queued when the next call goes to the other
        // program's windows, passing ours over in X11: the topmost of each title (old-style WM_NAME or
        // UTF-8 _NET_WM_NAME, case ignored), all titles in one walk.
        QTest::newRow("theirs after ours, never ours twice")
            << QStringList{"T\u00e9l\u00e9chargement"}
            << QByteArrayList{"Security Warning", "File Download", "T\u00e9l\u00e9chargement", "Security Warning", "T\u00e9l\u00e9chargement", "file download (2)"}
            << QStringList{"show 0", "T\u00c9L\u00c9CHARGEMENT", "SECURITY WARNING+File Download+T\u00e9l\u00e9chargement"} << QList<int>{1}
            << QList<int>{3, 1, 4};
    }
    void closesWindowsByTitle()
    {
        QFETCH(QByteArrayList, others);
        if (!others.isEmpty() && g_display.isEmpty())
            QSKIP("Xvfb could not be started; other programs' windows are not tested");
        // The other program's windows go with its connection.
        const std::unique_ptr<Display, int (*)(Display *)> owner(others.isEmpty() ? nullptr : XOpenDisplay(g_display.constData()), XCloseDisplay);
        QList<Window> windows;
        for (const QByteArray &title : others)
            windows << otherProgramsWindow(owner.get(), title);
        std::vector<std::unique_ptr<RecordingWindow>> mine;
        for (const QString &title : DATA(QStringList, ours))
            mine.push_back(std::make_unique<RecordingWindow>(QString(title).remove('!'), title.endsWith('!')));
        for (const QString &step : DATA(QStringList, steps)) {
            if (step == QLatin1String("|")) {
                QCoreApplication::processEvents();
            } else if (step.startsWith(QLatin1String("show "))) {
                QWidget *window = mine.at(step.mid(5).toInt()).get();
                window->show();
                QVERIFY(QTest::qWaitForWindowExposed(window));
            } else {
                CloseWindowsByTitle(step.split(QLatin1Char('+')));
            }
        }
        QList<int> requests, asked;
        XEvent event{};
        for (int wait = 5000; owner && QTest::qWaitFor([&] { return XCheckTypedEvent(owner.get(), ClientMessage, &event); }, wait); wait = 200)
            asked << int(windows.indexOf(event.xclient.window));
        for (const auto &window : mine)
            requests << window->closeRequests;
        QTEST(requests, "requests");
        QTEST(asked, "asked");
    }
};

int main(int argc, char *argv[])
{
    const VirtualDisplay server("320x240x24"); // outlives the application that connects to it
    g_display = server.name();
    qputenv("QT_QPA_PLATFORM", g_display.isEmpty() ? "offscreen" : "xcb");
    if (!g_display.isEmpty())
        qputenv("DISPLAY", g_display);
    QApplication app(argc, argv);
    tst_System test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_system.moc"
