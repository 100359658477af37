#include "HttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray statusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char ch : s) {
        if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9')
              || ch == '-' || ch == '_'))
            return false;
    }
    return true;
}

QByteArray addressText(const sockaddr_storage &ss, quint16 *port)
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto *a = reinterpret_cast<const sockaddr_in *>(&ss);
        inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
        *port = ntohs(a->sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto *a = reinterpret_cast<const sockaddr_in6 *>(&ss);
        inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
        *port = ntohs(a->sin6_port);
    }
    return QByteArray(buf);
}

} // namespace

HttpReply HttpReply::text(int status, const QByteArray &body)
{
    HttpReply r;
    r.status = status;
    r.body = body;
    return r;
}

struct HttpServer::Connection {
    int fd = -1;
    bool isListener = false;
    QByteArray in;
    QByteArray localAddress;
    quint16 localPort = 0;
};

HttpServer::HttpServer(HandlerFactory factory, int threads, HttpLimits limits)
    : m_factory(std::move(factory)), m_threads(threads < 1 ? 1 : threads), m_limits(limits)
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;  // level-triggered: every worker sees the stop
    ev.data.ptr = nullptr;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_stopFd, &ev);
}

HttpServer::~HttpServer()
{
    stop();
    for (Connection *c : m_connections) {
        if (!c->isListener)
            ::close(c->fd);
        delete c;
    }
    for (int fd : m_listenFds)
        ::close(fd);
    ::close(m_stopFd);
    ::close(m_epoll);
}

int HttpServer::listen(const QByteArray &address, int port, QString *error)
{
    sockaddr_storage ss{};
    socklen_t len = 0;
    int family = AF_INET;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&ss);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    if (inet_pton(AF_INET, address.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(quint16(port));
        len = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, address.constData(), &v6->sin6_addr) == 1) {
        family = AF_INET6;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(quint16(port));
        len = sizeof(sockaddr_in6);
    } else {
        *error = QStringLiteral("not a numeric address: %1").arg(QString::fromUtf8(address));
        return -1;
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&ss), len) != 0 || ::listen(fd, 1024) != 0) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(QString::fromUtf8(address)).arg(port)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLen);
    quint16 boundPort = 0;
    addressText(bound, &boundPort);

    auto *c = new Connection;
    c->fd = fd;
    c->isListener = true;
    {
        std::lock_guard lock(m_connectionsMutex);
        m_connections.insert(c);
    }
    m_listenFds.push_back(fd);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.ptr = c;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    return boundPort;
}

bool HttpServer::start(QString *error)
{
    if (m_epoll < 0 || m_stopFd < 0) {
        *error = QStringLiteral("cannot create the event set");
        return false;
    }
    // Out of descriptors, accept() fails at once and the listener would wake the workers
    // in a tight loop: stay below the limit instead.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
            getrlimit(RLIMIT_NOFILE, &files);
        }
        const rlim_t room = files.rlim_cur > 128 ? files.rlim_cur - 128 : 16;
        if (rlim_t(m_limits.maxConnections) > room)
            m_limits.maxConnections = int(room);
    }
    for (int i = 0; i < m_threads; ++i) {
        m_workers.emplace_back([this] {
            std::unique_ptr<RequestHandler> handler = m_factory();
            workerLoop(handler.get());
        });
    }
    return true;
}

void HttpServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    const quint64 one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

void HttpServer::workerLoop(RequestHandler *handler)
{
    epoll_event events[16];
    while (!m_stopping.load()) {
        const int n = epoll_wait(m_epoll, events, 16, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < n; ++i) {
            auto *c = static_cast<Connection *>(events[i].data.ptr);
            if (!c)
                return;  // the stop event
            if (c->isListener) {
                acceptAll(c->fd);
                epoll_event ev{};
                ev.events = EPOLLIN | EPOLLONESHOT;
                ev.data.ptr = c;
                epoll_ctl(m_epoll, EPOLL_CTL_MOD, c->fd, &ev);
            } else {
                serve(c, handler);
            }
        }
    }
}

void HttpServer::acceptAll(int listenFd)
{
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (m_connectionCount.load() >= m_limits.maxConnections) {
            ::close(fd);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto *c = new Connection;
        c->fd = fd;
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len);
        c->localAddress = addressText(local, &c->localPort);
        {
            std::lock_guard lock(m_connectionsMutex);
            m_connections.insert(c);
        }
        ++m_connectionCount;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
        ev.data.ptr = c;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
            closeConnection(c);
    }
}

void HttpServer::closeConnection(Connection *c)
{
    {
        std::lock_guard lock(m_connectionsMutex);
        m_connections.erase(c);
    }
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, c->fd, nullptr);
    ::close(c->fd);
    --m_connectionCount;
    delete c;
}

bool HttpServer::writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, m_limits.writeTimeoutMs) <= 0)
                return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

void HttpServer::logRequest(const HttpRequest &r)
{
    if (m_accessLogFd < 0)
        return;
    // One write() per line on an O_APPEND file keeps lines whole across workers.
    const QByteArray line = r.localAddress + ':' + QByteArray::number(r.localPort) + ' ' + r.method
                            + ' ' + r.target + '\n';
    [[maybe_unused]] ssize_t n = ::write(m_accessLogFd, line.constData(), size_t(line.size()));
}

void HttpServer::serve(Connection *c, RequestHandler *handler)
{
    char buf[16384];
    bool peerClosed = false;
    for (;;) {
        const ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
        if (n > 0) {
            c->in.append(buf, n);
            if (c->in.size() > m_limits.maxHeadBytes + m_limits.maxBodyBytes + qsizetype(sizeof buf))
                break;  // enough to decide; the checks below refuse it
        } else if (n == 0) {
            peerClosed = true;
            break;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            closeConnection(c);
            return;
        }
    }

    auto refuse = [&](int status, const QByteArray &reason) {
        HttpReply r = HttpReply::text(status, reason + '\n');
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status)
                         + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
                         + QByteArray::number(r.body.size()) + "\r\nConnection: close\r\n\r\n" + r.body;
        writeAll(c->fd, out);
        closeConnection(c);
    };

    for (;;) {
        // The head ends at the first empty line; bare LF line ends are taken too.
        qsizetype headEnd = -1, bodyStart = -1;
        const qsizetype crlf = c->in.indexOf("\r\n\r\n");
        const qsizetype lf = c->in.indexOf("\n\n");
        if (crlf >= 0 && (lf < 0 || crlf < lf)) {
            headEnd = crlf;
            bodyStart = crlf + 4;
        } else if (lf >= 0) {
            headEnd = lf;
            bodyStart = lf + 2;
        }
        const qsizetype lineEnd = c->in.indexOf('\n');
        const qsizetype lineCap = m_limits.maxTargetBytes + 32;  // method, spaces, version
        if ((lineEnd < 0 && c->in.size() > lineCap) || lineEnd > lineCap)
            return refuse(414, "request line too long");
        if (headEnd < 0) {
            if (c->in.size() > m_limits.maxHeadBytes)
                return refuse(431, "request head too large");
            break;
        }
        if (headEnd > m_limits.maxHeadBytes)
            return refuse(431, "request head too large");

        const QList<QByteArray> lines = c->in.left(headEnd).split('\n');
        QByteArray requestLine = lines.value(0);
        if (requestLine.endsWith('\r'))
            requestLine.chop(1);
        const QList<QByteArray> parts = requestLine.split(' ');
        if (parts.size() != 3 || !isToken(parts[0]) || !parts[2].startsWith("HTTP/1."))
            return refuse(400, "malformed request line");
        HttpRequest req;
        req.method = parts[0];
        req.target = parts[1];
        if (req.target.size() > m_limits.maxTargetBytes)
            return refuse(414, "request target too long");
        if (!req.target.startsWith('/'))
            return refuse(400, "request target must be a path");
        for (char ch : req.target) {
            if (uchar(ch) < 0x21 || uchar(ch) == 0x7f)
                return refuse(400, "control character in request target");
        }
        if (lines.size() - 1 > m_limits.maxHeaders)
            return refuse(431, "too many header fields");

        const bool http10 = parts[2] == "HTTP/1.0";
        bool keepAlive = !http10;
        qint64 contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines[i];
            if (line.endsWith('\r'))
                line.chop(1);
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                return refuse(400, "malformed header field");
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "connection") {
                const QByteArray v = value.toLower();
                if (v.contains("close"))
                    keepAlive = false;
                else if (v.contains("keep-alive"))
                    keepAlive = true;
            } else if (name == "content-length") {
                bool ok = false;
                contentLength = value.toLongLong(&ok);
                if (!ok || contentLength < 0)
                    return refuse(400, "malformed Content-Length");
            } else if (name == "transfer-encoding") {
                return refuse(501, "chunked request bodies are not accepted");
            }
        }
        if (contentLength > m_limits.maxBodyBytes)
            return refuse(413, "request body too large");
        if (c->in.size() < bodyStart + contentLength)
            break;  // wait for the rest of the body
        c->in.remove(0, bodyStart + qsizetype(contentLength));

        const qsizetype q = req.target.indexOf('?');
        req.path = q < 0 ? req.target : req.target.left(q);
        req.rawQuery = q < 0 ? QByteArray() : req.target.mid(q + 1);
        req.localAddress = c->localAddress;
        req.localPort = c->localPort;
        logRequest(req);

        HttpReply reply;
        if (req.method != "GET" && req.method != "HEAD" && req.method != "POST")
            reply = HttpReply::text(405, "method not allowed\n");
        else
            reply = handler->handle(req);

        QByteArray out;
        out.reserve(256 + reply.body.size());
        out += "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + statusText(reply.status) + "\r\n";
        out += "Content-Type: " + reply.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        for (const auto &h : reply.headers)
            out += h.first + ": " + h.second + "\r\n";
        if (!keepAlive)
            out += "Connection: close\r\n";
        else if (http10)
            out += "Connection: keep-alive\r\n";
        out += "\r\n";
        if (req.method != "HEAD")
            out += reply.body;
        if (!writeAll(c->fd, out) || !keepAlive) {
            closeConnection(c);
            return;
        }
    }

    if (peerClosed || m_stopping.load()) {
        closeConnection(c);
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
    ev.data.ptr = c;
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, c->fd, &ev) != 0)
        closeConnection(c);
}
