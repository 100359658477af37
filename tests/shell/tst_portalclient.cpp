#include "shell/HttpTransport.h"
#include "shell/PortalClient.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// A small HTTP server in the test's own event loop; the transport's wait
// runs that loop, so it answers while the fetch blocks.
class TestServer : public QTcpServer {
public:
    TestServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/tad/").arg(serverPort()); }
    QList<QByteArray> targets;

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray target = request.split(' ').value(1);
        targets << target;
        QByteArray status = "200 OK";
        QByteArray body;
        if (target.contains("spaced")) {
            body = " 7 ";
        } else if (target.contains("words")) {
            body = "abc";
        } else if (target.contains("empty")) {
            body = "";
        } else if (target.contains("broken")) {
            status = "500 Internal Server Error";
            body = "3";
        } else if (target.contains("huge")) {
            body = QByteArray(9 * 1024 * 1024, 'x');
        } else if (target.contains("slow")) {
            QPointer<QTcpSocket> later(socket);
            QTimer::singleShot(30000, this, [later] {
                if (later)
                    later->write("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\n1");
            });
            return;
        } else if (target.contains("garbage")) {
            socket->write(QByteArray("\x01\x02 not http at all\xff\r\n\r\n", 24));
            socket->disconnectFromHost();
            return;
        } else if (target.endsWith("version.htm")) {
            body = "2.04";
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
                      + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

class tst_PortalClient : public QObject {
    Q_OBJECT
private slots:
    void numbersAreRecognised();
    void checkPortalIsTrueOnlyForANumber_data();
    void checkPortalIsTrueOnlyForANumber();
    void failuresAreNeverEmptyReplies();
    void valuesArePercentEncodedKeysAndOrderKept();
    void faceNamesFillMissingPieces();
};

void tst_PortalClient::numbersAreRecognised()
{
    for (const char *number : {"2.04", " 7 ", "-1.5e3"})
        QVERIFY2(PortalClient::readsAsNumber(QString::fromLatin1(number)), number);
    for (const char *other : {"", "abc", "<html><body>404</body></html>", "2 04"})
        QVERIFY2(!PortalClient::readsAsNumber(QString::fromLatin1(other)), other);
}

void tst_PortalClient::checkPortalIsTrueOnlyForANumber_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("2.04") << "" << true;
    QTest::newRow("space then 7") << "spaced/" << true;
    QTest::newRow("text") << "words/" << false;
    QTest::newRow("empty reply") << "empty/" << false;
    QTest::newRow("HTTP 500 with a number in its body") << "broken/" << false;
    QTest::newRow("a reply that is not HTTP") << "garbage/" << false;
}

void tst_PortalClient::checkPortalIsTrueOnlyForANumber()
{
    QFETCH(QString, folder);
    TestServer server;
    HttpTransport transport;
    PortalClient client(transport, server.base() + folder);
    QTEST(client.checkPortal(), "reachable");
}

void tst_PortalClient::failuresAreNeverEmptyReplies()
{
    TestServer server;
    HttpTransport transport(500);

    const FetchResult empty = transport.fetch(server.base() + QStringLiteral("empty"));
    QVERIFY(empty.ok());
    QCOMPARE(*empty.body, QByteArray());

    QElapsedTimer clock;
    clock.start();
    const FetchResult slow = transport.fetch(server.base() + QStringLiteral("slow"));
    QVERIFY(!slow.ok());
    QVERIFY(!slow.error.isEmpty());
    QVERIFY2(clock.elapsed() < 20000, "the time-out must end the wait, long before the reply");

    const FetchResult huge = transport.fetch(server.base() + QStringLiteral("huge"));
    QVERIFY(!huge.ok());

    const FetchResult broken = transport.fetch(server.base() + QStringLiteral("broken"));
    QVERIFY(!broken.ok());
    QVERIFY(broken.error.contains(QLatin1String("500")));

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    const FetchResult refused = transport.fetch(QStringLiteral("http://127.0.0.1:%1/tad/version.htm").arg(deadPort));
    QVERIFY(!refused.ok());
    QVERIFY(!refused.error.isEmpty());

    QVERIFY(!transport.fetch(QStringLiteral("not an address")).ok());
}

void tst_PortalClient::valuesArePercentEncodedKeysAndOrderKept()
{
    TestServer server;
    HttpTransport transport;
    PortalClient client(transport, server.base());
    const FetchResult reply = client.request(
        QStringLiteral("tad_saveface.asp"),
        {{QStringLiteral("userid"), QStringLiteral("123")},
         {QStringLiteral("tface"), QStringLiteral("2")},
         {QStringLiteral("newname"), QStringLiteral("Tom & Jerry #1 = 100% Ölçü")}});
    QVERIFY(reply.ok());
    QCOMPARE(server.targets.value(0),
             QByteArray("/tad/tad_saveface.asp?userid=123&tface=2&newname=Tom%20%26%20Jerry%20%231%20%3D%20100%25%20%C3%96l%C3%A7%C3%BC"));
    QCOMPARE(client.address(QStringLiteral("version.htm")), server.base() + QStringLiteral("version.htm"));
}

void tst_PortalClient::faceNamesFillMissingPieces()
{
    QCOMPARE(PortalClient::faceNamesFrom(QStringLiteral("Anna\tBen\tCara\tDan")),
             QStringList({"Anna", "Ben", "Cara", "Dan"}));
    QCOMPARE(PortalClient::faceNamesFrom(QStringLiteral("Anna\t")), QStringList({"Anna", "", "Child 3", "Child 4"}));
    QCOMPARE(PortalClient::faceNamesFrom(std::nullopt), QStringList({"Child 1", "Child 2", "Child 3", "Child 4"}));
}

QTEST_GUILESS_MAIN(tst_PortalClient)
#include "tst_portalclient.moc"
