#pragma once

// What the HTTP layer hands a handler and what it writes back; no network code here.
#include <QByteArray>
#include <QList>
#include <QPair>

struct HttpRequest {
    QByteArray method;
    QByteArray target;        // raw, exactly as received
    QByteArray path;          // target up to "?", still percent-encoded
    QByteArray rawQuery;      // after "?", still percent-encoded
    QByteArray localAddress;  // the address the connection came in on, e.g. "127.0.0.2"
    QByteArray host;          // the Host field, as received
    QByteArray referer;       // the Referer field, as received; empty without one
    QByteArray peerAddress;   // the client's address
    quint16 localPort = 0;
};

struct HttpReply {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    static HttpReply text(int status, const QByteArray &body)
    {
        HttpReply r;
        r.status = status;
        r.body = body;
        return r;
    }
    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }
};

// One per worker thread, so a handler may keep per-thread state (a database connection).
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    virtual HttpReply handle(const HttpRequest &request) = 0;
};
