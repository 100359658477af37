#include "PortalHarness.h"

#include <QSqlError>
#include <QUrl>

// Runs under pg_virtualenv (Debian postgresql-common), which starts a throw-away server
// and sets PGHOST, PGPORT, PGUSER, PGPASSWORD and PGDATABASE for this process.
class TestPortalPostgres : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void twoInstancesShareOneDatabase();
    void startingOnAReadOnlyDatabaseSaysSo();

private:
    QSqlDatabase database() const { return QSqlDatabase::database(QStringLiteral("test")); }
    QString m_url;
};

void TestPortalPostgres::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("PGPORT") || qEnvironmentVariableIsEmpty("PGHOST"))
        QSKIP("no PostgreSQL server: run this test under pg_virtualenv (Debian package postgresql-common, "
              "with postgresql installed); ctest does so when pg_virtualenv is found at configure time");
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setHost(qEnvironmentVariable("PGHOST"));
    url.setPort(qEnvironmentVariable("PGPORT").toInt());
    url.setUserName(qEnvironmentVariable("PGUSER"));
    url.setPassword(qEnvironmentVariable("PGPASSWORD"));
    url.setPath(QLatin1Char('/') + qEnvironmentVariable("PGDATABASE"));
    m_url = url.toString();

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("test"));
    db.setHostName(qEnvironmentVariable("PGHOST"));
    db.setPort(qEnvironmentVariable("PGPORT").toInt());
    db.setUserName(qEnvironmentVariable("PGUSER"));
    db.setPassword(qEnvironmentVariable("PGPASSWORD"));
    db.setDatabaseName(qEnvironmentVariable("PGDATABASE"));
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
}

void TestPortalPostgres::twoInstancesShareOneDatabase()
{
    PortalRun a, b;
    QVERIFY(a.start({QStringLiteral("--db"), m_url, QStringLiteral("--maintainer"), QStringLiteral("900")}));
    QVERIFY(b.start({QStringLiteral("--db"), m_url}));

    QCOMPARE(a.get("/tad/tad_saveface.asp?userid=61&tface=3&newname=%C3%96l%C3%A7%C3%BC%20%E5%AD%97").status, 200);
    QCOMPARE(b.get("/tad/tad_getface.asp?userid=61").body, QStringLiteral("Child 1\tChild 2\tÖlçü 字\tChild 4").toUtf8());

    QCOMPARE(a.get("/tad/tad_postsite.asp?url=http%3A%2F%2Fa.example%2F&shortname=Tom%20%26%20Jerry&comments=c"
                   "&AgeFrom=3&AgeTo=12&LogoLoc=T_gif.gif&id=0&userid=900&Delete=0&Type=1").status, 200);
    const QByteArray row = b.get("/tad/tad_available.asp?t=2&userid=62").body;
    QVERIFY2(row.endsWith("\t1\t0\t0\tT_gif.gif\r\n"), row.constData());
    const QByteArray id = row.split('\t').value(0);
    QCOMPARE(b.get("/tad/tad_saveitem.asp?item=" + id + "&checked=True&t=2&userid=62").status, 200);
    QVERIFY(a.get("/tad/tad_available.asp?t=2&userid=62").body.contains("\t-1\t"));
    QCOMPARE(a.get("/tad/tad_go.asp?t=2&userid=62&item=" + id).status, 302);

    // Non-maintainer edits through the other instance are refused; the maintainer's delete shows at once.
    QCOMPARE(b.get("/tad/tad_postsite.asp?url=x&shortname=y&comments=&AgeFrom=3&AgeTo=12&LogoLoc=y_gif.gif&id=" + id
                   + "&userid=62&Delete=1").status, 403);
    QCOMPARE(a.get("/tad/tad_postsite.asp?url=x&shortname=y&comments=&AgeFrom=3&AgeTo=12&LogoLoc=y_gif.gif&id=" + id
                   + "&userid=900&Delete=1").status, 200);
    QCOMPARE(b.get("/tad/tad_available.asp?t=2&userid=62").body, QByteArray());
    QCOMPARE(a.stop(), 0);
    QCOMPARE(b.stop(), 0);
}

void TestPortalPostgres::startingOnAReadOnlyDatabaseSaysSo()
{
    const QString name = qEnvironmentVariable("PGDATABASE");
    QSqlQuery q(database());
    QVERIFY(q.exec(QStringLiteral("ALTER DATABASE \"%1\" SET default_transaction_read_only = on").arg(name)));
    QProcess portal;
    portal.start(QStringLiteral(TADPOLE_PORTAL_PROGRAM), {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), m_url});
    const bool finished = portal.waitForFinished(15000);
    QVERIFY(q.exec(QStringLiteral("ALTER DATABASE \"%1\" RESET default_transaction_read_only").arg(name)));
    QVERIFY(finished);
    QCOMPARE(portal.exitCode(), 1);
    const QByteArray error = portal.readAllStandardError();
    QVERIFY2(error.startsWith("tadpole-portal: database: the database is read-only") && error.contains("read-only transaction"),
             error.constData());
}

QTEST_GUILESS_MAIN(TestPortalPostgres)
#include "tst_portalpostgres.moc"
