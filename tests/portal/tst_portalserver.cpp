// The real tadpole-portal program on a free port and a temporary SQLite file.
#include "PortalHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>

namespace {
// A GET on a kept-alive connection, so thousands of requests take seconds.
int keptAliveGet(RawClient &c, const QByteArray &target)
{
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    c.clear();
    return c.send(request) == request.size() ? parseHttp(c.read(5000, RawClient::wholeReply)).status : 0;
}

qint64 residentKiB(qint64 pid)
{
    return readFile(QStringLiteral("/proc/%1/statm").arg(pid)).split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE) / 1024;
}
} // namespace

class TestPortalServer : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_portal = std::make_unique<PortalRun>();
        QVERIFY(start());
    }

    void savedTextReadsBackAfterARestart_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *text : {"Tom & Jerry's Zoo #1 = 100%", "Ölçü 字", "<script>alert(\"x\")</script>",
                                 "x'); DROP TABLE sites; --", "1+1=2"})
            QTest::newRow(text) << QString::fromUtf8(text);
    }

    // Installation 5 names child 2 and adds a private site: the site list's row, whole, before
    // the tick and (after a restart) with it, and the menu that shows the site once ticked.
    void savedTextReadsBackAfterARestart()
    {
        QFETCH(QString, text);
        const QByteArray t = text.toUtf8(), url = "http://a.example/?q=" + t;
        const QByteArray row = "1\t" + t + '\t' + url + "\t3 to 12\t" + t + "\t2\t1\tTICK\t" + text.left(1).toUtf8() + "_gif.gif\r\n";
        QCOMPARE(get("/tad/tad_saveface.asp?userid=5&tface=2&newname=" + enc(text)).status, 200);
        QCOMPARE(get(postSite("5", text, 0, "2", "0", QString::fromUtf8(url))).status, 200);
        QCOMPARE(get("/tad/tad_available.asp?t=2&userid=5").body, QByteArray(row).replace("TICK", "0"));
        QCOMPARE(get("/tad/tad_saveitem.asp?item=1&checked=True&t=2&userid=5").status, 200);
        QCOMPARE(m_portal->stop(), 0);
        QVERIFY(start());
        QCOMPARE(get("/tad/tad_getface.asp?userid=5").body, "Child 1\t" + t + "\tChild 3\tChild 4");
        QCOMPARE(get("/tad/tad_available.asp?t=2&userid=5").body, QByteArray(row).replace("TICK", "-1"));
        QCOMPARE(get("/tad/tad_available.asp?t=3&userid=5").body.count("-1"), 0);
        const QString menu = QString::fromUtf8(get("/tad/tad_menu.asp?t=2&userid=5").body);
        QVERIFY(menu.contains("<span>" + text.toHtmlEscaped() + "</span>"));
        QVERIFY(menu.contains(QRegularExpression(QStringLiteral("href=\"tad_go\\.asp\\?sig=[0-9a-f]{32}&amp;t=2&amp;userid=5&amp;item=1\""))));
        QVERIFY(!text.contains(u'<') || !menu.contains(text));  // escaped wherever it shows, the title too
    }

    // 900 is the maintainer; 100, 200, 300 and 400 are ordinary installations.
    void whoSeesAndChangesWhat()
    {
        QCOMPARE(get(postSite("100", "Private A", 0, "2")).status, 200);
        QCOMPARE(get("/tad/tad_saveface.asp?userid=100&tface=1&newname=Ann").status, 200);
        for (const QByteArray reader : {"200", ""}) {
            QCOMPARE(get("/tad/tad_available.asp?t=1&userid=" + reader).body, QByteArray());
            QCOMPARE(get("/tad/tad_getface.asp?userid=" + reader).body, QByteArray("Child 1\tChild 2\tChild 3\tChild 4"));
        }

        QCOMPARE(get(postSite("900", "Public", 0, "1")).status, 200);
        QCOMPARE(get(postSite("300", "Wants public", 0, "1")).status, 200);
        // The type a reader sees of a site by name; empty: not listed.
        const auto type = [this](const char *reader, const char *name) {
            return rowFor(get("/tad/tad_available.asp?t=1&userid=" + QByteArray(reader)).body, name).value(5);
        };
        QCOMPARE(type("300", "Wants public"), "2");
        // An edit keeps a public site public and a private one private, whatever type the editor's last add left.
        QCOMPARE(get(postSite("900", "Public renamed", 2, "2")).status, 200);
        QCOMPARE(type("400", "Public renamed"), "1");
        QCOMPARE(get(postSite("900", "The maintainer's own", 0, "2")).status, 200);
        QCOMPARE(get(postSite("900", "The maintainer's own", 4, "1")).status, 200);
        QCOMPARE(get(postSite("900", "The maintainer's own", 4, "3")).status, 200); // what was typed at the last add, refused there
        QCOMPARE(type("400", "The maintainer's own"), QByteArray());
        // The maintainer's delete takes the others' ticks with it.
        QCOMPARE(get("/tad/tad_saveitem.asp?item=2&checked=True&t=1&userid=400").status, 200);
        QCOMPARE(get(postSite("900", "Public renamed", 2, "", "1")).status, 200);
        QCOMPARE(type("400", "Public renamed"), QByteArray());
        QVERIFY(!dumpDatabase(dbPath()).join(u'\n').contains(QStringLiteral("ticks:400|1|2")));
    }

    // Installation 8 owns private site 1; the maintainer's public site 2 is ticked by 8. With
    // `bound` set low, `target` is first answered 200 `answered` times, then refused.
    void refusedRequestsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("target"); QTest::addColumn<int>("status");
        QTest::addColumn<QString>("bound"); QTest::addColumn<int>("answered");
        const auto row = [](const char *name, const QByteArray &target, int status, const char *bound = "", int answered = 0) {
            QTest::newRow(name) << target << status << QString::fromLatin1(bound) << answered;
        };
        const QByteArray tick = "/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=";
        const QByteArray name = "/tad/tad_saveface.asp?userid=8&tface=1&newname=";
        row("a key missing", "/tad/tad_saveitem.asp?item=1&checked=True&t=1", 400);
        row("child 0", "/tad/tad_saveitem.asp?item=1&checked=True&t=0&userid=8", 400);
        row("child 5", "/tad/tad_available.asp?t=5&userid=8", 400);
        row("checked neither True nor False", "/tad/tad_saveitem.asp?item=1&checked=Maybe&t=1&userid=8", 400);
        row("a site number too long for one", "/tad/tad_go.asp?t=1&userid=8&item=99999999999999999999", 400);
        row("an empty userid, which would change the defaults", tick, 400);
        row("a userid led by a byte-order mark", tick + "%EF%BB%BF8", 400);
        row("a name over 100 characters", name + QByteArray(101, 'x'), 400);
        row("a name with a TAB", name + "a%09b", 400);
        row("a name with next line U+0085", name + "a%C2%85b", 400);
        row("a name with line separator U+2028", name + "a%E2%80%A8b", 400);
        row("a name that is not UTF-8", name + "%FF", 400);
        row("a name led by a byte-order mark, which the database would drop", name + "%EF%BB%BFAnn", 400);
        row("a name led by a swapped byte-order mark, which the database would read swapped into a TAB", name + "%EF%BF%BE%E0%A4%80", 400);
        row("a comment with paragraph separator U+2029", postSite("8", "N", 0, "2").replace("&comments=N", "&comments=a%E2%80%A9b"), 400);
        row("an empty short name", postSite("8", "", 0, "2"), 400);
        row("Delete neither 0 nor 1", postSite("8", "N", 0, "2", "2"), 400);
        row("Type neither 1, 2 nor empty", postSite("8", "N", 0, "3"), 400);
        row("a logo that is no plain file name", postSite("8", "N", 0, "2").replace("LogoLoc=N_gif.gif", "LogoLoc=..%2Fx"), 400);
        row("a delete of id 0", postSite("8", "N", 0, "", "1"), 400);
        row("another installation's site: a tick", tick + "7", 404);
        row("another installation's site: an edit", postSite("7", "N", 1, "2"), 404);
        row("another installation's site: a delete", postSite("7", "N", 1, "", "1"), 404);
        row("a public site, not the maintainer: an edit", postSite("8", "N", 2, ""), 403);
        row("a public site, not the maintainer: a delete", postSite("8", "N", 2, "", "1"), 403);
        // The public site and another installation's add count for nothing against 8's bound.
        row("past its bound: an installation's own sites", postSite("8", "Own", 0, "2"), 409, "--max-sites=3", 2);
        const QByteArray suggest = "/tad/tad_suggestsite.asp?userid=8&url=u&email=e", visit = "/tad/tad_visit.asp?userid=8&ver=1";
        row("past its bound: an installation's suggestions", suggest, 409, "--max-suggestions=2", 2);
        row("past its bound: an address's writes, the public add among them", visit, 429, "--max-writes-per-minute=5", 2);
    }

    void refusedRequestsChangeNothing()
    {
        QFETCH(QByteArray, target); QFETCH(int, status); QFETCH(QString, bound); QFETCH(int, answered);
        QVERIFY(bound.isEmpty() || start({"--maintainer", "900", bound}));
        QCOMPARE(get(postSite("8", "Owned by 8", 0, "2")).status, 200);
        QCOMPARE(get(postSite("900", "Public", 0, "1")).status, 200);
        QCOMPARE(get("/tad/tad_saveitem.asp?item=2&checked=True&t=1&userid=8").status, 200);
        for (int i = 0; i < answered; ++i)
            QCOMPARE(get(target).status, 200);
        const QStringList before = dumpDatabase(dbPath());
        const HttpResult r = get(target);
        QCOMPARE(r.status, status);
        QCOMPARE(r.body.count('\n'), 1);
        QCOMPARE(dumpDatabase(dbPath()), before);
        if (answered > 0)
            QCOMPARE(get(QByteArray(target).replace("userid=8", "userid=9")).status, status == 429 ? 429 : 200);
    }

    // Installation 12 has site 1 at `address` and site 2 elsewhere, ticked for child 1 (and site 1 for child 2); a go link
    // from child 1's menu, changed as `change` says, followed from it ("from X": from page X; "/tad/...": that request first).
    void goLinks_data()
    {
        QTest::addColumn<QString>("address"); QTest::addColumn<QString>("change"); QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("location");
        const QString zoo = QStringLiteral("www.zoo.example:8080/a b");
        const auto row = [&](const char *name, const QString &change, int status = 404, const QString &address = {}) {
            QTest::newRow(name) << (address.isEmpty() ? zoo : address) << change << status
                                << (status == 302 ? QByteArray("http://www.zoo.example:8080/a%20b") : QByteArray());
        };
        row("the link a menu made; the address, a host and port, gets a scheme", "", 302);
        row("an address parameter of its own is ignored", "add url", 302);
        row("made by hand, without a signature", "drop sig");
        row("another site's signature", "sig of site 2");
        row("the signature for child 2, used for child 1", "sig of child 2");
        row("another installation's id, the site ticked for both", "userid 13");
        row("the site's address changed since the menu", QString::fromLatin1(postSite("12", "First", 1, "2", "0", "http://elsewhere.example/")));
        row("the site unticked since the menu", QStringLiteral("/tad/tad_saveitem.asp?item=1&checked=False&t=1&userid=12"));
        row("a family's own site from no page: a page naming its host", "from ", 200);
        row("a family's own site from another installation's menu", "from http://127.0.0.1/tad/tad_menu.asp?t=1&userid=13", 200);
        row("a family's own site from another child's menu", "from http://127.0.0.1/tad/tad_menu.asp?t=2&userid=12", 200);
        row("a family's own site from its menu's address on another host", "from http://evil.example/tad/tad_menu.asp?t=1&userid=12", 200);
        row("a family's own site from a menu address with a second id", "from http://127.0.0.1/tad/tad_menu.asp?t=1&userid=12&userid=13", 200);
        for (const char *stored : {"javascript:alert(1)", "http:evil.example", "http:/evil.example", "http:///evil.example",
                                   "//evil.example/", "http:\\\\evil.example"})
            row(qPrintable(QStringLiteral("stored %1: no address with a host").arg(stored)), "", 404, stored);
    }

    void goLinks()
    {
        QFETCH(QString, address); QFETCH(QString, change); QFETCH(int, status); QFETCH(QByteArray, location);
        QCOMPARE(get(postSite("12", "First", 0, "2", "0", address)).status, 200);
        QCOMPARE(get(postSite("12", "Second", 0, "2", "0", QStringLiteral("http://second.example/"))).status, 200);
        for (const char *tick : {"item=1&checked=True&t=1", "item=2&checked=True&t=1", "item=1&checked=True&t=2"})
            QCOMPARE(get("/tad/tad_saveitem.asp?" + QByteArray(tick) + "&userid=12").status, 200);
        const QByteArray menu = get("/tad/tad_menu.asp?t=1&userid=12").body;
        QByteArray go = goLinkOnMenu(menu, "1");
        QByteArray from = "http://127.0.0.1:" + QByteArray::number(m_portal->port()) + "/tad/tad_menu.asp?t=1&userid=12";
        QVERIFY2(go.contains("?sig="), menu.constData());

        if (change == QLatin1String("add url"))
            go += "&url=http%3A%2F%2Fevil.example%2F";
        else if (change == QLatin1String("drop sig"))
            go.remove(go.indexOf("sig="), 4 + 32 + 1);
        else if (change == QLatin1String("sig of site 2"))
            go = goLinkOnMenu(menu, "2").replace("&item=2", "&item=1");
        else if (change == QLatin1String("sig of child 2"))
            go = goLinkOnMenu(get("/tad/tad_menu.asp?t=2&userid=12").body, "1").replace("&t=2&", "&t=1&");
        else if (change.startsWith(QLatin1String("/tad/")))  // a change made since the menu
            QCOMPARE(get(change.toLatin1()).status, 200);
        else if (change.startsWith(QLatin1String("from ")))
            from = change.mid(5).toUtf8();
        else if (change == QLatin1String("userid 13")) {
            // A public site ticked by 12 and 13, followed from no page: only the signature tells 12's link from 13's.
            QCOMPARE(get(postSite("900", "Public", 0, "1", "0", address)).status, 200);
            for (const char *userid : {"12", "13"})
                QCOMPARE(get("/tad/tad_saveitem.asp?item=3&checked=True&t=1&userid=" + QByteArray(userid)).status, 200);
            go = goLinkOnMenu(get("/tad/tad_menu.asp?t=1&userid=12").body, "3").replace("&userid=12&", "&userid=13&");
            from.clear();
        }
        const HttpResult r = get(go, from.isEmpty() ? QByteArray() : "Referer: " + from + "\r\n");
        QCOMPARE(r.status, status);
        QCOMPARE(r.header("Location"), location);
        // The destination's host named, nothing that moves the browser on.
        QVERIFY(status != 200 || (r.body.contains("<b>www.zoo.example</b>") && !r.body.contains("http-equiv") && !r.body.contains("<script")));
    }

    void readersWithMadeUpIdsCannotBlowUpMemory_data()
    {
        QTest::addColumn<int>("readers"); QTest::addColumn<bool>("ownRows");
        QTest::newRow("4,000 readers with made-up ids") << 4000 << false;
        QTest::newRow("300 installations with a tick of their own each") << 300 << true;
    }

    // 100 public sites with long comments make a site list about 200 KB; a reader reads two children's lists, a menu, the names.
    void readersWithMadeUpIdsCannotBlowUpMemory()
    {
        QFETCH(int, readers); QFETCH(bool, ownRows);
        RawClient client(m_portal->port());
        const QByteArray comment(1990, 'c');
        for (int i = 0; i < 100; ++i)
            QCOMPARE(keptAliveGet(client, postSite("900", QString::number(i), 0, "1").replace("&comments=", "&comments=" + comment)), 200);
        const auto id = [](int reader) { return QByteArray::number(7100000000000000000LL + reader * 7919LL); };
        for (int i = 0; ownRows && i < readers; ++i)
            QCOMPARE(keptAliveGet(client, "/tad/tad_saveitem.asp?item=1&checked=True&t=1&userid=" + id(i)), 200);
        QCOMPARE(keptAliveGet(client, "/tad/tad_available.asp?t=1&userid=1"), 200);
        const qint64 before = residentKiB(m_portal->pid());
        QVERIFY(before > 0);
        for (int i = 0; i < readers; ++i) {
            for (const char *page : {"tad_available.asp?t=1&", "tad_available.asp?t=2&", "tad_menu.asp?t=1&", "tad_getface.asp?"})
                QCOMPARE(keptAliveGet(client, "/tad/" + QByteArray(page) + "userid=" + id(i)), 200);
        }
        const qint64 after = residentKiB(m_portal->pid());
        QVERIFY2(after - before < 64 * 1024, qPrintable(QStringLiteral("VmRSS %1 MB, then %2 MB").arg(before / 1024).arg(after / 1024)));
    }

    // Faults of the database under the running portal, each told on standard error. A table goes away: every rename fails.
    // Then the file stops growing (a file-size limit, as a quota sets) and turns read-only (immutable files: root on a file
    // system with chattr): reads go on, writes answer 503, and once it is writable the very next write lands, though the
    // one worker's reads opened its connection meanwhile.
    void databaseFaultsAreToldAndReadsGoOn()
    {
        QCOMPARE(sqlite(dbPath(), {"ALTER TABLE faces RENAME TO faces_away"}), QStringList());
        for (int i = 0; i < 100; ++i)
            QCOMPARE(get("/tad/tad_saveface.asp?userid=" + QByteArray::number(500 + i) + "&tface=1&newname=X").status, 503);
        QCOMPARE(sqlite(dbPath(), {"ALTER TABLE faces_away RENAME TO faces"}), QStringList());
        QCOMPARE(get("/tad/tad_saveface.asp?userid=600&tface=1&newname=X").status, 200);
        QCOMPARE(m_portal->stop(), 0);
        // The driver's own words, and not a hundred lines of them.
        const QList<QByteArray> lines = m_portal->standardError().trimmed().split('\n');
        QVERIFY2(lines.size() >= 1 && lines.size() <= 5, lines.join('\n').constData());
        for (const QByteArray &line : lines)
            QVERIFY2(line.startsWith("tadpole-portal: database: ") && line.contains("no such table: faces"), line.constData());

        QVERIFY(start({"--max-writes-per-minute", "0", "--threads", "1"}));
        QCOMPARE(get("/tad/tad_saveface.asp?userid=5&tface=1&newname=Ann").status, 200);
        const auto fileSizeLimit = [&](rlim_t bytes) { const rlimit limit{bytes, RLIM_INFINITY}; return prlimit(pid_t(m_portal->pid()), RLIMIT_FSIZE, &limit, nullptr) == 0; };
        QVERIFY(fileSizeLimit(rlim_t(QFileInfo(dbPath()).size() + 64 * 1024)));
        int status = 200;
        for (int i = 0; i < 300 && status == 200; ++i)
            status = get(postSite("5", "Site " + QString::number(i), 0, "2")).status;
        QVERIFY(fileSizeLimit(RLIM_INFINITY));
        QCOMPARE(status, 503);
        QCOMPARE(get("/tad/tad_saveface.asp?userid=5&tface=2&newname=Eve").status, 200);
        const QStringList files = {dbPath(), dbPath() + "-wal", m_portal->path(".")};
        const auto immutable = [&](bool on) { return QProcess::execute("chattr", QStringList{on ? "+i" : "-i"} + files) == 0; };
        if (!immutable(true))
            QSKIP("chattr +i is not allowed here");
        auto writable = qScopeGuard([&] { immutable(false); });
        for (const char *name : {"Bob", "Dan"}) // the second finds the file opened again, read-only without a word
            QCOMPARE(get("/tad/tad_saveface.asp?userid=5&tface=1&newname=" + QByteArray(name)).status, 503);
        QByteArray told; // why each write was refused: the full disk, then the read-only file
        QTRY_VERIFY2((told += m_portal->standardError()).count("database: ") >= 3, told.constData());
        QVERIFY2(!told.contains("without a message"), told.constData());
        QVERIFY(get("/tad/tad_getface.asp?userid=5").body.startsWith("Ann\t"));
        QCOMPARE(get("/tad/tad_getface.asp?userid=6").status, 200);
        QVERIFY(immutable(false));
        QCOMPARE(get("/tad/tad_saveface.asp?userid=5&tface=1&newname=Cid").status, 200);
        QVERIFY(get("/tad/tad_getface.asp?userid=5").body.startsWith("Cid\t"));
    }

    void olderSchemaIsCarriedForward()
    {
        // The first schema as the first portals left it (the very first had no table of changes), with an installation's rows.
        for (const bool changes : {false, true}) {
            m_portal->kill();
            QFile::remove(dbPath());
            QStringList first = {
                "CREATE TABLE schema_version (version INTEGER NOT NULL)", "INSERT INTO schema_version (version) VALUES (1)",
                "CREATE TABLE sites (id INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL, url TEXT NOT NULL, shortname TEXT NOT NULL, "
                "comments TEXT NOT NULL, age_from TEXT NOT NULL, age_to TEXT NOT NULL, logo TEXT NOT NULL, changed_by TEXT NOT NULL, "
                "changed_at TEXT NOT NULL)", "CREATE INDEX sites_owner ON sites (owner)",
                "CREATE TABLE families (userid TEXT PRIMARY KEY, created_at TEXT NOT NULL)",
                "CREATE TABLE faces (userid TEXT NOT NULL, child INTEGER NOT NULL, name TEXT NOT NULL, PRIMARY KEY (userid, child))",
                "CREATE TABLE ticks (userid TEXT NOT NULL, child INTEGER NOT NULL, site_id BIGINT NOT NULL, PRIMARY KEY (userid, child, "
                "site_id))", "CREATE INDEX ticks_site ON ticks (site_id)",
                "CREATE TABLE visits (userid TEXT NOT NULL, version TEXT NOT NULL, at TEXT NOT NULL)",
                "CREATE TABLE suggestions (userid TEXT NOT NULL, url TEXT NOT NULL, email TEXT NOT NULL, at TEXT NOT NULL)",
                "CREATE TABLE changes (generation BIGINT NOT NULL)", "INSERT INTO changes (generation) VALUES (7)",
                "INSERT INTO sites VALUES (1, '21', 'http://kept.example/', 'Kept', '', '3', '12', 'K_gif.gif', '21', '')",
                "INSERT INTO families VALUES ('21', '')", "INSERT INTO faces VALUES ('21', 1, 'Ida')", "INSERT INTO ticks VALUES ('21', 1, 1)",
                "INSERT INTO visits VALUES ('21', '2.03', '2026-01-02T10:00:00Z'), ('21', '2.04', '2026-01-02T11:00:00Z'), "
                "('21', '2.04', '2026-01-03T09:00:00Z'), ('22', '2.04', '2026-01-03T09:30:00Z')"};
            if (!changes)
                first.removeIf([](const QString &sql) { return sql.contains(QLatin1String("changes")); });
            QCOMPARE(sqlite(dbPath(), first), QStringList());
            QVERIFY(start());
            QVERIFY(get("/tad/tad_getface.asp?userid=21").body.startsWith("Ida\t"));
            QCOMPARE(get(goLinkOnMenu(get("/tad/tad_menu.asp?t=1&userid=21").body, "1"), "Referer: http://127.0.0.1/tad/tad_menu.asp?t=1&userid=21\r\n")
                         .header("Location"), "http://kept.example/");
            for (int i = 0; i < 2; ++i)
                QCOMPARE(get("/tad/tad_visit.asp?userid=21&ver=2.05").status, 200);
            QCOMPARE(m_portal->stop(), 0);
            QCOMPARE(sqlite(dbPath(), {"SELECT version, (SELECT COUNT(*) FROM sqlite_master WHERE name IN ('changes', 'visits')) FROM schema_version"}),
                     QStringList{"3|0"});
            QCOMPARE(sqlite(dbPath(), {"SELECT userid, day > '2026-01-03', version, visits FROM visit_days ORDER BY day, userid"}),
                     (QStringList{"21|0|2.04|2", "21|0|2.04|1", "22|0|2.04|1", "21|1|2.05|2"}));
        }
    }

    void killDuringBurstLosesNothingAnswered()
    {
        // Eight connections save at once, round after round; the server dies in the middle.
        std::vector<std::unique_ptr<RawClient>> clients(8);
        std::generate(clients.begin(), clients.end(), [this] { return std::make_unique<RawClient>(m_portal->port()); });
        const auto name = [](int round, size_t i) { return QStringLiteral("burst-%1-%2").arg(round).arg(i); };
        QStringList answered;
        for (int round = 0; round <= 30; ++round) {
            for (size_t i = 0; i < clients.size(); ++i)
                clients[i]->send("GET " + postSite("77", name(round, i), 0, "2") + " HTTP/1.1\r\nHost: x\r\n\r\n");
            if (round == 30)
                m_portal->kill();
            for (size_t i = 0; i < clients.size(); ++i) {
                if (parseHttp(clients[i]->read(round == 30 ? 200 : 5000, RawClient::wholeReply)).status == 200)
                    answered.append(name(round, i));
                clients[i]->clear();
            }
        }
        QVERIFY(answered.size() >= 30 * 8);
        QVERIFY(start());
        const QByteArray sites = get("/tad/tad_available.asp?t=1&userid=77").body;
        for (const QString &name : answered)
            QVERIFY2(!rowFor(sites, name.toUtf8()).isEmpty(), qPrintable(name));
        QCOMPARE(sqlite(dbPath(), {"PRAGMA integrity_check"}), QStringList{"ok"});
    }

    void newDatabaseStartsWithTheDemoFamilyOrTheCatalogueOnce()
    {
        QVERIFY(start({"--demo"}));
        const QByteArray port = QByteArray::number(m_portal->port());
        // Any installation starts from the demo family; its first change copies the names too.
        QCOMPARE(get("/tad/tad_saveitem.asp?item=1&checked=False&t=1&userid=31").status, 200);
        QCOMPARE(get("/tad/tad_getface.asp?userid=31").body, QByteArray("Anna\tBen\tCara\tDan"));
        // The portal's pages do not answer on a demo site's address; its go links lead there.
        QCOMPARE(m_portal->get("/tad/version.htm", {}, "127.0.0.3").status, 404);
        QCOMPARE(get(goLinkOnMenu(get("/tad/tad_menu.asp?t=1&userid=32").body, "1")).header("Location"), "http://127.0.0.2:" + port + "/");
        // The browser tells the radio is on by the page's name being its address; the log escapes bytes.
        QVERIFY(!get("/tad/radiodis.htm?n=\xC3\xA9").body.contains("<title"));
        QVERIFY(readFile(m_portal->path("access.log")).contains("\n127.0.0.1:" + port + " GET /tad/radiodis.htm?n=%C3%A9\n"));
        // Loaded once: a second start does not add the family again.
        const qsizetype sites = rows(get("/tad/tad_available.asp?t=1&userid=32").body).size();
        QCOMPARE(m_portal->stop(), 0);
        QVERIFY(start({"--demo"}));
        QCOMPARE(rows(get("/tad/tad_available.asp?t=1&userid=32").body).size(), sites);

        // A new database that is not the demo's starts with the starter catalogue's public sites;
        // a later start never adds them, nor brings back one a maintainer deleted.
        QCOMPARE(m_portal->stop(), 0);
        QVERIFY(QFile::remove(dbPath()));
        QVERIFY(start({"--maintainer", "900"}, true));
        const auto first = rows(get("/tad/tad_available.asp?t=1&userid=41").body);
        QVERIFY2(first.size() >= 30, qPrintable(QString::number(first.size())));
        QCOMPARE(get(postSite("900", "", first[0][0].toLongLong(), "", "1")).status, 200);
        QCOMPARE(m_portal->stop(), 0);
        QVERIFY(start({}, true));
        QCOMPARE(rows(get("/tad/tad_available.asp?t=1&userid=42").body).size(), first.size() - 1);
    }

private:
    bool start(const QStringList &more = {"--maintainer", "900", "--max-writes-per-minute", "0"}, bool catalogue = false)
    {
        return m_portal->start(QStringList{"--db", "sqlite:" + dbPath(), "--access-log", m_portal->path("access.log")} + more,
                               catalogue);
    }
    QString dbPath() const { return m_portal->path(QStringLiteral("portal.sqlite")); }
    HttpResult get(const QByteArray &target, const QByteArray &fields = {}) const { return m_portal->get(target, fields); }
    std::unique_ptr<PortalRun> m_portal;
};

QTEST_GUILESS_MAIN(TestPortalServer)
#include "tst_portalserver.moc"
