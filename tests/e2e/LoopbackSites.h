#pragma once

#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

inline QByteArray reply(const QByteArray &body, const QByteArray &status = "200 OK",
                        const QByteArray &headers = "Content-Type: text/html; charset=utf-8\r\n")
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size())
        + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

// The test's own web server on several loopback addresses and one port, answering from the test's event loop. It logs
// every request ("GET /target") by the host and port its Host header names ("127.0.0.21:40000", "evilkids.localhost:40000":
// names under .localhost reach 127.0.0.1) and answers from `replies` by address and path ("20/page.htm": a whole HTTP
// reply); without one, host 21 answers a small page, the others 404.
class LoopbackSites : public QObject {
public:
    bool listen(const QList<int> &hosts)
    {
        for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
            qDeleteAll(findChildren<QTcpServer *>(Qt::FindDirectChildrenOnly));
            for (int host : hosts) {
                auto *server = new QTcpServer(this);
                if (!server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), port)) {
                    port = 0; // that port is taken on one of the addresses: all again on another
                    break;
                }
                port = server->serverPort();
                connect(server, &QTcpServer::newConnection, this, [this, server, host] {
                    while (QTcpSocket *socket = server->nextPendingConnection())
                        connect(socket, &QTcpSocket::readyRead, this, [this, socket, host] { answer(socket, host); });
                });
            }
        }
        return port != 0;
    }
    QHash<QString, QStringList> log;
    QHash<QString, QByteArray> replies;
    quint16 port = 0;

private:
    void answer(QTcpSocket *socket, int host)
    {
        const QByteArray head = socket->peek(1 << 16);
        if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        const QList<QByteArray> line = head.left(head.indexOf("\r\n")).split(' ');
        const qsizetype named = head.indexOf("\r\nHost: ") + 8;
        log[QString::fromLatin1(head.mid(named, head.indexOf("\r\n", named) - named))] << QString::fromLatin1(line.value(0) + ' ' + line.value(1));
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(replies.value(QString::number(host) + QString::fromLatin1(line.value(1)).section('?', 0, 0),
            host == 21 ? reply("<title>Reached</title>reached") : reply("no such page", "404 Not Found")));
        socket->disconnectFromHost();
    }
};
