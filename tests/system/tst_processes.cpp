// The browser count, the `terminate` program and its launcher. Real processes
// are copies of `sleep` under names only this run of the test uses.

#include "system/BrowserTerminator.h"
#include "system/ProcessList.h"
#include "system/ProgramLauncher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

class tst_Processes : public QObject {
    Q_OBJECT

    enum How { Plain, IgnoresTerm };
    const QString m_tag = QStringLiteral("-test%1").arg(QCoreApplication::applicationPid());
    QTemporaryDir m_folder;
    std::vector<std::unique_ptr<QProcess>> m_children;

    // A copy of `program` named `name`, running once its exe link names it (bash execs it only later).
    bool startCopy(const QString &name, How how = Plain, const QString &program = QStringLiteral("sleep"))
    {
        const QString path = m_folder.filePath(name);
        QFile::remove(path); // an earlier case's copy
        if (!QFile::copy(QStandardPaths::findExecutable(program), path))
            return false;
        auto &child = m_children.emplace_back(std::make_unique<QProcess>());
        if (how == Plain) // an ignored signal stays ignored across exec
            child->start(path, {QStringLiteral("100")});
        else
            child->start(QStringLiteral("bash"), {"-c", QStringLiteral("trap '' TERM; exec '%1' 100").arg(path)});
        const auto exe = [&] { return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child->processId()))).fileName(); };
        return child->waitForStarted() && QTest::qWaitFor([&] { return exe() == name; }, 5000);
    }

private slots:
    void cleanup()
    {
        for (const auto &child : m_children) {
            child->kill();
            child->waitForFinished(2000);
        }
        m_children.clear();
    }

    void countsBrowsersInAFakeTree_data()
    {
        // "pid:target" is a folder with an exe link; "pid" one without (a kernel thread, another
        // user's process); "pid!" one whose exe readlink refuses. The browsers are the default
        // names unless names are given.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("browsers");
        QTest::newRow("a deleted executable is still its name") << QStringList{"5:/usr/lib/firefox-esr (deleted)"} << QStringList() << 1;
        QTest::newRow("deleted inside a name is part of it") << QStringList{"5:/bin/a (deleted) b"} << QStringList{"a"} << 0;
        QTest::newRow("only numbered folders with a readable link are processes")
            << QStringList{"1:/sbin/init", "2", "3!", "self:/bin/x", "12a:/bin/y", "0:/bin/idle", "8:/bin/z"}
            << QStringList{"init", "x", "y", "idle", "z"} << 2;
        QTest::newRow("no process root") << QStringList{"-"} << QStringList() << 0;
        // Whole names, case ignored, as `terminate` ends them; never ours.
        QTest::newRow("browsers by whole name")
            << QStringList{"1:/usr/bin/FireFox", "2:/opt/firefox/firefox-bin", "3:/bin/myfirefox", "4:/bin/firefox "} << QStringList() << 1;
        QTest::newRow("ours never, whatever is listed")
            << QStringList{"1:/t/Tadpole-x", "2:/t/TERMINATE", "3:/t/QtWebEngineProcess", "4:/t/tadpolex"}
            << QStringList{"tadpole-x", "terminate", "qtwebengineprocess", "Tadpolex"} << 0;
        // The Kelvin sign lower-cases to an ASCII k.
        QTest::newRow("names beyond ASCII, case ignored")
            << QStringList{"1:/b/\u00dcBER", "2:/b/\u212aonqueror", "3:/b/KONQUEROR", "4:/b/uber"} << QStringList{"\u00fcber", "konqueror"} << 3;
    }
    void countsBrowsersInAFakeTree()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, names);
        QTemporaryDir root;
        for (const QString &entry : entries) {
            const QString dir = root.filePath(entry.section(':', 0, 0).remove('!'));
            QVERIFY(entry == "-" || QDir().mkpath(dir));
            const QByteArray exe = QFile::encodeName(dir + "/exe");
            if (entry.endsWith('!'))
                QVERIFY(QFile(exe).open(QIODevice::WriteOnly));
            else if (entry.contains(':'))
                QCOMPARE(::symlink(QFile::encodeName(entry.section(':', 1)).constData(), exe.constData()), 0);
        }
        const ProcessList list(entries == QStringList{"-"} ? root.filePath("none") : root.path(), names.isEmpty() ? defaultBrowserNames() : names);
        QTEST(list.CountProcesses(ProcessList::otherBrowsersName()), "browsers");
    }

    void countsRealProcesses()
    {
        const QString browser = "firefox" + m_tag; // longer than the 15 characters comm keeps
        for (const QString &name : {browser, browser + "_crashpad_handler", "my" + browser, " FireFox" + m_tag + "-1 "})
            QVERIFY2(startCopy(name), qPrintable(name));

        // Browsers by their whole name, as `terminate` ends them: not a helper or another program
        // whose name holds it. Configured names are cleaned of case, spaces and blanks.
        const ProcessList list(QStringLiteral("/proc"), {" " + browser.toUpper(), ""});
        QCOMPARE(list.CountProcesses(ProcessList::otherBrowsersName()), 1);
        // Other texts: process names lower-cased and trimmed, the text taken as given.
        QCOMPARE(list.CountProcesses(browser), 4);
        QCOMPARE(list.CountProcesses(browser.toUpper()), 0);
        QCOMPARE(list.CountProcesses(" " + browser), 0);
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
        QFile conf(m_folder.filePath(QStringLiteral("tadpole.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[browsers]\nnames=" + listed.join(',').toUtf8() + "\n") > 0);
        conf.close();

        QVERIFY(startCopy("firefox" + m_tag));
        QVERIFY(startCopy("firefox-esr" + m_tag, IgnoresTerm));
        for (const char *spared : {"keepme", "myfirefox", "tadpole"})
            QVERIFY(startCopy(spared + m_tag));

        // Never itself, its parent or another user's browsers.
        const qint64 browser = m_children[0]->processId();
        QCOMPARE(BrowserTerminator("/proc", listed, ::getuid(), 0, 0).findTargets().size(), 2);
        QCOMPARE(BrowserTerminator("/proc", listed, ::getuid(), browser, 0).findTargets().size(), 1);
        QCOMPARE(BrowserTerminator("/proc", listed, ::getuid(), 0, browser).findTargets().size(), 1);
        QVERIFY(BrowserTerminator("/proc", listed, ::getuid() + 1, 0, 0).findTargets().isEmpty());

        // Run by a shell under the listed parent's name, which waits for it and then says how it ended.
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("bash")), m_folder.filePath(parent)));
        QProcess helper;
        QElapsedTimer clock;
        clock.start();
        helper.start(m_folder.filePath(parent), {"-c", QStringLiteral("'%1'; status=$?; echo ended; exit $status").arg(program)});
        QVERIFY2(m_children[0]->waitForFinished(1500), "SIGTERM first");
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.readAllStandardOutput(), QByteArray("ended\n"));
        QCOMPARE(helper.exitCode(), 0);
        const qint64 took = clock.elapsed();
        // The grace, then SIGKILL; the upper bound only says it ended at all on a slow shared machine.
        QVERIFY2(took >= 1800 && took <= 10000, qPrintable(QString::number(took)));
        QVERIFY(m_children[1]->waitForFinished(5000));
        for (size_t i = 2; i < m_children.size(); ++i)
            QCOMPARE(m_children[i]->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(tst_Processes)
#include "tst_processes.moc"
