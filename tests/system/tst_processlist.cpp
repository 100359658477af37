#include "system/BrowserNames.h"
#include "system/BrowserTerminator.h"
#include "system/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

// Builds a fake proc tree. An entry "pid:target" becomes a folder with an exe
// link to target; "pid" alone a folder without one (a kernel thread, another
// user's process); "pid!" a folder whose exe is a plain file, which readlink
// refuses; "pid:target@uid" also writes a status file with that real uid.
void buildTree(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        QString dirName = entry.section(QLatin1Char(':'), 0, 0);
        QString target = entry.section(QLatin1Char(':'), 1);
        const bool plainFile = dirName.endsWith(QLatin1Char('!'));
        if (plainFile)
            dirName.chop(1);
        const QString dir = root + QLatin1Char('/') + dirName;
        QVERIFY(QDir().mkpath(dir));
        if (plainFile) {
            QFile file(dir + QLatin1String("/exe"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            continue;
        }
        if (target.isEmpty())
            continue;
        const qsizetype at = target.lastIndexOf(QLatin1Char('@'));
        if (at >= 0) {
            QFile status(dir + QLatin1String("/status"));
            QVERIFY(status.open(QIODevice::WriteOnly));
            status.write("Name:\tx\nPPid:\t1\nUid:\t" + target.mid(at + 1).toLatin1()
                         + "\t0\t0\t0\nGid:\t0\t0\t0\t0\n");
            target.truncate(at);
        }
        QVERIFY(::symlink(QFile::encodeName(target).constData(),
                          QFile::encodeName(dir + QLatin1String("/exe")).constData()) == 0);
    }
}

QByteArray joined(const QList<QByteArray> &names)
{
    QByteArray result;
    for (const QByteArray &name : names) {
        if (!result.isEmpty())
            result.append('\0');
        result.append(name);
    }
    return result;
}

} // namespace

class tst_ProcessList : public QObject {
    Q_OBJECT

private slots:
    void listsNamesFromFakeTree_data();
    void listsNamesFromFakeTree();
    void missingRootGivesNothing();
    void countsOverFakeTree_data();
    void countsOverFakeTree();
    void countsRealProcessesByLongName();
    void readsConfiguredBrowserNames_data();
    void readsConfiguredBrowserNames();
    void terminatorPicksOnlyTheUsersBrowsers();
    void cleanup();

private:
    QList<QProcess *> m_children;
};

void tst_ProcessList::cleanup()
{
    for (QProcess *child : std::as_const(m_children)) {
        child->kill();
        child->waitForFinished(2000);
        delete child;
    }
    m_children.clear();
}

void tst_ProcessList::listsNamesFromFakeTree_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("ascending pid order, not the folder's text order")
        << QStringList{"300:/usr/bin/b", "20:/usr/bin/a", "1000:/bin/c"}
        << joined({"a", "b", "c"});
    QTest::newRow("name longer than 15 characters kept whole")
        << QStringList{"5:/opt/q/qutebrowser-nightly-build"}
        << QByteArray("qutebrowser-nightly-build");
    QTest::newRow("replaced executable loses the deleted suffix")
        << QStringList{"5:/usr/lib/firefox-esr/firefox-esr (deleted)"}
        << QByteArray("firefox-esr");
    QTest::newRow("deleted in the middle of a name is part of it")
        << QStringList{"5:/usr/bin/a (deleted) b"} << QByteArray("a (deleted) b");
    QTest::newRow("unreadable entries contribute nothing, not even an empty name")
        << QStringList{"1:/sbin/init", "2", "3!", "4:/usr/bin/bash"}
        << joined({"init", "bash"});
    QTest::newRow("non-numeric entries are not processes")
        << QStringList{"self:/usr/bin/x", "sys", "12a:/bin/y", "0:/bin/idle", "8:/bin/z"}
        << QByteArray("z");
    QTest::newRow("nothing readable gives an empty list")
        << QStringList{"2", "3!"} << QByteArray();
    QTest::newRow("spaces in a name are kept in the listing")
        << QStringList{"9:/usr/bin/ my prog "} << QByteArray(" my prog ");
}

void tst_ProcessList::listsNamesFromFakeTree()
{
    QFETCH(QStringList, entries);
    QFETCH(QByteArray, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    buildTree(root.path(), entries);
    QCOMPARE(ProcessList(root.path()).ListProcessNames(), expected);
}

void tst_ProcessList::missingRootGivesNothing()
{
    const ProcessList list(QStringLiteral("/nonexistent/tadpole-proc"));
    QCOMPARE(list.ListProcessNames(), QByteArray());
    QCOMPARE(list.CountProcesses(ProcessList::otherBrowsersName()), 0);
    QCOMPARE(list.CountProcesses(QStringLiteral("a")), 0);
}

void tst_ProcessList::countsOverFakeTree_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("browsers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    const QStringList defaults = defaultBrowserNames();
    const QString other = ProcessList::otherBrowsersName();
    QTest::newRow("two upper-case browser processes counted by the stand-in name")
        << QStringList{"FIREFOX", "Firefox", "bash"} << defaults << other << 2;
    QTest::newRow("a longer name with a browser name inside counts")
        << QStringList{"myfirefox", "firefox-test1", "keepme"} << defaults << other << 2;
    QTest::newRow("a process fitting several browser names counts once")
        << QStringList{"google-chrome", "firefox-esr"} << defaults << other << 2;
    QTest::newRow("the stand-in with no browsers configured counts nothing")
        << QStringList{"firefox"} << QStringList{} << other << 0;
    QTest::newRow("configured names are taken in any case")
        << QStringList{"vivaldi-bin"} << QStringList{" Vivaldi "} << other << 1;
    QTest::newRow("an empty configured name does not match every process")
        << QStringList{"bash", "chrome", "init"} << QStringList{"", "chrome", " "} << other << 1;
    QTest::newRow("own programs and engine helpers never count, even if configured")
        << QStringList{"tadpole", "Tadpole-portal", "terminate", "QtWebEngineProcess"}
        << QStringList{"tadpole", "terminate", "qtwebengineprocess", "e"} << other << 0;
    QTest::newRow("plain text counts every name containing it")
        << QStringList{"firefox", "campfire", "bash"} << defaults << "fire" << 2;
    QTest::newRow("text in upper case is not lower-cased and finds nothing")
        << QStringList{"firefox", "FIREFOX"} << defaults << "FIREFOX" << 0;
    QTest::newRow("upper-case stand-in is plain text, not the browser list")
        << QStringList{"firefox"} << defaults << "IEXPLORE.EXE" << 0;
    QTest::newRow("spaces around a name are trimmed before the test")
        << QStringList{"  sleep  ", "sleepy"} << defaults << "sleep" << 2;
    QTest::newRow("a text starting with a space misses a trimmed name")
        << QStringList{"  sleep"} << defaults << " sleep" << 0;
}

void tst_ProcessList::countsOverFakeTree()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, browsers);
    QFETCH(QString, text);
    QFETCH(int, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QStringList entries;
    for (qsizetype i = 0; i < names.size(); ++i)
        entries << QStringLiteral("%1:/usr/bin/%2").arg(100 + i).arg(names.at(i));
    buildTree(root.path(), entries);
    QCOMPARE(ProcessList(root.path(), browsers).CountProcesses(text), expected);
}

void tst_ProcessList::countsRealProcessesByLongName()
{
    const QString sleepPath = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    if (sleepPath.isEmpty())
        QSKIP("no sleep program to copy");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // Names only this test's copies have, longer than the 15 characters that
    // comm would keep.
    const QString tag = QStringLiteral("tadpoletest%1").arg(QCoreApplication::applicationPid());
    const QString browser = QStringLiteral("firefox") + tag;
    const QStringList copies{browser + QStringLiteral("-1"), QStringLiteral("my") + browser,
                             QStringLiteral("keepme") + tag};
    for (const QString &name : copies) {
        const QString path = dir.filePath(name);
        QVERIFY(QFile::copy(sleepPath, path));
        auto *child = new QProcess;
        m_children.append(child);
        child->start(path, {QStringLiteral("100")});
        QVERIFY(child->waitForStarted());
    }

    const ProcessList list(QStringLiteral("/proc"), {browser});
    QCOMPARE(list.CountProcesses(ProcessList::otherBrowsersName()), 2);
    QCOMPARE(list.CountProcesses(browser), 2);
    QCOMPARE(list.CountProcesses(browser.toUpper()), 0);
    QCOMPARE(list.CountProcesses(QStringLiteral("keepme") + tag), 1);
    const QList<QByteArray> names = list.ListProcessNames().split('\0');
    for (const QString &name : copies)
        QVERIFY2(names.contains(name.toUtf8()), qPrintable(name));
}

void tst_ProcessList::readsConfiguredBrowserNames_data()
{
    QTest::addColumn<QByteArray>("content");   // "-" for no file at all
    QTest::addColumn<QStringList>("expected");

    const QStringList defaults = defaultBrowserNames();
    QTest::newRow("no file gives the defaults") << QByteArray("-") << defaults;
    QTest::newRow("file without the key gives the defaults")
        << QByteArray("[other]\nnames=x\n") << defaults;
    QTest::newRow("comma list cleaned of case, spaces, blanks and repeats")
        << QByteArray("[browsers]\r\nnames=firefox, Chromium ,,brave,FIREFOX\r\n")
        << QStringList{"firefox", "chromium", "brave"};
    QTest::newRow("quoted list is split as well")
        << QByteArray("[browsers]\nnames=\"firefox,opera\"\n") << QStringList{"firefox", "opera"};
    QTest::newRow("single name") << QByteArray("[browsers]\nnames=vivaldi\n")
                                 << QStringList{"vivaldi"};
    QTest::newRow("empty value gives the defaults")
        << QByteArray("[browsers]\nnames= , \n") << defaults;
    QTest::newRow("comment after the list is not a name")
        << QByteArray("[browsers]\nnames = firefox, opera ; the usual ones\n")
        << QStringList{"firefox", "opera"};
}

void tst_ProcessList::readsConfiguredBrowserNames()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tadpole.conf"));
    if (content != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QCOMPARE(readBrowserNames(path), expected);
}

void tst_ProcessList::terminatorPicksOnlyTheUsersBrowsers()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    buildTree(root.path(), {
        "10:/usr/lib/firefox/firefox@1000",
        "11:/usr/lib/firefox/firefox@1001",          // another user's
        "12:/usr/lib/firefox/firefox@1000",          // ourselves
        "13:/usr/lib/firefox/firefox@1000",          // our parent
        "14:/usr/bin/myfirefox@1000",                // only contains a name
        "15:/usr/lib/Firefox-ESR (deleted)@1000",
        "16:/opt/tadpole/tadpole@1000",
        "17:/usr/lib/qt6/QtWebEngineProcess@1000",
        "18:/usr/lib/firefox/firefox",               // owner unknown
        "19:/usr/lib/chromium/chromium@1000",
        "20",
    });
    const BrowserTerminator terminator(
        root.path(), {"firefox", "firefox-esr", "chromium", "tadpole", "QtWebEngineProcess"},
        1000, 12, 13);
    QList<qint64> pids;
    for (const ProcessEntry &entry : terminator.findTargets())
        pids.append(entry.pid);
    QCOMPARE(pids, (QList<qint64>{10, 15, 19}));
}

QTEST_GUILESS_MAIN(tst_ProcessList)
#include "tst_processlist.moc"
