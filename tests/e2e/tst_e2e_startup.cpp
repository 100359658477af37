#include "E2eSupport.h"
#include "X11Windows.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>


// The real browser program against the real portal.
class tst_E2eStartup : public QObject {
    Q_OBJECT
private slots:
    void startupTalksToThePortalInOrderAndKeepsItsId();
    void unreachablePortalSaysSoAndEndsWithoutAnId();
};

static QProcessEnvironment offscreenEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    return env;
}

static QStringList portalPages(const e2e::PortalProcess &portal)
{
    QStringList pages;
    for (const QString &target : portal.requests(portal.host())) {
        if (target.startsWith(QLatin1String("/tad/")) && !target.contains(QLatin1String("logos/")))
            pages << target.mid(5);
    }
    return pages;
}

void tst_E2eStartup::startupTalksToThePortalInOrderAndKeepsItsId()
{
    e2e::PortalProcess portal;
    QVERIFY(portal.start());
    e2e::ProgramFolder folder(portal.host());

    QProcess browser;
    browser.setProcessEnvironment(offscreenEnvironment());
    browser.start(folder.path(QStringLiteral("tadpole")), {QStringLiteral("1")});
    QVERIFY(browser.waitForStarted());
    QVERIFY2(e2e::waitFor([&] { return portalPages(portal).join(' ').contains(QLatin1String("tad_menu.asp")); }, 60000),
             qPrintable(portalPages(portal).join(QLatin1Char('\n'))));

    const QString id = QString::fromLatin1(folder.read(QStringLiteral("userid.id"))).trimmed();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{15,20}$")).match(id).hasMatch(), qPrintable(id));
    QCOMPARE(folder.read(QStringLiteral("userid.id")), id.toLatin1() + "\r\n");
    // The start page loads while the log-on's requests go out: those three in any order between.
    QStringList pages = portalPages(portal).mid(0, 5);
    std::sort(pages.begin() + 1, pages.begin() + 4);
    QCOMPARE(pages, QStringList({QStringLiteral("version.htm"), QStringLiteral("tad_getface.asp?userid=") + id,
                                 QStringLiteral("tad_start.asp"),
                                 QStringLiteral("tad_visit.asp?userid=") + id + QStringLiteral("&ver=2.04"),
                                 QStringLiteral("tad_menu.asp?t=1&userid=") + id}));
    QCOMPARE(folder.read(QStringLiteral("control.ini")), QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n"));
    browser.terminate();
    QVERIFY(browser.waitForFinished(10000));

    // The second start logs on with the same id.
    QProcess again;
    again.setProcessEnvironment(offscreenEnvironment());
    again.start(folder.path(QStringLiteral("tadpole")), {QStringLiteral("1")});
    QVERIFY(again.waitForStarted());
    QVERIFY(e2e::waitFor([&] { return portalPages(portal).filter(QStringLiteral("tad_visit.asp")).size() == 2; }, 60000));
    QCOMPARE(portalPages(portal).filter(QStringLiteral("tad_visit.asp")).last(),
             QStringLiteral("tad_visit.asp?userid=") + id + QStringLiteral("&ver=2.04"));
    again.terminate();
    QVERIFY(again.waitForFinished(10000));
}

void tst_E2eStartup::unreachablePortalSaysSoAndEndsWithoutAnId()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed: the connection message cannot be seen and answered without a display");

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString deadHost = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    e2e::ProgramFolder folder(deadHost);

    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    QVERIFY(e2e::waitFor([&] { return server.canReadLine() || server.state() != QProcess::Running; }, 10000));
    const QByteArray display = ':' + server.readLine().trimmed();
    QVERIFY(display.size() > 1);

    Display *x = XOpenDisplay(display.constData());
    QVERIFY(x);
    QProcessEnvironment env = offscreenEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    QProcess browser;
    browser.setProcessEnvironment(env);
    browser.start(folder.path(QStringLiteral("tadpole")), {QStringLiteral("1")});
    QVERIFY(browser.waitForStarted());

    Window box = 0;
    const bool shown = e2e::waitFor([&] { return (box = e2e::findTopLevel(x, "Tadpole")) != 0; }, 30000);
    if (shown)
        e2e::askToClose(x, box);
    const bool ended = browser.waitForFinished(20000);
    if (!ended)
        browser.kill();
    XCloseDisplay(x);
    server.terminate();
    server.waitForFinished(5000);

    QVERIFY2(shown, "the connection message never appeared");
    QVERIFY2(ended, "the program did not end after the message");
    QCOMPARE(browser.exitStatus(), QProcess::NormalExit);
    QVERIFY(browser.exitCode() != 0);
    QVERIFY(!QFile::exists(folder.path(QStringLiteral("userid.id"))));
}

QTEST_GUILESS_MAIN(tst_E2eStartup)
#include "tst_e2e_startup.moc"
