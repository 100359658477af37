// The real tadpole-portal program against clients that misbehave on purpose: that never read, send slowly
// or not at all, crowd in from one address, or are refused on a real connection. The head shapes the portal
// refuses are rows of tst_portalunits' requestHeads, but for two differing Content-Length fields and an over-limit body.
#include "PortalHarness.h"

#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

const QByteArray Host = "Host: portal.example\r\n";
const QByteArray VersionRequest = "GET /tad/version.htm HTTP/1.1\r\n" + Host + "\r\n";
// About 18 KB: the starter catalogue and the sites the stalled readers' test adds.
const QByteArray BigReplyRequest = "GET /tad/tad_available.asp?t=1&userid=1 HTTP/1.1\r\n" + Host + "\r\n";

// Sends all of `bytes` as fast as the portal takes them, reading nothing; false when the connection went or `ms` passed first.
bool sendAll(RawClient &c, const QByteArray &bytes, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (qint64 sent = 0, n = 0; !deadline.hasExpired(); sent += n, QTest::qWait(n == 0 ? 1 : 0)) {
        if (sent == bytes.size() || (n = c.send(QByteArray::fromRawData(bytes.constData() + sent, bytes.size() - sent))) < 0)
            return sent == bytes.size();
    }
    return false;
}

// Times one request on a new connection; -1 when unanswered within 3 s.
qint64 timedRequest(quint16 port, const QByteArray &request, const char *from = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    RawClient c(port, "127.0.0.1", from);
    const bool sent = c.connected() && c.send(request) == request.size();
    return sent && parseHttp(c.read(3000, RawClient::wholeReply)).status == 200 ? timer.elapsed() : -1;
}

} // namespace

class TestPortalHostile : public QObject {
    Q_OBJECT
private slots:
    // `head` is sent; then, where `interim` is given, that reply is awaited before `body` is sent, all of it, before
    // anything more is read (as an uploading client does). The reply holds `status` and never `never`; `closes`: the portal
    // then closes, in order, not with a reset that would destroy the reply.
    void refusalsOnARealConnection_data()
    {
        QTest::addColumn<QByteArray>("head"); QTest::addColumn<QByteArray>("interim"); QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status"); QTest::addColumn<bool>("closes"); QTest::addColumn<QByteArray>("never");
        const QByteArray post = "POST /tad/version.htm HTTP/1.1\r\n" + Host;
        const QByteArray carried = "Content-Length: " + QByteArray::number(VersionRequest.size()) + "\r\n\r\n" + VersionRequest;
        QTest::newRow("a request smuggled behind two Content-Length fields is never answered")
            << post + "Content-Length: 0\r\n" + carried << QByteArray() << QByteArray() << 400 << true << QByteArray("\r\n\r\n2.04");
        QTest::newRow("Expect: 100-continue is answered before the body is sent")
            << post + "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n" << QByteArray("HTTP/1.1 100 Continue\r\n\r\n")
            << QByteArray("hello") << 200 << false << QByteArray();
        QTest::newRow("a body over the limit, sent anyway, still gets its 413")
            << post + "Content-Length: 3000000\r\n\r\n" << QByteArray() << QByteArray(3000000, 'a') << 413 << true << QByteArray();
    }

    void refusalsOnARealConnection()
    {
        QFETCH(QByteArray, head); QFETCH(QByteArray, interim); QFETCH(QByteArray, body); QFETCH(int, status);
        QFETCH(bool, closes); QFETCH(QByteArray, never);
        PortalRun portal;
        QVERIFY(portal.startFresh({}));
        RawClient c(portal.port());
        QCOMPARE(c.send(head), head.size());
        if (!interim.isEmpty()) {
            QCOMPARE(c.read(2000, [&](const QByteArray &r) { return r.size() >= interim.size(); }), interim);
            c.clear();
        }
        QVERIFY2(sendAll(c, body, 3000), c.resetByPortal() ? "reset while sending" : "not taken");
        const QByteArray reply = c.read(3000, closes ? std::function<bool(const QByteArray &)>() : RawClient::wholeReply);
        QCOMPARE(parseHttp(reply).status, status);
        QVERIFY2(never.isEmpty() || !reply.contains(never), reply.constData());
        QCOMPARE(c.closedByPortal(), closes);
        QVERIFY(!c.resetByPortal());
        QCOMPARE(portal.get("/tad/version.htm").body, QByteArray("2.04"));  // serving goes on
    }

    void stalledReadersHoldNobodyUpAndSigtermStillEnds()
    {
        PortalRun portal;
        QVERIFY(portal.startFresh({"--maintainer", "900"}));
        for (int i = 0; i < 50; ++i)
            QCOMPARE(portal.get(postSite("900", "Site " + QString::number(i), 0, "1").replace("&comments=", "&comments=" + QByteArray(200, 'c')))
                         .status, 200);
        QVERIFY(portal.get("/tad/tad_available.asp?t=1&userid=1").body.size() > 12000);
        // Two clients pipeline requests for large replies, as many as go in a second, and read none.
        RawClient first(portal.port(), "127.0.0.1", nullptr, 4096), second(portal.port(), "127.0.0.1", nullptr, 4096);
        QVERIFY(first.connected() && second.connected());
        sendAll(first, BigReplyRequest.repeated(800), 1000);
        sendAll(second, BigReplyRequest.repeated(800), 1000);
        QTest::qWait(300);  // their replies back up
        // Each probe is a new client; a database page too, so a worker must be free.
        for (int i = 0; i < 6; ++i) {
            for (const QByteArray &request : {VersionRequest, BigReplyRequest}) {
                const qint64 ms = timedRequest(portal.port(), request);
                QVERIFY2(ms >= 0 && ms < 500, qPrintable(QString::number(ms)));
            }
            QTest::qWait(300);
        }
        QVERIFY(!first.closedByPortal() && !second.closedByPortal());  // still attached, still not reading
        // With them, and a head half sent, SIGTERM ends the portal at once.
        RawClient slowHead(portal.port());
        QVERIFY(slowHead.send("GET /tad/version.htm HTTP/1.1\r\nHo") > 0);
        QTest::qWait(300);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(portal.stop(), 0);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    // `opening` is sent at once, `trickle` a byte every 300 ms; the portal closes between
    // `fromMs` and `toMs` after the connection was made, having sent `reply` (the end of it).
    void slowAndIdleConnectionsAreCut_data()
    {
        QTest::addColumn<QStringList>("options"); QTest::addColumn<QByteArray>("opening");
        QTest::addColumn<QByteArray>("trickle"); QTest::addColumn<int>("fromMs"); QTest::addColumn<int>("toMs");
        QTest::addColumn<QByteArray>("reply");
        const QStringList header2 = {"--header-timeout", "2"}, idle3 = {"--header-timeout", "1", "--idle-timeout", "3"};
        const QByteArray none, postHead = "POST /tad/version.htm HTTP/1.1\r\n" + Host + "Content-Length: 100\r\n\r\n";
        QTest::newRow("a connection that sends nothing") << header2 << none << none << 1500 << 3500 << none;
        QTest::newRow("a head trickled a byte at a time") << header2 << none << VersionRequest << 1500 << 3500 << none;
        QTest::newRow("a body trickled after a whole head") << header2 << postHead << QByteArray(100, 'b') << 1500 << 3500 << none;
        QTest::newRow("a kept-alive connection outlives the header time-out, then idles out")
            << idle3 << VersionRequest << none << 2500 << 4500 << QByteArray("2.04");
    }

    void slowAndIdleConnectionsAreCut()
    {
        QFETCH(QStringList, options); QFETCH(QByteArray, opening); QFETCH(QByteArray, trickle); QFETCH(int, fromMs);
        QFETCH(int, toMs); QFETCH(QByteArray, reply);
        PortalRun portal;
        QVERIFY(portal.startFresh(options));
        QElapsedTimer timer;
        timer.start();
        RawClient c(portal.port());
        QCOMPARE(c.send(opening), opening.size());
        for (qsizetype next = 0; !c.closedByPortal() && timer.elapsed() < 6000; c.read(300)) {
            if (next < trickle.size() && c.send(trickle.mid(next, 1)) == 1)
                ++next;
        }
        QVERIFY2(c.closedByPortal(), "still open after 6 s");
        QVERIFY2(timer.elapsed() >= fromMs && timer.elapsed() < toMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(reply.isEmpty() ? c.received().isEmpty() : c.received().endsWith(reply), c.received().constData());
    }

    // 300 connections from one address each send `request` and stay, at a full house by `options`, by the descriptor limit
    // set on the running portal (0: none) or by the address's share (256 by default): at most that share stays open, a
    // newcomer from another address is answered at once, and the crowd is cut by its time-outs.
    void fullHouseLetsANewcomerIn_data()
    {
        QTest::addColumn<QStringList>("options"); QTest::addColumn<int>("descriptors");
        QTest::addColumn<QByteArray>("request"); // what each of the crowd sends, and then nothing
        const QStringList hundred{"--max-connections", "100"};
        QTest::newRow("kept alive, at the connection limit") << hundred << 0 << VersionRequest;
        QTest::newRow("kept alive, out of descriptors") << QStringList{} << 200 << VersionRequest;
        QTest::newRow("answered, waiting to close") << hundred << 0 << VersionRequest.chopped(2) + "Connection: close\r\n\r\n";
        QTest::newRow("heads that never end") << hundred + QStringList{"--header-timeout", "3"} << 0 << VersionRequest.chopped(2);
        QTest::newRow("bodies that never end") << hundred + QStringList{"--header-timeout", "3"} << 0
                                               << "POST /tad/version.htm HTTP/1.1\r\n" + Host + "Content-Length: 1000\r\n\r\n";
        QTest::newRow("heads from one address past its share") << QStringList{"--header-timeout", "3"} << 0 << VersionRequest.chopped(2);
    }

    void fullHouseLetsANewcomerIn()
    {
        QFETCH(QStringList, options); QFETCH(int, descriptors); QFETCH(QByteArray, request);
        PortalRun portal;
        QVERIFY(portal.startFresh(options + QStringList{"--busy-idle-timeout", "2"}));
        const rlimit files{rlim_t(descriptors), rlim_t(descriptors)};
        QVERIFY(descriptors == 0 || prlimit(pid_t(portal.pid()), RLIMIT_NOFILE, &files, nullptr) == 0);
        std::vector<std::unique_ptr<RawClient>> crowd;
        for (int i = 0; i < 300; ++i) {
            crowd.push_back(std::make_unique<RawClient>(portal.port()));
            crowd.back()->send(request);
            if (request.startsWith("GET") && request.endsWith("\r\n\r\n"))
                crowd.back()->read(1000, RawClient::wholeReply);
        }
        QTest::qWait(200);
        const qint64 probe = timedRequest(portal.port(), VersionRequest, "127.0.0.5");
        QVERIFY2(probe >= 0 && probe < 500, qPrintable(QString::number(probe)));
        const auto open = std::count_if(crowd.begin(), crowd.end(), [](const auto &c) { return !c->closedByPortal(); });
        QVERIFY2(open <= 256, qPrintable(QString::number(open)));
        QTest::qWait(3500);
        for (auto &c : crowd)
            QVERIFY(c->closedByPortal());
    }
};

QTEST_GUILESS_MAIN(TestPortalHostile)
#include "tst_portalhostile.moc"
