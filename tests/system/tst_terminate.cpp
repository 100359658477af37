#include "system/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

QString exeName(qint64 pid)
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))).fileName();
}

} // namespace

// Runs a copy of the real program against copies of `sleep` whose names only
// this test uses, listed in a tadpole.conf beside the copy: nothing else on
// the machine can be hit.
class tst_Terminate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void endsListedBrowsersOnly_data();
    void endsListedBrowsersOnly();
    void launcherReportsWhatCannotStart_data();
    void launcherReportsWhatCannotStart();
    void launcherStartsWithoutWaiting();
    void cleanup();

private:
    enum class How { Plain, IgnoresTerm, OtherUser };
    qint64 startCopy(const QString &folder, const QString &name, How how);

    QString m_sleep;
    QString m_tag;
    std::vector<std::unique_ptr<QProcess>> m_children;
};

void tst_Terminate::initTestCase()
{
    m_sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    if (m_sleep.isEmpty())
        QSKIP("no sleep program to copy");
    QVERIFY(QFileInfo(QStringLiteral(TERMINATE_PROGRAM)).isExecutable());
    m_tag = QStringLiteral("-tp%1").arg(QCoreApplication::applicationPid());
}

void tst_Terminate::cleanup()
{
    for (const auto &child : m_children) {
        child->kill();
        child->waitForFinished(2000);
    }
    m_children.clear();
}

qint64 tst_Terminate::startCopy(const QString &folder, const QString &name, How how)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (!QFile::exists(path) && !QFile::copy(m_sleep, path))
        return -1;
    auto child = std::make_unique<QProcess>();
    switch (how) {
    case How::Plain:
        child->start(path, {QStringLiteral("100")});
        break;
    case How::IgnoresTerm:
        // An ignored signal stays ignored across exec, so the copy itself
        // (not a shell) is the process that shrugs off SIGTERM.
        child->start(QStringLiteral("bash"),
                     {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec '%1' 100").arg(path)});
        break;
    case How::OtherUser:
        child->start(QStringLiteral("setpriv"),
                     {"--reuid=65534", "--regid=65534", "--clear-groups", path, "100"});
        break;
    }
    if (!child->waitForStarted())
        return -1;
    const qint64 pid = child->processId();
    // Through bash or setpriv the copy is running once the exe link names it.
    QElapsedTimer clock;
    clock.start();
    while (exeName(pid) != name && clock.elapsed() < 5000)
        QTest::qWait(10);
    m_children.push_back(std::move(child));
    return exeName(pid) == name ? pid : -1;
}

void tst_Terminate::endsListedBrowsersOnly_data()
{
    QTest::addColumn<QStringList>("plain");
    QTest::addColumn<QStringList>("ignoringTerm");
    QTest::addColumn<QStringList>("otherUser");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("ended");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    QTest::newRow("listed browsers end at once; unlisted and longer names live on")
        << QStringList{"firefox", "myfirefox", "keepme", "firefox-extra"} << QStringList{}
        << QStringList{} << QStringList{"firefox", "myfirefox"}
        << QStringList{"firefox", "myfirefox"} << 0 << 1500;
    QTest::newRow("a browser ignoring SIGTERM is killed after the grace")
        << QStringList{"chromium"} << QStringList{"firefox"} << QStringList{}
        << QStringList{"firefox", "chromium"} << QStringList{"firefox", "chromium"} << 1800
        << 3000;
    QTest::newRow("our own programs are never ended, even when listed")
        << QStringList{"tadpole", "firefox"} << QStringList{} << QStringList{}
        << QStringList{"tadpole", "firefox"} << QStringList{"firefox"} << 0 << 1500;
    QTest::newRow("another user's browser lives on")
        << QStringList{"firefox"} << QStringList{} << QStringList{"opera"}
        << QStringList{"firefox", "opera"} << QStringList{"firefox"} << 0 << 1500;
    QTest::newRow("nothing to end: exits at once")
        << QStringList{"keepme"} << QStringList{} << QStringList{} << QStringList{"absent"}
        << QStringList{} << 0 << 1500;
}

void tst_Terminate::endsListedBrowsersOnly()
{
    QFETCH(QStringList, plain);
    QFETCH(QStringList, ignoringTerm);
    QFETCH(QStringList, otherUser);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, ended);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    if (!otherUser.isEmpty()
        && (::getuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())) {
        QSKIP("running a process as another user needs root and setpriv");
    }

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // Another user must be able to run the copies too.
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner
                                      | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    const QString program = folder.filePath(QStringLiteral("terminate"));
    QVERIFY(QFile::copy(QStringLiteral(TERMINATE_PROGRAM), program));

    // This test is the helper's parent: listing its own name proves the
    // parent is spared (a failure ends the test run loudly).
    QStringList names{QFileInfo(QCoreApplication::applicationFilePath()).fileName()};
    for (const QString &name : listed)
        names << name + m_tag;
    QFile conf(folder.filePath(QStringLiteral("tadpole.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[browsers]\nnames=" + names.join(QLatin1Char(',')).toUtf8() + "\n");
    conf.close();

    QMap<QString, qint64> pids;
    const auto start = [&](const QStringList &list, How how) {
        for (const QString &name : list) {
            const qint64 pid = startCopy(folder.path(), name + m_tag, how);
            QVERIFY2(pid > 0, qPrintable(name));
            pids.insert(name, pid);
        }
    };
    start(plain, How::Plain);
    start(ignoringTerm, How::IgnoresTerm);
    start(otherUser, How::OtherUser);

    QProcess helper;
    QElapsedTimer clock;
    clock.start();
    helper.start(program, {});
    QVERIFY(helper.waitForFinished(10000));
    const qint64 took = clock.elapsed();
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    QVERIFY2(took >= minMs && took <= maxMs, qPrintable(QString::number(took)));

    for (const auto &child : m_children) {
        const QString name = pids.key(child->processId());
        if (ended.contains(name)) {
            QVERIFY2(child->waitForFinished(qMax<qint64>(0, 3000 - took)), qPrintable(name));
        } else {
            QVERIFY2(child->state() == QProcess::Running, qPrintable(name));
            QCOMPARE(exeName(child->processId()), name + m_tag);
        }
    }
}

void tst_Terminate::launcherReportsWhatCannotStart_data()
{
    QTest::addColumn<QString>("file");         // made in a temporary folder
    QTest::addColumn<QByteArray>("content");   // "-" for a folder, "" for nothing

    QTest::newRow("missing program") << "terminate" << QByteArray();
    QTest::newRow("file that may not be run") << "terminate" << QByteArray("#!/bin/sh\n");
    QTest::newRow("folder in the program's place") << "terminate" << QByteArray("-");
}

void tst_Terminate::launcherReportsWhatCannotStart()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(file);
    if (content == "-") {
        QVERIFY(QDir().mkdir(path));
    } else if (!content.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
        out.close();
        QVERIFY(out.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    }
    DetachedLauncher launcher;
    QString error;
    QVERIFY(!launcher.start(path, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    // A null error pointer is allowed too.
    QVERIFY(!launcher.start(path, nullptr));
}

void tst_Terminate::launcherStartsWithoutWaiting()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString marker = folder.filePath(QStringLiteral("ran"));
    const QString script = folder.filePath(QStringLiteral("terminate"));
    QFile out(script);
    QVERIFY(out.open(QIODevice::WriteOnly));
    // Waits long enough that a launcher which waited would be caught.
    out.write("#!/bin/sh\nsleep 2\ntouch ran\n");
    out.close();
    QVERIFY(out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    DetachedLauncher launcher;
    QString error = QStringLiteral("stale");
    QElapsedTimer clock;
    clock.start();
    QVERIFY(launcher.start(script, &error));
    QVERIFY(clock.elapsed() < 1500);
    QVERIFY(error.isEmpty());
    // The working folder is the program's own: the marker lands beside it.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
}

QTEST_GUILESS_MAIN(tst_Terminate)
#include "tst_terminate.moc"
