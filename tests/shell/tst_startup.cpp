#include "support/FakeBrowserView.h"
#include "browsing/MainWindow.h"
#include "shell/StartupPaths.h"
#include "support/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The start-up sequence with scripted portal, dialogs and views.
class tst_Startup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void startupRunsItsStepsInOrder();
    void unreachablePortalEndsStartupBeforeAnyId();
    void missingNamesStillLetStartupFinish();
    void commandLineAndFolderChooseHostAndFiles_data();
    void commandLineAndFolderChooseHostAndFiles();
    void helperIsTheProgramFoldersOrTheInstalledOne();

private:
    BrowserServices services();
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_programFolder;
    std::unique_ptr<ScriptedWorld> m_world;
};

void tst_Startup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_programFolder = m_dir->path() + QStringLiteral("/Kids/TadPole");
    QDir().mkpath(m_programFolder);
    QFile(m_programFolder + QStringLiteral("/terminate")).open(QIODevice::WriteOnly);
    m_world = std::make_unique<ScriptedWorld>();
}

BrowserServices tst_Startup::services()
{
    return m_world->services(m_programFolder, m_dir->path() + QStringLiteral("/default/"));
}

void tst_Startup::startupRunsItsStepsInOrder()
{
    MainWindow window(services());
    QTRY_VERIFY(window.startupFinished());
    const ProgramState &g = window.state();
    const QString folder = m_programFolder + QLatin1Char('/');
    QCOMPARE(g.appFolder, folder);
    QCOMPARE(g.portalBase, QStringLiteral("http://127.0.0.1:8642/tad/"));

    const QString id = g.userId;
    QVERIFY(id.size() >= 15 && id.startsWith(QStringLiteral("20261206100000")));
    QCOMPARE(m_world->transport.requests,
             QStringList({g.portalBase + "version.htm", g.portalBase + "tad_visit.asp?userid=" + id + "&ver=2.04",
                          g.portalBase + "tad_getface.asp?userid=" + id}));
    auto *view = m_world->views.created.at(0);
    QCOMPARE(view->navigated,
             QStringList({g.portalBase + "tad_start.asp", g.portalBase + "tad_menu.asp?t=1&userid=" + id}));
    QCOMPARE(m_world->launcher.started, QStringList({folder + "terminate"}));

    QCOMPARE(window.windowTitle(), QStringLiteral("Tadpole 2.0"));
    QCOMPARE(window.versionLineText(), QStringLiteral("Tadpole Version: 2.04"));
    QCOMPARE(window.messageLineText(), QString());
    QCOMPARE(window.faceToolTip(0), QStringLiteral("Anna's Menu"));
    QCOMPARE(window.faceToolTip(3), QStringLiteral("Dan's Menu"));
    QVERIFY(g.filterOn);
    QCOMPARE(g.currentFace, qint16(0));
    QVERIFY(m_world->dialogs.messages.isEmpty());

    // Files: the settings file made with its defaults, the id stored, and the
    // allow list built from the defaults with the loopback portal as entry 2.
    QVERIFY(QFile::exists(folder + "control.ini"));
    QFile idFile(folder + "userid.id");
    QVERIFY(idFile.open(QIODevice::ReadOnly));
    QCOMPARE(idFile.readAll(), id.toLatin1() + "\r\n");
    QVERIFY(g.allowList.text().startsWith(QStringLiteral("http:///,127.0.0.1:8642,javascript,")));
    QVERIFY(g.allowList.text().endsWith(QStringLiteral(",doubleclick,")));
    QCOMPARE(g.settings.StopDisabled, QStringLiteral("0"));

    // A second start reuses the stored id.
    m_world->transport.requests.clear();
    MainWindow second(services());
    QTRY_VERIFY(second.startupFinished());
    QCOMPARE(second.state().userId, id);
}

void tst_Startup::unreachablePortalEndsStartupBeforeAnyId()
{
    m_world->transport.replies.clear();
    MainWindow window(services());
    QTRY_COMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(m_world->dialogs.messages.at(0).text,
             QStringLiteral("You cannot connect to the Tadpole Web Portal.  Check your internet connection."));
    QCOMPARE(m_world->dialogs.messages.at(0).title, QStringLiteral("Tadpole"));
    QVERIFY(!window.startupFinished());
    QVERIFY(!window.isVisible());
    QCOMPARE(m_world->transport.requests.size(), 1);
    QVERIFY(!QFile::exists(m_programFolder + "/userid.id"));
    QVERIFY(m_world->views.created.at(0)->navigated.isEmpty());
}

void tst_Startup::missingNamesStillLetStartupFinish()
{
    m_world->transport.replies.insert(QStringLiteral("tad_getface.asp"), FetchResult::success("Anna\tBen"));
    m_world->transport.replies.remove(QStringLiteral("tad_visit.asp"));
    MainWindow window(services());
    QTRY_VERIFY(window.startupFinished());
    QCOMPARE(window.faceToolTip(1), QStringLiteral("Ben's Menu"));
    QCOMPARE(window.faceToolTip(2), QStringLiteral("Child 3's Menu"));

    m_world->transport.replies.remove(QStringLiteral("tad_getface.asp"));
    MainWindow again(services());
    QTRY_VERIFY(again.startupFinished());
    QCOMPARE(again.faceToolTip(0), QStringLiteral("Child 1's Menu"));
}

void tst_Startup::commandLineAndFolderChooseHostAndFiles_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("usesDefaultFolder");
    QTest::newRow("2 selects the local network") << "2" << "/Kids/TadPole" << "http://tadpole-portal.lan:8642/tad/" << false;
    QTest::newRow("12 selects the public host") << "12" << "/Kids/TadPole" << "http://www.tadpoleportal.net/tad/" << false;
    QTest::newRow("no argument selects the public host") << "" << "/Kids/TadPole" << "http://www.tadpoleportal.net/tad/" << false;
    QTest::newRow("a folder without the name uses the default folder")
        << "1" << "/Kids/Browser" << "http://127.0.0.1:8642/tad/" << true;
}

void tst_Startup::commandLineAndFolderChooseHostAndFiles()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, subFolder);
    QFETCH(bool, usesDefaultFolder);
    m_programFolder = m_dir->path() + subFolder;
    QDir().mkpath(m_programFolder);
    QDir().mkpath(m_dir->path() + QStringLiteral("/default"));
    BrowserServices s = services();
    s.commandLine = commandLine;
    MainWindow window(s);
    QTRY_VERIFY(window.startupFinished());
    QTEST(window.state().portalBase, "base");
    const QString expectedFolder = usesDefaultFolder ? s.defaultAppFolder : m_programFolder + QLatin1Char('/');
    QCOMPARE(window.state().appFolder, expectedFolder);
    QVERIFY(QFile::exists(expectedFolder + QStringLiteral("userid.id")));
}

void tst_Startup::helperIsTheProgramFoldersOrTheInstalledOne()
{
    // An installed layout: bin/ with libexec/tadpole/ beside it, and a program folder of its own.
    const QString bin = m_dir->path() + QStringLiteral("/usr/bin"), folder = m_dir->path() + QStringLiteral("/home/tadpole/");
    const QString installed = m_dir->path() + QStringLiteral("/usr/libexec/tadpole/terminate");
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(folder) && QDir().mkpath(m_dir->path() + "/usr/libexec/tadpole"));
    QCOMPARE(terminateProgram(folder, bin), QString()); // nowhere
    QVERIFY(QFile(installed).open(QIODevice::WriteOnly));
    QCOMPARE(terminateProgram(folder, bin), installed);
    QVERIFY(QFile(folder + "terminate").open(QIODevice::WriteOnly));
    QCOMPARE(terminateProgram(folder, bin), folder + "terminate"); // a development build's own first

    // A helper that exists nowhere puts no box in front of the child.
    QFile::remove(m_programFolder + QStringLiteral("/terminate"));
    MainWindow window(services());
    QTRY_VERIFY(window.startupFinished());
    QVERIFY(m_world->launcher.started.isEmpty());
    QVERIFY(m_world->dialogs.messages.isEmpty());
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
