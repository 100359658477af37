// The real tadpole-portal program against clients that misbehave on purpose: clients that
// never read, that send slowly or not at all, that crowd in from one address, and request
// heads shaped to be read one way by the portal and another way by a proxy in front of it.
#include "PortalHarness.h"

#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A loopback client speaking raw bytes: from a chosen source address, optionally with a
// small receive buffer (a client meant not to read fills the portal's side sooner).
class RawClient {
public:
    explicit RawClient(quint16 port, const char *from = nullptr, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return;
        if (receiveBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (from) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            inet_pton(AF_INET, from, &source.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0) {
                drop();
                return;
            }
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            drop();
            return;
        }
        pollfd p{m_fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (poll(&p, 1, 2000) != 1 || getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
            drop();
    }
    ~RawClient() { drop(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return m_fd >= 0; }

    // Sends what the socket takes now, without waiting; -1 once the connection is gone.
    qint64 send(const QByteArray &bytes)
    {
        if (m_fd < 0)
            return -1;
        const ssize_t n = ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        if (n < 0)
            m_reset = m_reset || errno == ECONNRESET || errno == EPIPE;
        return n < 0 ? -1 : n;
    }

    // Reads until `enough` holds for what came, the portal closes, or `ms` pass.
    QByteArray read(int ms, const std::function<bool(const QByteArray &)> &enough = {})
    {
        QElapsedTimer timer;
        timer.start();
        while (m_fd >= 0 && !m_closed && !(enough && enough(m_received)) && timer.elapsed() < ms) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(std::max<qint64>(1, std::min<qint64>(50, ms - timer.elapsed())))) != 1)
                continue;
            takeWhatCame();
        }
        return m_received;
    }

    // True when the portal has closed the connection (end of stream or reset) by now.
    bool closedByPortal()
    {
        if (m_fd >= 0 && !m_closed)
            takeWhatCame();
        return m_closed;
    }

    QByteArray received() const { return m_received; }
    // True when the portal reset the connection rather than closing it in order.
    bool resetByPortal() const { return m_reset; }

private:
    void takeWhatCame()
    {
        char buf[65536];
        for (int i = 0; i < 64; ++i) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                m_received.append(buf, n);
            } else {
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    m_closed = true;
                if (n < 0 && errno == ECONNRESET)
                    m_reset = true;
                return;
            }
        }
    }
    void drop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
    bool m_closed = false;
    bool m_reset = false;
    QByteArray m_received;
};

int statusOf(const QByteArray &reply)
{
    return reply.startsWith("HTTP/1.") ? reply.mid(9, 3).toInt() : 0;
}

const QByteArray Host = "Host: portal.example\r\n";

// Asked for by clients that pipeline and never read: about 15 KB once sites are added.
const QByteArray BigReplyRequest = "GET /tad/tad_available.asp?t=1&userid=1 HTTP/1.1\r\n" + Host + "\r\n";

// A client that pipelines requests for large replies and reads none of them.
std::unique_ptr<RawClient> stalledReader(quint16 port)
{
    auto c = std::make_unique<RawClient>(port, nullptr, 4096);
    QByteArray requests;
    for (int i = 0; i < 800; ++i)
        requests += BigReplyRequest;
    qint64 sent = 0;
    QElapsedTimer timer;
    timer.start();
    while (sent < requests.size() && timer.elapsed() < 1000) {
        const qint64 n = c->send(requests.mid(sent));
        if (n < 0)
            break;
        if (n == 0)
            QTest::qWait(10);
        sent += n;
    }
    return c;
}

// Times one request on a new connection; -1 when unanswered within the bound.
qint64 timedRequest(quint16 port, const QByteArray &request, const char *from = nullptr, int boundMs = 3000)
{
    QElapsedTimer timer;
    timer.start();
    RawClient c(port, from);
    if (!c.connected() || c.send(request) != request.size())
        return -1;
    const QByteArray reply = c.read(boundMs, [](const QByteArray &r) { return r.contains("\r\n\r\n"); });
    return statusOf(reply) == 200 ? timer.elapsed() : -1;
}

const QByteArray VersionRequest = "GET /tad/version.htm HTTP/1.1\r\n" + Host + "\r\n";

} // namespace

class TestPortalHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void smugglingShapesAreRefused_data();
    void smugglingShapesAreRefused();
    void requestShapesAreAnswered_data();
    void requestShapesAreAnswered();
    void expectContinueIsAnswered();
    void oversizedRequestsGetTheirErrorReply_data();
    void oversizedRequestsGetTheirErrorReply();
    void accessLogEscapesBytes_data();
    void accessLogEscapesBytes();
    void nonReadingClientsHoldNobodyUp();
    void slowRequestsAreCutOff_data();
    void slowRequestsAreCutOff();
    void idleConnectionOutlivesTheHeaderTimeoutThenCloses();
    void crowdFromOneAddressLeavesRoomForOthers();
    void sigtermEndsThePortalUnderAttack();

private:
    QStringList dbArgs(const QString &name) const
    {
        return {QStringLiteral("--db"), QStringLiteral("sqlite:") + m_dir.filePath(name)};
    }
    void addSites(PortalRun &portal);
    QTemporaryDir m_dir;
    PortalRun m_portal;  // shared by the rows that leave nothing behind
};

void TestPortalHostile::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_portal.start(dbArgs("shared.sqlite") + QStringList{"--access-log", m_dir.filePath("access.log")}));
    // The crowd below needs a descriptor per connection.
    rlimit files{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &files) == 0);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

void TestPortalHostile::addSites(PortalRun &portal)
{
    const QByteArray comment(200, 'c');
    for (int i = 0; i < 50; ++i) {
        const QByteArray n = QByteArray::number(i);
        QCOMPARE(portal.get("/tad/tad_postsite.asp?url=http%3A%2F%2Fsite" + n + ".example%2F&shortname=Site%20" + n
                            + "&comments=" + comment + "&AgeFrom=3&AgeTo=12&LogoLoc=S_gif.gif&id=0&userid=900"
                              "&Delete=0&Type=1")
                     .status,
                 200);
    }
    QVERIFY(portal.get("/tad/tad_available.asp?t=1&userid=1").body.size() > 12000);
}

void TestPortalHostile::smugglingShapesAreRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    // Each shape carries a second request that a lax reading would answer too.
    const QByteArray next = VersionRequest;
    const QByteArray n = QByteArray::number(next.size());
    const QByteArray post = "POST /tad/version.htm HTTP/1.1\r\n" + Host;
    const QByteArray get = "GET /tad/version.htm HTTP/1.1\r\n";
    QTest::newRow("two Content-Length fields that differ")
        << post + "Content-Length: 0\r\nContent-Length: " + n + "\r\n\r\n" + next;
    QTest::newRow("two equal Content-Length fields")
        << post + "Content-Length: " + n + "\r\nContent-Length: " + n + "\r\n\r\n" + next;
    QTest::newRow("a space before the colon of Content-Length") << post + "Content-Length : " + n + "\r\n\r\n" + next;
    QTest::newRow("Content-Length with a plus sign") << post + "Content-Length: +" + n + "\r\n\r\n" + next;
    QTest::newRow("a header line folded with a space") << get + Host + "X-Note: one\r\n two\r\n\r\n" + next;
    QTest::newRow("a header line folded with a tab") << get + Host + "X-Note: one\r\n\ttwo\r\n\r\n" + next;
    QTest::newRow("bare LF line ends throughout") << "GET /tad/version.htm HTTP/1.1\nHost: portal.example\n\n" + next;
    QTest::newRow("one bare LF hiding a Content-Length")
        << get + "Host: portal.example\nContent-Length: " + n + "\r\n\r\n" + next;
    QTest::newRow("a bare CR hiding a Content-Length in a field")
        << get + Host + "X-Note: a\rContent-Length: " + n + "\r\n\r\n" + next;
    QTest::newRow("HTTP/1.1 without Host") << get + "\r\n" + next;
    QTest::newRow("HTTP/1.1 with two Host fields") << get + Host + "Host: other.example\r\n\r\n" + next;
    QTest::newRow("Transfer-Encoding beside Content-Length")
        << post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + next;
}

void TestPortalHostile::smugglingShapesAreRefused()
{
    QFETCH(QByteArray, request);
    RawClient c(m_portal.port());
    QVERIFY(c.connected());
    QCOMPARE(c.send(request), request.size());
    const QByteArray reply = c.read(3000);
    QVERIFY2(c.closedByPortal(), reply.constData());
    QCOMPARE(statusOf(reply), 400);
    QVERIFY2(!reply.contains("\r\n\r\n2.04"), reply.constData());  // the carried request was never answered
    QCOMPARE(m_portal.get("/tad/version.htm").body, QByteArray("2.04"));
}

void TestPortalHostile::requestShapesAreAnswered_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("replyHolds");
    QTest::newRow("absolute-form target") << "GET http://portal.example/tad/version.htm HTTP/1.1\r\n" + Host + "\r\n"
                                          << 200 << QByteArray("\r\n\r\n2.04");
    // Sent in two pieces, the first ending inside a field name (see below).
    QTest::newRow("a head that arrives in pieces") << QByteArray("GET /tad/version.htm HTTP/1.1\r\nHo|st: a\r\n\r\n") << 200
                                                   << QByteArray("\r\n\r\n2.04");
    QTest::newRow("absolute-form target with a query")
        << "GET HTTP://portal.example/tad/tad_getface.asp?userid=5 HTTP/1.1\r\n" + Host + "\r\n" << 200
        << QByteArray("\r\n\r\nChild 1\tChild 2");
    QTest::newRow("unknown method") << "FROB /tad/version.htm HTTP/1.1\r\n" + Host + "\r\n" << 501 << QByteArray();
    QTest::newRow("a method the portal does not serve carries Allow")
        << "DELETE /tad/version.htm HTTP/1.1\r\n" + Host + "\r\n" << 405 << QByteArray("\r\nAllow: GET, HEAD, POST\r\n");
    QTest::newRow("HTTP/1.0 needs no Host") << QByteArray("GET /tad/version.htm HTTP/1.0\r\n\r\n") << 200
                                            << QByteArray("\r\n\r\n2.04");
}

void TestPortalHostile::requestShapesAreAnswered()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, replyHolds);
    RawClient c(m_portal.port());
    for (const QByteArray &piece : request.split('|')) {
        QCOMPARE(c.send(piece), piece.size());
        QTest::qWait(200);
    }
    const QByteArray reply = c.read(3000, [](const QByteArray &r) { return r.contains("\r\n\r\n"); });
    QCOMPARE(statusOf(reply), status);
    QVERIFY2(c.read(1000, [&](const QByteArray &r) { return r.contains(replyHolds); }).contains(replyHolds),
             reply.constData());
}

void TestPortalHostile::expectContinueIsAnswered()
{
    RawClient c(m_portal.port());
    QVERIFY(c.send("POST /tad/version.htm HTTP/1.1\r\n" + Host + "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n") > 0);
    // The client holds its body back until it is told to go on.
    const QByteArray interim = c.read(2000, [](const QByteArray &r) { return r.contains("\r\n\r\n"); });
    QVERIFY2(interim.startsWith("HTTP/1.1 100 Continue\r\n\r\n"), interim.constData());
    QCOMPARE(c.send("hello"), 5);
    const QByteArray all = c.read(2000, [](const QByteArray &r) { return r.endsWith("2.04"); });
    QCOMPARE(statusOf(all.mid(25)), 200);
}

void TestPortalHostile::oversizedRequestsGetTheirErrorReply_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    // Each sends 3 MB after its head before it reads anything, as an uploading client
    // does. A server that closes with those bytes unread resets the connection, and many
    // clients then lose the reply waiting for them.
    QTest::newRow("a body over the limit, sent anyway")
        << "POST /tad/version.htm HTTP/1.1\r\n" + Host + "Content-Length: 3000000\r\n\r\n" << 413;
    QTest::newRow("a head field that never ends") << "GET /tad/version.htm HTTP/1.1\r\n" + Host + "X-Long: " << 431;
    QTest::newRow("a request line that never ends") << QByteArray("GET /tad/") << 414;
}

void TestPortalHostile::oversizedRequestsGetTheirErrorReply()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    RawClient c(m_portal.port());
    QCOMPARE(c.send(head), head.size());
    const QByteArray chunk(65536, 'a');
    qint64 sent = 0;
    QElapsedTimer timer;
    timer.start();
    while (sent < 3000000 && timer.elapsed() < 3000) {
        const qint64 n = c.send(chunk.left(3000000 - sent));
        if (n < 0)
            break;
        if (n == 0)
            QTest::qWait(1);
        sent += n;
    }
    QVERIFY2(!c.resetByPortal(), qPrintable(QStringLiteral("reset after %1 bytes").arg(sent)));
    QCOMPARE(sent, 3000000);
    const QByteArray reply = c.read(3000);
    QCOMPARE(statusOf(reply), status);
    QVERIFY(c.closedByPortal());
    QVERIFY(!c.resetByPortal());
}

void TestPortalHostile::accessLogEscapesBytes_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("logged");  // empty: no line at all
    QTest::newRow("UTF-8 bytes are escaped") << QByteArray("/tad/version.htm?n=\xC3\xA9t\xC3\xA9") << 200
                                             << QByteArray("/tad/version.htm?n=%C3%A9t%C3%A9");
    QTest::newRow("bytes that are not UTF-8 are escaped") << QByteArray("/no-such-page\xFF\xFE") << 404
                                                          << QByteArray("/no-such-page%FF%FE");
    QTest::newRow("percent-encoding stays as sent") << QByteArray("/tad/version.htm?n=%41%0A") << 200
                                                    << QByteArray("/tad/version.htm?n=%41%0A");
    QTest::newRow("an escape byte is refused, not logged") << QByteArray("/tad/version.htm?\x1B[2J") << 400
                                                          << QByteArray();
}

void TestPortalHostile::accessLogEscapesBytes()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, logged);
    QFile log(m_dir.filePath("access.log"));
    const qint64 before = log.exists() ? log.size() : 0;
    RawClient c(m_portal.port());
    const QByteArray request = "GET " + target + " HTTP/1.1\r\n" + Host + "Connection: close\r\n\r\n";
    QCOMPARE(c.send(request), request.size());
    QCOMPARE(statusOf(c.read(3000)), status);
    QVERIFY(log.open(QIODevice::ReadOnly));
    log.seek(before);
    const QByteArray added = log.readAll();
    const QByteArray expected = logged.isEmpty() ? QByteArray()
                                                 : "127.0.0.1:" + QByteArray::number(m_portal.port()) + " GET " + logged + '\n';
    QCOMPARE(added, expected);
}

void TestPortalHostile::nonReadingClientsHoldNobodyUp()
{
    PortalRun portal;
    QVERIFY(portal.start(dbArgs("readers.sqlite") + QStringList{"--maintainer", "900", "--threads", "2"}));
    addSites(portal);
    if (QTest::currentTestFailed())
        return;
    auto first = stalledReader(portal.port());
    auto second = stalledReader(portal.port());
    QVERIFY(first->connected() && second->connected());
    QTest::qWait(300);  // their replies back up
    // Each probe is a new client; a database page too, so a worker must be free.
    for (int i = 0; i < 6; ++i) {
        const qint64 version = timedRequest(portal.port(), VersionRequest);
        const qint64 available = timedRequest(portal.port(), BigReplyRequest);
        QVERIFY2(version >= 0 && version < 500, qPrintable(QString::number(version)));
        QVERIFY2(available >= 0 && available < 500, qPrintable(QString::number(available)));
        QTest::qWait(300);
    }
    QVERIFY(!first->closedByPortal());  // still attached and still not reading
    QVERIFY(!second->closedByPortal());
}

void TestPortalHostile::slowRequestsAreCutOff_data()
{
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("trickle");  // sent a byte every 300 ms
    QTest::newRow("a connection that sends nothing") << QByteArray() << QByteArray();
    QTest::newRow("a head trickled a byte at a time") << QByteArray() << VersionRequest;
    QTest::newRow("a body trickled after a whole head")
        << "POST /tad/version.htm HTTP/1.1\r\n" + Host + "Content-Length: 100\r\n\r\n" << QByteArray(100, 'b');
}

void TestPortalHostile::slowRequestsAreCutOff()
{
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, trickle);
    PortalRun portal;
    QVERIFY(portal.start(dbArgs("slow.sqlite") + QStringList{"--header-timeout", "2"}));
    QElapsedTimer timer;
    timer.start();
    RawClient c(portal.port());
    QCOMPARE(c.send(opening), opening.size());
    qsizetype next = 0;
    while (!c.closedByPortal() && timer.elapsed() < 6000) {
        if (next < trickle.size() && c.send(trickle.mid(next, 1)) == 1)
            ++next;
        c.read(300);
    }
    QVERIFY2(c.closedByPortal(), "still open after 6 s");
    QVERIFY2(timer.elapsed() >= 1500 && timer.elapsed() < 3500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(c.received(), QByteArray());  // cut off, not answered
}

void TestPortalHostile::idleConnectionOutlivesTheHeaderTimeoutThenCloses()
{
    PortalRun portal;
    QVERIFY(portal.start(dbArgs("idle.sqlite") + QStringList{"--header-timeout", "1", "--idle-timeout", "3"}));
    RawClient c(portal.port());
    QElapsedTimer timer;
    QCOMPARE(c.send(VersionRequest), VersionRequest.size());
    QVERIFY(c.read(2000, [](const QByteArray &r) { return r.endsWith("2.04"); }).endsWith("2.04"));
    timer.start();
    c.read(2000);
    QVERIFY2(!c.closedByPortal(), "an idle connection was cut at the header time-out");
    c.read(3000);
    QVERIFY(c.closedByPortal());
    QVERIFY2(timer.elapsed() >= 2500 && timer.elapsed() < 4500, qPrintable(QString::number(timer.elapsed())));
}

void TestPortalHostile::crowdFromOneAddressLeavesRoomForOthers()
{
    // 2,000 connections from 127.0.0.1 trickling their heads, default limits: one address
    // holds at most --max-per-address (256) of them, and a client from 127.0.0.5 is
    // answered at once.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    const int crowdSize = int(std::min<rlim_t>(2000, files.rlim_cur > 300 ? files.rlim_cur - 300 : 0));
    if (crowdSize < 600)
        QSKIP("too few file descriptors for a crowd");
    PortalRun portal;
    QVERIFY(portal.start(dbArgs("crowd.sqlite")));
    std::vector<std::unique_ptr<RawClient>> crowd;
    crowd.reserve(size_t(crowdSize));
    const QByteArray partial = "GET /tad/version.htm HTTP/1.1\r\nHo";
    for (int i = 0; i < crowdSize; ++i) {
        crowd.push_back(std::make_unique<RawClient>(portal.port()));
        crowd.back()->send(partial);
    }
    for (int round = 0; round < 3; ++round) {
        QTest::qWait(400);
        for (auto &c : crowd)
            c->send("s");
    }
    const qint64 probe = timedRequest(portal.port(), VersionRequest, "127.0.0.5", 3000);
    QVERIFY2(probe >= 0 && probe < 1000, qPrintable(QString::number(probe)));
    int open = 0;
    for (auto &c : crowd)
        open += c->connected() && !c->closedByPortal() ? 1 : 0;
    QVERIFY2(open > 0 && open <= 256, qPrintable(QString::number(open)));
}

void TestPortalHostile::sigtermEndsThePortalUnderAttack()
{
    PortalRun portal;
    QVERIFY(portal.start(dbArgs("term.sqlite") + QStringList{"--maintainer", "900", "--threads", "2"}));
    addSites(portal);
    if (QTest::currentTestFailed())
        return;
    auto reader = stalledReader(portal.port());
    RawClient slowHead(portal.port());
    QVERIFY(slowHead.send("GET /tad/version.htm HTTP/1.1\r\nHo") > 0);
    QTest::qWait(300);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(portal.stop(), 0);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestPortalHostile)
#include "tst_portalhostile.moc"
