#include "PortalHarness.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

namespace {
QByteArray enc(const QString &s)
{
    return QUrl::toPercentEncoding(s);
}

QByteArray postSite(const QString &userid, const QString &name, qint64 id, const QByteArray &type,
                    const QByteArray &del = "0", const QString &url = QStringLiteral("http://zoo.example/"))
{
    QByteArray t = "/tad/tad_postsite.asp?url=" + enc(url) + "&shortname=" + enc(name) + "&comments=" + enc(name)
                   + "&AgeFrom=3&AgeTo=12&LogoLoc=" + enc(name.left(1) + "_gif.gif") + "&id=" + QByteArray::number(id)
                   + "&userid=" + userid.toLatin1() + "&Delete=" + del;
    if (del != "1")
        t += "&Type=" + type;
    return t;
}

QList<QList<QByteArray>> rows(const QByteArray &body)
{
    QList<QList<QByteArray>> out;
    QList<QByteArray> pieces = body.split('\n');
    for (QByteArray row : pieces) {
        if (row.isEmpty())
            continue;
        row.chop(1);  // the CR
        out.append(row.split('\t'));
    }
    return out;
}

QList<QByteArray> rowFor(const QByteArray &body, const QByteArray &name)
{
    for (const auto &r : rows(body)) {
        if (r.value(1) == name)
            return r;
    }
    return {};
}

// The go link of a menu's tile for that site, as a browser follows it.
QByteArray goLinkOnMenu(const QByteArray &menu, int item)
{
    static const QRegularExpression link(QStringLiteral("href=\"(tad_go\\.asp\\?[^\"]*)\""));
    for (auto it = link.globalMatch(QString::fromUtf8(menu)); it.hasNext();) {
        const QByteArray href = it.next().captured(1).toUtf8().replace("&amp;", "&");
        if (href.endsWith("&item=" + QByteArray::number(item)))
            return "/tad/" + href;
    }
    return {};
}

QByteArray withValue(QByteArray target, const QByteArray &key, const QByteArray &value)
{
    const QRegularExpression pair(QStringLiteral("([?&])%1=[^&]*").arg(QString::fromLatin1(key)));
    return QString::fromLatin1(target).replace(pair, QStringLiteral("\\1%1=%2").arg(QString::fromLatin1(key), QString::fromLatin1(value))).toLatin1();
}

// One keep-alive connection, so thousands of requests take seconds.
class KeepAliveClient {
public:
    explicit KeepAliveClient(quint16 port) { m_socket.connectToHost(QStringLiteral("127.0.0.1"), port); }
    int get(const QByteArray &target)
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState && !m_socket.waitForConnected(5000))
            return 0;
        m_socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray raw;
        qsizetype end = -1;
        while ((end = raw.indexOf("\r\n\r\n")) < 0 && m_socket.waitForReadyRead(5000))
            raw += m_socket.readAll();
        if (end < 0)
            return 0;
        HttpResult head;
        head.head = raw.left(end);
        const qsizetype length = head.header("Content-Length").toLongLong();
        while (raw.size() < end + 4 + length && m_socket.waitForReadyRead(5000))
            raw += m_socket.readAll();
        return raw.size() == end + 4 + length ? parseHttp(raw).status : 0;
    }

private:
    QTcpSocket m_socket;
};

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

class TestPortalServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void replyForms();
    void hostileTextRoundTrips_data();
    void hostileTextRoundTrips();
    void installationsAreScoped();
    void maintainerRules();
    void refusedRequestsChangeNothing_data();
    void refusedRequestsChangeNothing();
    void logoNames_data();
    void logoNames();
    void goLinks_data();
    void goLinks();
    void readersWithMadeUpIdsCannotBlowUpMemory_data();
    void readersWithMadeUpIdsCannotBlowUpMemory();
    void databaseErrorsAreToldOnStandardError();
    void olderSchemaIsCarriedForward();
    void malformedHttpIsRefusedAndServingGoesOn_data();
    void malformedHttpIsRefusedAndServingGoesOn();
    void restartKeepsEverything();
    void killDuringBurstLosesNothingAnswered();
    void demoFamilyAndSites();

private:
    QStringList dbArgs() const { return {QStringLiteral("--db"), QStringLiteral("sqlite:") + dbPath()}; }
    QString dbPath() const { return m_dir->filePath(QStringLiteral("portal.sqlite")); }
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PortalRun> m_portal;
};

void TestPortalServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_portal = std::make_unique<PortalRun>();
    QVERIFY(m_portal->start(dbArgs() + QStringList{"--maintainer", "900", "--access-log", m_dir->filePath("access.log")}));
}

void TestPortalServer::cleanup()
{
    m_portal.reset();
    m_dir.reset();
}

void TestPortalServer::replyForms()
{
    QVERIFY(m_portal->listeningLine().startsWith("listening on http://127.0.0.1:"));
    QVERIFY(m_portal->listeningLine().endsWith("/tad/"));
    QCOMPARE(m_portal->get("/tad/version.htm").body, QByteArray("2.04"));
    QCOMPARE(m_portal->get("/tad/tad_visit.asp?userid=2026120612000012345&ver=2.04").status, 200);
    QCOMPARE(m_portal->get("/tad/tad_getface.asp?userid=2026120612000012345").body,
             QByteArray("Child 1\tChild 2\tChild 3\tChild 4"));
    QCOMPARE(m_portal->get("/tad/tad_getface.asp?userid=").body, QByteArray("Child 1\tChild 2\tChild 3\tChild 4"));

    QCOMPARE(m_portal->get(postSite("11", "Alpha", 0, "2")).status, 200);
    QCOMPARE(m_portal->get(postSite("11", "Beta", 0, "2")).status, 200);
    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=2&checked=True&t=3&userid=11").status, 200);
    const QByteArray body = m_portal->get("/tad/tad_available.asp?t=3&userid=11").body;
    QCOMPARE(body, QByteArray("1\tAlpha\thttp://zoo.example/\t3 to 12\tAlpha\t2\t1\t0\tA_gif.gif\r\n"
                              "2\tBeta\thttp://zoo.example/\t3 to 12\tBeta\t2\t1\t-1\tB_gif.gif\r\n"));
    QCOMPARE(m_portal->get("/tad/tad_available.asp?t=2&userid=11").body.count("-1"), 0);

    const HttpResult radio = m_portal->get("/tad/radiodis.htm");
    QCOMPARE(radio.status, 200);
    QVERIFY(!radio.body.contains("<title"));
    for (const QByteArray page : {"/tad/tad_start.asp", "/tad/tadpole.asp?userid=11"}) {
        const HttpResult r = m_portal->get(page);
        QCOMPARE(r.status, 200);
        QVERIFY(r.body.contains("<title>"));
    }
    const QByteArray menu = m_portal->get("/tad/tad_menu.asp?t=3&userid=11").body;
    QVERIFY(menu.contains("<title>Child 3's menu</title>"));
    QVERIFY(QString::fromUtf8(menu).contains(
        QRegularExpression(QStringLiteral("href=\"tad_go\\.asp\\?sig=[0-9a-f]{32}&amp;t=3&amp;userid=11&amp;item=2\""))));
    QVERIFY(!menu.contains("item=1\""));

    QFile log(m_dir->filePath("access.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    const QByteArray port = QByteArray::number(m_portal->port());
    QCOMPARE(lines.value(0), "127.0.0.1:" + port + " GET /tad/version.htm");
    QCOMPARE(lines.value(1), "127.0.0.1:" + port + " GET /tad/tad_visit.asp?userid=2026120612000012345&ver=2.04");
}

void TestPortalServer::hostileTextRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("query punctuation") << QStringLiteral("Tom & Jerry's Zoo #1 = 100%");
    QTest::newRow("non-Latin letters") << QStringLiteral("Ölçü 字");
    QTest::newRow("markup") << QStringLiteral("<script>alert(\"x\")</script>");
    QTest::newRow("SQL") << QStringLiteral("x'); DROP TABLE sites; --");
    QTest::newRow("plus signs") << QStringLiteral("1+1=2");
}

void TestPortalServer::hostileTextRoundTrips()
{
    QFETCH(QString, text);
    QCOMPARE(m_portal->get("/tad/tad_saveface.asp?userid=5&tface=2&newname=" + enc(text)).status, 200);
    QCOMPARE(m_portal->get("/tad/tad_getface.asp?userid=5").body, "Child 1\t" + text.toUtf8() + "\tChild 3\tChild 4");

    QCOMPARE(m_portal->get(postSite("5", text, 0, "2", "0", QStringLiteral("http://a.example/?q=") + text)).status, 200);
    const QList<QByteArray> row = rowFor(m_portal->get("/tad/tad_available.asp?t=2&userid=5").body, text.toUtf8());
    QCOMPARE(row.size(), 9);
    QCOMPARE(row[2], (QStringLiteral("http://a.example/?q=") + text).toUtf8());
    QCOMPARE(row[4], text.toUtf8());
    QCOMPARE(row[8], (text.left(1) + QStringLiteral("_gif.gif")).toUtf8());

    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=" + row[0] + "&checked=True&t=2&userid=5").status, 200);
    const QByteArray menu = m_portal->get("/tad/tad_menu.asp?t=2&userid=5").body;
    QVERIFY(menu.contains("<span>" + text.toHtmlEscaped().toUtf8() + "</span>"));
    QVERIFY(menu.contains("<title>" + (text + QStringLiteral("'s menu")).toHtmlEscaped().toUtf8() + "</title>"));
    if (text.contains(u'<'))
        QVERIFY(!menu.contains(text.toUtf8()));
}

void TestPortalServer::installationsAreScoped()
{
    QCOMPARE(m_portal->get(postSite("100", "Private A", 0, "2")).status, 200);
    QCOMPARE(m_portal->get("/tad/tad_saveface.asp?userid=100&tface=1&newname=Ann").status, 200);
    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=100").status, 200);

    QCOMPARE(m_portal->get("/tad/tad_available.asp?t=1&userid=200").body, QByteArray());
    QCOMPARE(m_portal->get("/tad/tad_available.asp?t=1&userid=").body, QByteArray());
    QCOMPARE(m_portal->get("/tad/tad_getface.asp?userid=200").body, QByteArray("Child 1\tChild 2\tChild 3\tChild 4"));
    const QString before = dumpDatabase(dbPath());
    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=200").status, 404);
    QCOMPARE(m_portal->get(postSite("200", "Taken over", 1, "2")).status, 403);
    QCOMPARE(m_portal->get(postSite("200", "Private A", 1, "", "1")).status, 403);
    const QByteArray go = goLinkOnMenu(m_portal->get("/tad/tad_menu.asp?t=1&userid=100").body, 1);
    QCOMPARE(m_portal->get(withValue(go, "userid", "200")).status, 404);
    QCOMPARE(dumpDatabase(dbPath()), before);
    QCOMPARE(m_portal->get(go).status, 302);
}

void TestPortalServer::maintainerRules()
{
    // 900 is the maintainer; 300 and 400 are ordinary installations.
    QCOMPARE(m_portal->get(postSite("900", "Public", 0, "1")).status, 200);
    QCOMPARE(m_portal->get(postSite("300", "Wants public", 0, "1")).status, 200);
    QCOMPARE(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=400").body, "Public").value(5), "1");
    QCOMPARE(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=300").body, "Wants public").value(5), "2");
    QVERIFY(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=400").body, "Wants public").isEmpty());

    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=400").status, 200);
    const QString before = dumpDatabase(dbPath());
    QCOMPARE(m_portal->get(postSite("300", "Vandalised", 1, "2")).status, 403);
    QCOMPARE(m_portal->get(postSite("300", "Public", 1, "", "1")).status, 403);
    QCOMPARE(dumpDatabase(dbPath()), before);

    // An empty type keeps the site public.
    QCOMPARE(m_portal->get(postSite("900", "Public renamed", 1, "")).status, 200);
    QCOMPARE(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=400").body, "Public renamed").value(5), "1");
    // A private site edited with an empty type stays private.
    QCOMPARE(m_portal->get(postSite("300", "Still mine", 2, "")).status, 200);
    QCOMPARE(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=300").body, "Still mine").value(5), "2");

    QCOMPARE(m_portal->get(postSite("900", "Public renamed", 1, "", "1")).status, 200);
    QVERIFY(rowFor(m_portal->get("/tad/tad_available.asp?t=1&userid=400").body, "Public renamed").isEmpty());
    QVERIFY(!dumpDatabase(dbPath()).contains(QStringLiteral("ticks:400|1|1|")));
}

void TestPortalServer::refusedRequestsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    const QString longName(101, u'x');
    QTest::newRow("saveitem without userid") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=1") << 400;
    QTest::newRow("saveitem with t 0") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=0&userid=7") << 400;
    QTest::newRow("saveitem with t 5") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=5&userid=7") << 400;
    QTest::newRow("saveitem with t x") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=x&userid=7") << 400;
    QTest::newRow("saveitem with item x") << QByteArray("/tad/tad_saveitem.asp?item=x&checked=True&t=1&userid=7") << 400;
    QTest::newRow("saveitem checked maybe") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=Maybe&t=1&userid=7") << 400;
    QTest::newRow("saveitem unknown site") << QByteArray("/tad/tad_saveitem.asp?item=99&checked=True&t=1&userid=7") << 404;
    QTest::newRow("saveitem with empty userid") << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=") << 400;
    QTest::newRow("saveface with letters in userid") << QByteArray("/tad/tad_saveface.asp?userid=12a&tface=1&newname=X") << 400;
    QTest::newRow("saveface over-long name") << "/tad/tad_saveface.asp?userid=7&tface=1&newname=" + longName.toLatin1() << 400;
    QTest::newRow("saveface name with TAB") << QByteArray("/tad/tad_saveface.asp?userid=7&tface=1&newname=a%09b") << 400;
    QTest::newRow("saveface name not UTF-8") << QByteArray("/tad/tad_saveface.asp?userid=7&tface=1&newname=%FF") << 400;
    QTest::newRow("postsite without Delete") << postSite("7", "N", 0, "2").replace("&Delete=0", "") << 400;
    QTest::newRow("postsite Delete 2") << postSite("7", "N", 0, "2", "2") << 400;
    QTest::newRow("postsite Type 3") << postSite("7", "N", 0, "3") << 400;
    QTest::newRow("postsite id x") << postSite("7", "N", 0, "2").replace("&id=0", "&id=x") << 400;
    QTest::newRow("postsite empty short name") << postSite("7", "", 0, "2") << 400;
    QTest::newRow("postsite name with CR LF") << postSite("7", "a\r\nb", 0, "2") << 400;
    QTest::newRow("postsite logo with traversal") << postSite("7", "N", 0, "2").replace("LogoLoc=N_gif.gif", "LogoLoc=..%2Fx") << 400;
    QTest::newRow("postsite edit of unknown site") << postSite("7", "N", 99, "2") << 404;
    QTest::newRow("postsite delete of unknown site") << postSite("7", "N", 99, "", "1") << 404;
    QTest::newRow("postsite delete of id 0") << postSite("7", "N", 0, "", "1") << 400;
    QTest::newRow("postsite edit of another's site") << postSite("7", "N", 1, "2") << 403;
    QTest::newRow("suggestion without email") << QByteArray("/tad/tad_suggestsite.asp?userid=7&url=x") << 400;
    QTest::newRow("visit without ver") << QByteArray("/tad/tad_visit.asp?userid=7") << 400;
    QTest::newRow("available with t 9") << QByteArray("/tad/tad_available.asp?t=9&userid=7") << 400;
    QTest::newRow("menu without t") << QByteArray("/tad/tad_menu.asp?userid=7") << 400;
    QTest::newRow("go with an over-long item") << QByteArray("/tad/tad_go.asp?t=1&userid=8&item=99999999999999999999") << 400;
    QTest::newRow("saveitem userid led by a byte-order mark")
        << QByteArray("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=%EF%BB%BF8") << 400;
    QTest::newRow("saveface name with next line U+0085") << QByteArray("/tad/tad_saveface.asp?userid=8&tface=1&newname=a%C2%85b") << 400;
    QTest::newRow("saveface name with C1 control U+009B") << QByteArray("/tad/tad_saveface.asp?userid=8&tface=1&newname=a%C2%9Bb") << 400;
    QTest::newRow("saveface name with line separator U+2028") << QByteArray("/tad/tad_saveface.asp?userid=8&tface=1&newname=a%E2%80%A8b") << 400;
    QTest::newRow("postsite comment with paragraph separator U+2029")
        << postSite("8", "N", 0, "2").replace("&comments=N", "&comments=a%E2%80%A9b") << 400;
}

void TestPortalServer::refusedRequestsChangeNothing()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QCOMPARE(m_portal->get(postSite("8", "Owned by 8", 0, "2")).status, 200);
    const QString before = dumpDatabase(dbPath());
    const HttpResult r = m_portal->get(target);
    QCOMPARE(r.status, status);
    QVERIFY(!r.body.isEmpty());
    QCOMPARE(r.body.count('\n'), 1);
    QCOMPARE(dumpDatabase(dbPath()), before);
}

void TestPortalServer::logoNames_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("type");
    QTest::newRow("default logo, two slashes") << QByteArray("/tad//logos/default_logo.gif") << 200 << QByteArray("image/gif");
    QTest::newRow("letter logo, one slash") << QByteArray("/tad/logos/Z_gif.gif") << 200 << QByteArray("image/svg+xml");
    QTest::newRow("non-ASCII letter") << QByteArray("/tad//logos/%E5%AD%97_gif.gif") << 200 << QByteArray("image/svg+xml");
    QTest::newRow("encoded traversal") << QByteArray("/tad//logos/..%2Fportal.sqlite") << 404 << QByteArray();
    QTest::newRow("plain traversal") << QByteArray("/tad/logos/../../etc/passwd") << 404 << QByteArray();
    QTest::newRow("backslash") << QByteArray("/tad/logos/..%5C..%5Cx") << 404 << QByteArray();
    QTest::newRow("no name") << QByteArray("/tad//logos/") << 404 << QByteArray();
    QTest::newRow("NUL as the letter") << QByteArray("/tad/logos/%00_gif.gif") << 404 << QByteArray();
    QTest::newRow("line feed as the letter") << QByteArray("/tad/logos/%0A_gif.gif") << 404 << QByteArray();
}

void TestPortalServer::logoNames()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    const HttpResult r = m_portal->get(target);
    QCOMPARE(r.status, status);
    if (status == 200) {
        QCOMPARE(r.header("Content-Type"), type);
        QVERIFY(!r.body.isEmpty());
    }
}

// Installation 12 has site 1 at `address` and site 2 elsewhere, ticked for child 1 (and
// site 1 for child 2 too); a go link from child 1's menu, then changed as `change` says.
void TestPortalServer::goLinks_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");
    const QString zoo = QStringLiteral("www.zoo.example/a b");
    const QByteArray zooLocation = "http://www.zoo.example/a%20b";
    QTest::newRow("the link a menu made; the address gets a scheme") << zoo << "" << 302 << zooLocation;
    QTest::newRow("an address parameter of its own is ignored") << zoo << "add url" << 302 << zooLocation;
    QTest::newRow("made by hand, without a signature") << zoo << "drop sig" << 404 << QByteArray();
    QTest::newRow("one digit of the signature changed") << zoo << "change a digit" << 404 << QByteArray();
    QTest::newRow("another site's signature") << zoo << "sig of site 2" << 404 << QByteArray();
    QTest::newRow("the signature for child 2, used for child 1") << zoo << "sig of child 2" << 404 << QByteArray();
    QTest::newRow("another installation's id, the site ticked for both") << zoo << "userid 13" << 404 << QByteArray();
    QTest::newRow("the site's address changed since the menu") << zoo << "edit address" << 404 << QByteArray();
    QTest::newRow("the site unticked since the menu") << zoo << "untick" << 404 << QByteArray();
    QTest::newRow("a script address") << "javascript:alert(1)" << "" << 404 << QByteArray();
    QTest::newRow("stored http:evil.example, no host") << "http:evil.example" << "" << 404 << QByteArray();
    QTest::newRow("stored http:/evil.example, no host") << "http:/evil.example" << "" << 404 << QByteArray();
    QTest::newRow("stored http:///evil.example, no host") << "http:///evil.example" << "" << 404 << QByteArray();
    QTest::newRow("stored //evil.example/, no scheme, no host") << "//evil.example/" << "" << 404 << QByteArray();
    QTest::newRow("stored http:\\\\evil.example, backslashes") << "http:\\\\evil.example" << "" << 404 << QByteArray();
}

void TestPortalServer::goLinks()
{
    QFETCH(QString, address);
    QFETCH(QString, change);
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QCOMPARE(m_portal->get(postSite("12", "First", 0, "2", "0", address)).status, 200);
    QCOMPARE(m_portal->get(postSite("12", "Second", 0, "2", "0", QStringLiteral("http://second.example/"))).status, 200);
    for (const char *tick : {"item=1&checked=True&t=1", "item=2&checked=True&t=1", "item=1&checked=True&t=2"})
        QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?" + QByteArray(tick) + "&userid=12").status, 200);
    const QByteArray menu = m_portal->get("/tad/tad_menu.asp?t=1&userid=12").body;
    QByteArray go = goLinkOnMenu(menu, 1);
    QVERIFY2(go.contains("?sig="), menu.constData());
    const auto signature = [](const QByteArray &link) { return link.mid(link.indexOf("?sig=") + 5, 32); };
    const QByteArray sig = signature(go);

    if (change == QLatin1String("add url"))
        go += "&url=http%3A%2F%2Fevil.example%2F";
    else if (change == QLatin1String("drop sig"))
        go.remove(go.indexOf("sig="), 4 + 32 + 1);
    else if (change == QLatin1String("change a digit"))
        go = withValue(go, "sig", (sig.at(0) == '0' ? "1" : "0") + sig.mid(1));
    else if (change == QLatin1String("sig of site 2"))
        go = withValue(go, "sig", signature(goLinkOnMenu(menu, 2)));
    else if (change == QLatin1String("sig of child 2"))
        go = withValue(goLinkOnMenu(m_portal->get("/tad/tad_menu.asp?t=2&userid=12").body, 1), "t", "1");
    else if (change == QLatin1String("userid 13")) {
        // A public site ticked by both: only the signature tells 12's link from 13's.
        QCOMPARE(m_portal->get(postSite("900", "Public", 0, "1", "0", QStringLiteral("http://public.example/"))).status, 200);
        for (const char *userid : {"12", "13"})
            QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=3&checked=True&t=1&userid=" + QByteArray(userid)).status, 200);
        go = withValue(goLinkOnMenu(m_portal->get("/tad/tad_menu.asp?t=1&userid=12").body, 3), "userid", "13");
    }
    else if (change == QLatin1String("edit address"))
        QCOMPARE(m_portal->get(postSite("12", "First", 1, "2", "0", QStringLiteral("http://elsewhere.example/"))).status, 200);
    else if (change == QLatin1String("untick"))
        QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=1&checked=False&t=1&userid=12").status, 200);

    const HttpResult r = m_portal->get(go);
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("Location"), location);
}

void TestPortalServer::readersWithMadeUpIdsCannotBlowUpMemory_data()
{
    QTest::addColumn<int>("readers");
    QTest::addColumn<bool>("ownRows");
    QTest::newRow("4,000 readers with made-up ids") << 4000 << false;
    QTest::newRow("300 installations with a tick of their own each") << 300 << true;
}

// 100 public sites with long comments make every site list about 200 KB; each reader
// reads two children's lists, a menu and the names.
void TestPortalServer::readersWithMadeUpIdsCannotBlowUpMemory()
{
    QFETCH(int, readers);
    QFETCH(bool, ownRows);
    KeepAliveClient client(m_portal->port());
    const QString comment(1990, u'c');
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(client.get(postSite("900", QStringLiteral("Site %1").arg(i), 0, "1").replace("&comments=Site", "&comments=" + comment.toLatin1())),
                 200);
    }
    QList<QByteArray> ids;
    for (int i = 0; i < readers; ++i)
        ids.append(QByteArray::number(7100000000000000000LL + i * 7919LL));
    if (ownRows) {
        for (const QByteArray &id : ids)
            QCOMPARE(client.get("/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=" + id), 200);
    }
    QCOMPARE(client.get("/tad/tad_available.asp?t=1&userid=1"), 200);
    const qint64 before = residentKiB(m_portal->pid());
    QVERIFY(before > 0);
    for (const QByteArray &id : ids) {
        for (const char *page : {"tad_available.asp?t=1&", "tad_available.asp?t=2&", "tad_menu.asp?t=1&", "tad_getface.asp?"})
            QCOMPARE(client.get("/tad/" + QByteArray(page) + "userid=" + id), 200);
    }
    const qint64 after = residentKiB(m_portal->pid());
    qInfo("VmRSS %lld MB, then %lld MB", before / 1024, after / 1024);
    QVERIFY2(after - before < 64 * 1024, qPrintable(QStringLiteral("VmRSS %1 MB, then %2 MB").arg(before / 1024).arg(after / 1024)));
}

void TestPortalServer::databaseErrorsAreToldOnStandardError()
{
    // The table goes away under the running portal: every rename fails in the database.
    auto alter = [this](const QString &sql) {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("alter"));
            db.setDatabaseName(dbPath());
            ok = db.open() && QSqlQuery(db).exec(sql);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("alter"));
        return ok;
    };
    QVERIFY(alter(QStringLiteral("ALTER TABLE faces RENAME TO faces_away")));
    for (int i = 0; i < 100; ++i)
        QCOMPARE(m_portal->get("/tad/tad_saveface.asp?userid=" + QByteArray::number(500 + i) + "&tface=1&newname=X").status, 503);
    QVERIFY(alter(QStringLiteral("ALTER TABLE faces_away RENAME TO faces")));
    QCOMPARE(m_portal->get("/tad/tad_saveface.asp?userid=600&tface=1&newname=X").status, 200);
    QCOMPARE(m_portal->stop(), 0);

    // The driver's own words, and not a hundred lines of them.
    const QList<QByteArray> lines = m_portal->standardError().trimmed().split('\n');
    QVERIFY2(lines.size() >= 1 && lines.size() <= 5, lines.join('\n').constData());
    for (const QByteArray &line : lines)
        QVERIFY2(line.startsWith("tadpole-portal: database: ") && line.contains("no such table: faces"), line.constData());
}

void TestPortalServer::olderSchemaIsCarriedForward()
{
    m_portal.reset();
    QFile::remove(dbPath());
    {
        // The first schema, as the first portals left it, with an installation's rows.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("first"));
        db.setDatabaseName(dbPath());
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const char *sql : {
                 "CREATE TABLE schema_version (version INTEGER NOT NULL)",
                 "INSERT INTO schema_version (version) VALUES (1)",
                 "CREATE TABLE sites (id INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL, url TEXT NOT NULL, "
                 "shortname TEXT NOT NULL, comments TEXT NOT NULL, age_from TEXT NOT NULL, age_to TEXT NOT NULL, "
                 "logo TEXT NOT NULL, changed_by TEXT NOT NULL, changed_at TEXT NOT NULL)",
                 "CREATE INDEX sites_owner ON sites (owner)",
                 "CREATE TABLE families (userid TEXT PRIMARY KEY, created_at TEXT NOT NULL)",
                 "CREATE TABLE faces (userid TEXT NOT NULL, child INTEGER NOT NULL, name TEXT NOT NULL, PRIMARY KEY (userid, child))",
                 "CREATE TABLE ticks (userid TEXT NOT NULL, child INTEGER NOT NULL, site_id BIGINT NOT NULL, "
                 "PRIMARY KEY (userid, child, site_id))",
                 "CREATE INDEX ticks_site ON ticks (site_id)",
                 "CREATE TABLE visits (userid TEXT NOT NULL, version TEXT NOT NULL, at TEXT NOT NULL)",
                 "CREATE TABLE suggestions (userid TEXT NOT NULL, url TEXT NOT NULL, email TEXT NOT NULL, at TEXT NOT NULL)",
                 "CREATE TABLE changes (generation BIGINT NOT NULL)",
                 "INSERT INTO changes (generation) VALUES (7)",
                 "INSERT INTO sites VALUES (1, '21', 'http://kept.example/', 'Kept', '', '3', '12', 'K_gif.gif', '21', '')",
                 "INSERT INTO families VALUES ('21', '')",
                 "INSERT INTO faces VALUES ('21', 1, 'Ida')",
                 "INSERT INTO ticks VALUES ('21', 1, 1)"})
            QVERIFY2(q.exec(QLatin1String(sql)), sql);
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("first"));

    PortalRun portal;
    QVERIFY(portal.start(dbArgs()));
    QVERIFY(portal.get("/tad/tad_getface.asp?userid=21").body.startsWith("Ida\t"));
    const HttpResult go = portal.get(goLinkOnMenu(portal.get("/tad/tad_menu.asp?t=1&userid=21").body, 1));
    QCOMPARE(go.header("Location"), QByteArray("http://kept.example/"));
    QCOMPARE(portal.stop(), 0);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("second"));
    db.setDatabaseName(dbPath());
    QVERIFY(db.open());
    QCOMPARE(db.tables().contains(QStringLiteral("changes")), false);
    QSqlQuery q(db);
    QVERIFY(q.exec(QStringLiteral("SELECT version FROM schema_version")) && q.next());
    QCOMPARE(q.value(0).toInt(), 2);
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("second"));
}

void TestPortalServer::malformedHttpIsRefusedAndServingGoesOn_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QByteArray manyHeaders = "GET /tad/version.htm HTTP/1.1\r\n";
    for (int i = 0; i < 100; ++i)
        manyHeaders += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("too many header fields") << manyHeaders + "\r\n" << 431;
    QTest::newRow("header too large") << "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n" << 431;
    QTest::newRow("target too long") << "GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n\r\n" << 414;
    QTest::newRow("body too large") << QByteArray("POST /tad/version.htm HTTP/1.1\r\nContent-Length: 10000000\r\n\r\n") << 413;
    QTest::newRow("garbage") << QByteArray("\x01\x02\x03 nonsense\r\n\r\n") << 400;
    QTest::newRow("no path") << QByteArray("GET version.htm HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("bad content length") << QByteArray("GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n") << 400;
}

void TestPortalServer::malformedHttpIsRefusedAndServingGoesOn()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QCOMPARE(httpRaw(m_portal->port(), request).status, status);
    QCOMPARE(m_portal->get("/tad/version.htm").body, QByteArray("2.04"));
}

void TestPortalServer::restartKeepsEverything()
{
    QCOMPARE(m_portal->get(postSite("42", "Kept", 0, "2")).status, 200);
    QCOMPARE(m_portal->get("/tad/tad_saveitem.asp?item=1&checked=True&t=4&userid=42").status, 200);
    QCOMPARE(m_portal->get("/tad/tad_saveface.asp?userid=42&tface=4&newname=Dora").status, 200);
    const QByteArray faces = m_portal->get("/tad/tad_getface.asp?userid=42").body;
    const QByteArray sites = m_portal->get("/tad/tad_available.asp?t=4&userid=42").body;
    QCOMPARE(m_portal->stop(), 0);
    PortalRun again;
    QVERIFY(again.start(dbArgs()));
    QCOMPARE(again.get("/tad/tad_getface.asp?userid=42").body, faces);
    QCOMPARE(again.get("/tad/tad_available.asp?t=4&userid=42").body, sites);
    QVERIFY(sites.contains("\t-1\t"));
}

void TestPortalServer::killDuringBurstLosesNothingAnswered()
{
    // Eight connections save at once, round after round; the server dies in the middle.
    const int connections = 8;
    QList<QTcpSocket *> sockets;
    for (int i = 0; i < connections; ++i) {
        auto *s = new QTcpSocket(this);
        s->connectToHost(QStringLiteral("127.0.0.1"), m_portal->port());
        QVERIFY(s->waitForConnected(5000));
        sockets.append(s);
    }
    QStringList answered;
    int sent = 0;
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < connections; ++i) {
            const QString name = QStringLiteral("burst-%1").arg(sent++);
            sockets[i]->write(postSite("77", name, 0, "2").prepend("GET ").append(" HTTP/1.1\r\nHost: x\r\n\r\n").mid(0));
            sockets[i]->flush();
        }
        if (round == 30)
            m_portal->kill();
        for (int i = 0; i < connections; ++i) {
            QByteArray raw;
            while (!raw.contains("\r\n\r\nOK") && sockets[i]->waitForReadyRead(round >= 30 ? 200 : 5000))
                raw += sockets[i]->readAll();
            raw += sockets[i]->readAll();
            if (parseHttp(raw).status == 200)
                answered.append(QStringLiteral("burst-%1").arg(sent - connections + i));
        }
        if (round == 30)
            break;
    }
    qDeleteAll(sockets);
    QVERIFY(answered.size() >= 30 * connections);

    PortalRun again;
    QVERIFY(again.start(dbArgs()));
    const QByteArray sites = again.get("/tad/tad_available.asp?t=1&userid=77").body;
    for (const QString &name : answered)
        QVERIFY2(!rowFor(sites, name.toUtf8()).isEmpty(), qPrintable(name));
    for (const auto &row : rows(sites))
        QCOMPARE(row.size(), 9);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(dbPath());
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void TestPortalServer::demoFamilyAndSites()
{
    m_portal.reset();
    PortalRun demo;
    QVERIFY(demo.start(dbArgs() + QStringList{QStringLiteral("--demo")}));
    const QByteArray port = QByteArray::number(demo.port());
    // Any installation without rows of its own starts from the demo family.
    QCOMPARE(demo.get("/tad/tad_getface.asp?userid=31").body, QByteArray("Anna\tBen\tCara\tDan"));
    const QByteArray sites = demo.get("/tad/tad_available.asp?t=1&userid=31").body;
    QCOMPARE(rowFor(sites, "Plain Pond").value(2), "http://127.0.0.2:" + port + "/");
    QCOMPARE(rowFor(sites, "Plain Pond").value(7), QByteArray("-1"));
    QCOMPARE(rowFor(sites, "Stranger Pond").value(7), QByteArray("0"));
    // Its first change copies the defaults: unticking one site keeps the others.
    QCOMPARE(demo.get("/tad/tad_saveitem.asp?item=1&checked=False&t=1&userid=31").status, 200);
    const QByteArray after = demo.get("/tad/tad_available.asp?t=1&userid=31").body;
    QCOMPARE(rowFor(after, "Plain Pond").value(7), QByteArray("0"));
    QCOMPARE(rowFor(after, "Frame Pond").value(7), QByteArray("-1"));
    QCOMPARE(demo.get("/tad/tad_getface.asp?userid=31").body, QByteArray("Anna\tBen\tCara\tDan"));
    QCOMPARE(rowFor(demo.get("/tad/tad_available.asp?t=1&userid=32").body, "Plain Pond").value(7), QByteArray("-1"));

    // The demo sites answer on their own addresses, same port.
    const HttpResult plain = httpGet(demo.port(), "/", QStringLiteral("127.0.0.2"));
    QVERIFY(plain.body.contains("<title>Plain Pond</title>"));
    const HttpResult jump = httpGet(demo.port(), "/", QStringLiteral("127.0.0.7"));
    QCOMPARE(jump.status, 302);
    QCOMPARE(jump.header("Location"), "http://127.0.0.9:" + port + "/");
    const HttpResult file = httpGet(demo.port(), "/files/pond-facts.txt", QStringLiteral("127.0.0.5"));
    QVERIFY(file.header("Content-Disposition").startsWith("attachment"));
    QVERIFY(httpGet(demo.port(), "/", QStringLiteral("127.0.0.8")).body.contains("http-equiv=\"refresh\""));
    QCOMPARE(httpGet(demo.port(), "/tad/version.htm", QStringLiteral("127.0.0.3")).status, 404);
    QCOMPARE(demo.get("/mail/mail.asp").status, 200);
    QCOMPARE(demo.get("/donate.htm").status, 200);
    const QByteArray go = goLinkOnMenu(demo.get("/tad/tad_menu.asp?t=1&userid=32").body, 1);
    QCOMPARE(demo.get(go).header("Location"), "http://127.0.0.2:" + port + "/");

    // Loaded once: a second start does not add the family again.
    QCOMPARE(demo.stop(), 0);
    PortalRun again;
    QVERIFY(again.start(dbArgs() + QStringList{QStringLiteral("--demo")}));
    QCOMPARE(rows(again.get("/tad/tad_available.asp?t=1&userid=32").body).size(), rows(sites).size());
}

QTEST_GUILESS_MAIN(TestPortalServer)
#include "tst_portalserver.moc"
