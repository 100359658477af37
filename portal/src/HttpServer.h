#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

struct HttpRequest {
    QByteArray method;
    QByteArray target;        // raw, exactly as received
    QByteArray path;          // target up to "?", still percent-encoded
    QByteArray rawQuery;      // after "?", still percent-encoded
    QByteArray localAddress;  // the address the connection came in on, e.g. "127.0.0.2"
    quint16 localPort = 0;
};

struct HttpReply {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    static HttpReply text(int status, const QByteArray &body);
    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }
};

// One per worker thread, so a handler may keep per-thread state (a database connection).
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    virtual HttpReply handle(const HttpRequest &request) = 0;
};

struct HttpLimits {
    int maxHeadBytes = 16 * 1024;     // request line + headers; beyond: 431 (414 for the line)
    int maxTargetBytes = 8 * 1024;
    int maxHeaders = 64;
    int maxBodyBytes = 64 * 1024;     // beyond: 413
    int maxConnections = 4096;
    int writeTimeoutMs = 10000;
};

// A small HTTP/1.1 server: N workers share one epoll set, so an idle keep-alive
// connection holds no thread (a thread-per-connection pool of 2 stalls as soon as a
// browser keeps two connections open). Replies are written with TCP_NODELAY on.
class HttpServer {
public:
    using HandlerFactory = std::function<std::unique_ptr<RequestHandler>()>;

    HttpServer(HandlerFactory factory, int threads, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Returns the bound port (useful with port 0), or -1 with *error set.
    int listen(const QByteArray &address, int port, QString *error);
    void setAccessLog(int fd) { m_accessLogFd = fd; }
    bool start(QString *error);
    // Stops taking requests; requests in flight finish; joins the workers.
    void stop();

private:
    struct Connection;
    void workerLoop(RequestHandler *handler);
    void acceptAll(int listenFd);
    void serve(Connection *c, RequestHandler *handler);
    bool writeAll(int fd, const QByteArray &data);
    void closeConnection(Connection *c);
    void logRequest(const HttpRequest &r);

    HandlerFactory m_factory;
    int m_threads;
    HttpLimits m_limits;
    int m_epoll = -1;
    int m_stopFd = -1;
    int m_accessLogFd = -1;
    std::vector<int> m_listenFds;
    std::vector<std::thread> m_workers;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connectionCount{0};
    std::mutex m_connectionsMutex;
    std::set<Connection *> m_connections;
};
