// The portal's parts without a socket or a database: queries, request heads, logos.
#include "PortalPages.h"
#include "QueryString.h"
#include "ReplyCache.h"
#include "RequestHead.h"
#include "StarterCatalogue.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

class TestPortalUnits : public QObject {
    Q_OBJECT
private slots:
    void queryValues_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("expected");  // the value of v; null: the query is refused
        QTest::newRow("plus stays a plus, not a space") << QByteArray("v=a+b") << QStringLiteral("a+b");
        QTest::newRow("a percent without two hex digits is kept, at the end too") << QByteArray("v=%G1%2%") << QStringLiteral("%G1%2%");
        QTest::newRow("first of two values wins") << QByteArray("v=1&v=2") << QStringLiteral("1");
        QTest::newRow("empty value is present and empty") << QByteArray("x=1&v=") << QStringLiteral("");
        QTest::newRow("a UTF-8 sequence cut short is refused") << QByteArray("v=%C3") << QString();
    }

    void queryValues()
    {
        QFETCH(QByteArray, raw); QFETCH(QString, expected);
        QString error;
        const std::optional<QueryString> q = QueryString::parse(raw, &error);
        QCOMPARE(q.has_value(), !expected.isNull());
        QCOMPARE(error.isEmpty(), !expected.isNull());
        const QString v = q ? q->value(QStringLiteral("v")) : QString();
        QCOMPARE(v, expected);
        QCOMPARE(v.isNull(), expected.isNull());  // an empty value is not a missing one
    }

    // The request is read in pieces, split at "|". `status`: 200 when it is handed to the handler, else the portal's answer.
    // `detail`: for a request handed over "TARGET AS LOGGED -> PATH?QUERY AS HANDED OVER", for 405 the Allow header, for a
    // refusal its reason; empty: not checked. Each smuggling shape carries a second request that a lax reading would answer
    // too. "100 Continue", two differing Content-Length fields and an over-limit body go end to end in tst_portalhostile.
    void requestHeads_data()
    {
        QTest::addColumn<QByteArray>("request"); QTest::addColumn<int>("status"); QTest::addColumn<QByteArray>("detail");
        const auto row = [](const char *name, const QByteArray &request, int status, const QByteArray &detail = {}) {
            QTest::newRow(name) << request << status << detail;
        };
        const QByteArray host = "Host: portal.example\r\n", end = host + "\r\n", get = "GET /tad/version.htm HTTP/1.1\r\n";
        const QByteArray post = "POST /tad/version.htm HTTP/1.1\r\n" + host, next = get + end;
        const QByteArray length = "Content-Length: " + QByteArray::number(next.size()) + "\r\n";
        const QByteArray version = "/tad/version.htm -> /tad/version.htm", oneHost = "an HTTP/1.1 request needs exactly one Host field";
        QByteArray manyFields = get + host;
        for (int i = 0; i < 100; ++i)
            manyFields += "X-" + QByteArray::number(i) + ": 1\r\n";
        row("absolute-form target with a query, scheme in capitals", "GET HTTP://a.example/tad/x.asp?userid=5 HTTP/1.1\r\n" + end, 200,
            "HTTP://a.example/tad/x.asp?userid=5 -> /tad/x.asp?userid=5");
        row("absolute-form target with a query and no path", "GET http://a.example?t=1 HTTP/1.1\r\n" + end, 200, "http://a.example?t=1 -> /?t=1");
        row("HTTP/1.0 needs no Host", "GET /tad/version.htm HTTP/1.0\r\n\r\n", 200, version);
        row("a head that arrives in pieces", "GET /tad/version.htm HTTP/1.1\r\nHo|st: a\r\n\r\n", 200, version);
        row("bytes that are not UTF-8 are logged escaped", "GET /x\xFF\xFE HTTP/1.1\r\n" + end, 200, "/x%FF%FE -> /x\xFF\xFE");
        row("percent-encoding is logged and handed over as sent", "GET /v?n=%41%0A HTTP/1.1\r\n" + end, 200, "/v?n=%41%0A -> /v?n=%41%0A");
        row("an unknown method", "FROB /tad/version.htm HTTP/1.1\r\n" + end, 501);
        row("a method the portal does not serve", "DELETE / HTTP/1.1\r\n" + end, 405, "GET, HEAD, POST");
        row("two equal Content-Length fields", post + length + length + "\r\n" + next, 400, "more than one Content-Length field");
        row("a list of equal lengths in one Content-Length field", post + QByteArray(length).replace("\r", ", " + QByteArray::number(next.size()) + "\r")
            + "\r\n" + next, 400, "more than one Content-Length field");
        row("a space before the colon of Content-Length", post + QByteArray(length).replace(":", " :") + "\r\n" + next, 400);
        row("Content-Length with a plus sign", post + QByteArray(length).replace(" ", " +") + "\r\n" + next, 400);
        row("a header line folded with a space", get + host + "X-Note: one\r\n two\r\n\r\n" + next, 400, "a folded header line");
        row("a header line folded with a tab", get + host + "X-Note: one\r\n\ttwo\r\n\r\n" + next, 400, "a folded header line");
        row("bare LF line ends throughout", "GET /tad/version.htm HTTP/1.1\nHost: a\n\n" + next, 400);
        row("one bare LF hiding a Content-Length", get + "Host: a\n" + length + "\r\n" + next, 400);
        row("a bare CR hiding a Content-Length in a field", get + host + "X-Note: a\r" + length + "\r\n" + next, 400);
        row("HTTP/1.1 without Host", get + "\r\n" + next, 400, oneHost);
        row("HTTP/1.1 with two Host fields", get + host + "Host: other.example\r\n\r\n" + next, 400, oneHost);
        row("Transfer-Encoding beside Content-Length", post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + next, 400);
        row("a chunked body", post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501, "chunked request bodies are not accepted");
        row("too many header fields", manyFields + "\r\n", 431, "too many header fields");
        row("a head field that never ends", get + host + "X-Long: " + QByteArray(20000, 'a'), 431, "request head too large");
        row("a request line that never ends", "GET /" + QByteArray(20000, 'a'), 414, "request line too long");
        row("a whole head with a target over 8 KiB", "GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n" + end, 414, "request target too long");
        row("garbage", "\x01\x02\x03 nonsense\r\n\r\n", 400, "malformed request line");
        row("an escape byte in the target, which a log would show raw", "GET /?\x1B[2J HTTP/1.1\r\n" + end, 400, "malformed request line");
        row("no path", "GET version.htm HTTP/1.1\r\n" + end, 400, "request target must be a path");
        row("an absolute-form target with no host", "GET http:// HTTP/1.1\r\n" + end, 400, "request target must be a path");
        row("a negative Content-Length", post + "Content-Length: -5\r\n\r\n", 400, "malformed Content-Length");
    }

    void requestHeads()
    {
        QFETCH(QByteArray, request); QFETCH(int, status); QFETCH(QByteArray, detail);
        RequestReader reader{HttpLimits{}};
        reader.next();
        QByteArray received;
        RequestReader::Progress progress = RequestReader::Progress::NeedMore;
        for (const QByteArray &piece : request.split('|')) {
            QCOMPARE(progress, RequestReader::Progress::NeedMore);
            received += piece;
            size_t used = 0;
            progress = reader.read(std::string_view(received.constData(), size_t(received.size())), &used);
            received.remove(0, qsizetype(used));
        }
        QVERIFY2(progress != RequestReader::Progress::NeedMore, "neither handed over nor refused");
        const auto [answer, said] = [&]() -> std::pair<int, QByteArray> {
            if (progress == RequestReader::Progress::Refused)
                return {reader.refusal().status, reader.refusal().reason};
            if (const std::optional<HttpReply> unserved = unservedMethodReply(reader.method()))
                return {unserved->status, unserved->headers.value(0).second};
            const HttpRequest r = handlerRequest(reader.method(), reader.target());
            return {200, escapedForLog(reader.target()) + " -> " + r.path + (r.rawQuery.isEmpty() ? "" : '?' + r.rawQuery)};
        }();
        QCOMPARE(answer, status);
        if (!detail.isEmpty())
            QCOMPARE(said, detail);
    }

    // A logo asked for as the browser asks (two slashes) or as a menu does (one); `holds`: its
    // type, a line break and the start of its body, or something in its body; empty: 404.
    void logos_data()
    {
        QTest::addColumn<QByteArray>("path"); QTest::addColumn<QByteArray>("holds");
        const QByteArray one = "/tad/logos/", two = "/tad//logos/";
        QTest::newRow("default logo") << two + "default_logo.gif" << QByteArray("image/gif\nGIF89a");
        QTest::newRow("letter") << one + "Z_gif.gif" << QByteArray("image/svg+xml\n<svg ");
        QTest::newRow("non-ASCII letter") << two + "%E5%AD%97_gif.gif" << QByteArray(">\xE5\xAD\x97</text>");
        QTest::newRow("character outside the BMP") << one + "%F0%9F%98%80_gif.gif" << QByteArray(">\xF0\x9F\x98\x80</text>");
        QTest::newRow("markup as the letter is escaped") << one + "%3C_gif.gif" << QByteArray(">&lt;</text>");
        for (const char *name : {"AB_gif.gif", "..%2Fportal.sqlite", "../../etc/passwd", "%5C_gif.gif", "%2F_gif.gif",
                                 "a..b_gif.gif", "", "logo.png", "%00_gif.gif", "%0A_gif.gif", "%7F_gif.gif", "%C2%85_gif.gif",
                                 "%E2%80%A8_gif.gif", "default_logo.gif%00", "%FF_gif.gif"})
            QTest::newRow(*name ? name : "no name") << one + name << QByteArray();
    }

    void logos()
    {
        QFETCH(QByteArray, path); QFETCH(QByteArray, holds);
        PortalPages pages(PortalConfig{}, [] { return std::unique_ptr<PortalStore>(); });
        const HttpReply r = pages.handle(handlerRequest("GET", std::string_view(path.constData(), size_t(path.size()))));
        QCOMPARE(r.status, holds.isEmpty() ? 404 : 200);
        QVERIFY2((r.contentType + '\n' + r.body).contains(holds), r.body.left(300).constData());
        if (holds.startsWith("image/gif"))  // whole: a broken encoder would ship a broken logo
            QCOMPARE(QImage::fromData(r.body, "GIF").size(), QSize(48, 48));
    }

    void keptRepliesStayWithinTheBudgetButThoseStillSentAreFoundAgain()
    {
        // Bytes made from text hold room for three a character: the room they hold is what counts.
        const qsizetype budget = 1024 * 1024;
        ReplyCache kept(budget);
        for (int i = 0; i < 1000; ++i)
            kept.insert(QString::number(i), 1, std::make_shared<const CachedReply>(CachedReply{QString(5000, u'x').toUtf8(), {}}));
        qsizetype held = 0;
        for (int i = 0; i < 1000; ++i)
            if (const std::shared_ptr<const CachedReply> reply = kept.find(QString::number(i), 1))
                held += reply->body.capacity();
        QVERIFY2(held > budget / 2 && held <= budget, qPrintable(QString::number(held)));

        // Out of the table by its budget or by its size, a reply a connection still sends is the one found
        // again, not a copy built anew; once no one sends it, or after a change, it is gone.
        ReplyCache cache(64 * 1024);
        const auto reply = [](int kb) { return std::make_shared<const CachedReply>(CachedReply{QByteArray(kb * 1024, 'x'), {}}); };
        const std::shared_ptr<const CachedReply> sent = reply(40), big = reply(100);
        QByteArray sending = sent->body, bigSending = big->body; // what the connections hold while they send
        cache.insert(QStringLiteral("sent"), 1, sent);
        cache.insert(QStringLiteral("other"), 1, reply(40)); // which leaves no room for "sent"
        cache.insert(QStringLiteral("big"), 1, big);
        QVERIFY(cache.find(QStringLiteral("sent"), 1) == sent && cache.find(QStringLiteral("big"), 1) == big);
        bigSending.clear();
        QVERIFY(!cache.find(QStringLiteral("big"), 1) && !cache.find(QStringLiteral("sent"), 2));
    }

    void catalogueSitesGetLogosThePortalServes()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("sites.tsv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const char *name : {"\xc3\xa9lan", "\xc3\x9fpond", "/r/kids", "\\o/ fun"})
            file.write(QByteArray(name) + "\thttps://kids.example/\t2\t8\tA line.\n");
        file.close();
        QString error;
        const std::optional<QList<SiteFields>> sites = readStarterCatalogue(file.fileName(), &error);
        QVERIFY2(sites && sites->size() == 4, qPrintable(error));
        QStringList logos;
        for (const SiteFields &site : *sites)
            logos << site.logo;
        QCOMPARE(logos, QStringList({"\u00c9_gif.gif", "\u00df_gif.gif", "default_logo.gif", "default_logo.gif"}));
    }
};

QTEST_MAIN(TestPortalUnits)
#include "tst_portalunits.moc"
