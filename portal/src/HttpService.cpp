// Boost first: Qt's keyword macros must not reach its headers.
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "HttpService.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
// Each connection stays on its worker's loop, so the plain executor of that loop will do.
using Executor = net::io_context::executor_type;
using Socket = net::basic_stream_socket<tcp, Executor>;
using Acceptor = net::basic_socket_acceptor<tcp, Executor>;
using Clock = std::chrono::steady_clock;
using Timer = net::basic_waitable_timer<Clock, net::wait_traits<Clock>, Executor>;

namespace {

// The handler of the worker thread running the current completion.
thread_local RequestHandler *t_handler = nullptr;

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

// Beast refuses bare CR and bare LF itself but joins folded (obs-fold) lines into one
// value. Two parsers that split a head differently are how requests are smuggled past a
// proxy, so every line must end in CR LF and none may continue the one before.
const char *headShapeFault(std::string_view head)
{
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n'))
            return "a bare CR in the request head";
        if (head[i] == '\n') {
            if (i == 0 || head[i - 1] != '\r')
                return "a bare LF in the request head";
            if (i + 1 < head.size() && (head[i + 1] == ' ' || head[i + 1] == '\t'))
                return "a folded header line";
        }
    }
    return nullptr;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

// The path and query of an origin-form ("/x?q") or absolute-form ("http://host/x?q")
// target; nothing for any other form.
std::optional<std::string_view> pathAndQuery(std::string_view target)
{
    if (!target.empty() && target.front() == '/')
        return target;
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (startsWithNoCase(target, scheme)) {
            const std::string_view rest = target.substr(scheme.size());
            const size_t end = rest.find_first_of("/?");
            if (end == 0)
                return std::nullopt;  // no host
            if (end == std::string_view::npos)
                return std::string_view("/");
            return rest.substr(end);
        }
    }
    return std::nullopt;
}

// Bytes outside printable ASCII go to the access log as %XX: written raw, a control byte
// would garble the line or a terminal showing the log, and a line break would forge a line.
QByteArray escapedForLog(std::string_view raw)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(qsizetype(raw.size()));
    for (const char ch : raw) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x21 || b > 0x7e) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// Methods a server is expected to know: the portal serves three of them and answers the
// others 405 with Allow; any other method is 501.
bool isKnownMethod(std::string_view m)
{
    for (std::string_view known : {"PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "PATCH"}) {
        if (m == known)
            return true;
    }
    return false;
}

bool isServedMethod(std::string_view m)
{
    return m == "GET" || m == "HEAD" || m == "POST";
}

QByteArray toBytes(std::string_view s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// Shared by the service and every connection, so a connection that outlives stop()
// still finds the counts it gives back.
struct Shared {
    HttpLimits limits;
    int accessLogFd = -1;
    std::mutex mutex;
    int connections = 0;
    std::unordered_map<std::string, int> perAddress;
    std::vector<int> perWorker;  // connections each worker serves

    // The worker least busy, for the next connection.
    int leastBusyWorker()
    {
        std::lock_guard lock(mutex);
        return int(std::min_element(perWorker.begin(), perWorker.end()) - perWorker.begin());
    }

    bool admit(const std::string &address, int worker)
    {
        std::lock_guard lock(mutex);
        if (connections >= limits.maxConnections)
            return false;
        int &mine = perAddress[address];
        if (limits.maxPerAddress > 0 && mine >= limits.maxPerAddress) {
            if (mine == 0)
                perAddress.erase(address);
            return false;
        }
        ++mine;
        ++connections;
        ++perWorker[size_t(worker)];
        return true;
    }

    void release(const std::string &address, int worker)
    {
        std::lock_guard lock(mutex);
        --connections;
        --perWorker[size_t(worker)];
        const auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second <= 0)
            perAddress.erase(it);
    }

    void log(const QByteArray &localAddress, quint16 localPort, std::string_view method, std::string_view target)
    {
        if (accessLogFd < 0)
            return;
        // One write() per line on an O_APPEND file keeps lines whole across workers.
        const QByteArray line = localAddress + ':' + QByteArray::number(localPort) + ' ' + escapedForLog(method)
                                + ' ' + escapedForLog(target) + '\n';
        [[maybe_unused]] ssize_t n = ::write(accessLogFd, line.constData(), size_t(line.size()));
    }
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Socket &&socket, std::shared_ptr<Shared> shared, int worker, std::string peer,
            QByteArray localAddress, quint16 localPort)
        : m_socket(std::move(socket)),
          m_timer(m_socket.get_executor()),
          m_buffer(size_t(shared->limits.maxHeadBytes + shared->limits.maxBodyBytes + ReadChunk)),
          m_shared(std::move(shared)),
          m_worker(worker),
          m_peer(std::move(peer)),
          m_localAddress(std::move(localAddress)),
          m_localPort(localPort)
    {
    }
    ~Session() { m_shared->release(m_peer, m_worker); }

    void start()
    {
        net::dispatch(m_socket.get_executor(), [self = shared_from_this()] { self->nextRequest(true); });
    }

private:
    static constexpr size_t ReadChunk = 16 * 1024;

    // Reads go into the room the buffer already has, at least 2 KiB: a connection that
    // only ever sends small heads (or trickles one) keeps a small buffer. 2,000 slow-header
    // connections grew the portal by 7 MB this way, by 14 MB with 16 KiB reads.
    size_t readSize() const
    {
        const size_t room = m_buffer.max_size() - m_buffer.size();
        return std::min(room, std::max<size_t>(2048, m_buffer.capacity() - m_buffer.size()));
    }

    const HttpLimits &limits() const { return m_shared->limits; }

    void nextRequest(bool fresh)
    {
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(limits().maxHeadBytes));
        m_parser->body_limit(std::uint64_t(limits().maxBodyBytes));
        m_parser->eager(false);
        m_headParsed = 0;
        m_expectsContinue = false;
        if (fresh || m_buffer.size() > 0) {
            // A new connection, or a pipelined request already here: its clock runs.
            setDeadline(limits().headerTimeout);
            process();
            return;
        }
        // Idle between requests until a byte comes; from then on the request's clock runs.
        setDeadline(limits().idleTimeout);
        m_socket.async_read_some(m_buffer.prepare(readSize()),
                                 [self = shared_from_this()](beast::error_code ec, size_t n) {
                                     if (ec)
                                         return;  // idle time-out, or the client went away
                                     self->m_buffer.commit(n);
                                     self->setDeadline(self->limits().headerTimeout);
                                     self->process();
                                 });
    }

    void readMore()
    {
        if (m_buffer.size() == m_buffer.max_size())
            return refuseParse(http::error::header_limit);
        m_socket.async_read_some(m_buffer.prepare(readSize()),
                                 [self = shared_from_this()](beast::error_code ec, size_t n) {
                                     if (ec)
                                         return;  // request time-out, or the client went away
                                     self->m_buffer.commit(n);
                                     self->process();
                                 });
    }

    // Feeds the parser with what has arrived; reads more, refuses, or answers.
    void process()
    {
        beast::error_code ec;
        if (!m_parser->is_header_done()) {
            // The parser may take the request line before the fields are all here; the
            // bytes it took stay in the buffer until the head is whole, to be checked.
            const auto *data = static_cast<const char *>(m_buffer.data().data());
            m_headParsed += m_parser->put(net::const_buffer(data + m_headParsed, m_buffer.size() - m_headParsed), ec);
            if (ec == http::error::need_more)
                return readMore();
            if (ec)
                return refuseParse(ec);
            if (const char *fault = headShapeFault(std::string_view(data, m_headParsed)))
                return refuse(400, fault);
            m_buffer.consume(m_headParsed);
            m_headParsed = 0;
            if (!headAcceptable())
                return;
            m_parser->eager(true);
        }
        if (!m_parser->is_done() && m_buffer.size() > 0) {
            const size_t used = m_parser->put(m_buffer.data(), ec);
            m_buffer.consume(used);
            if (ec && ec != http::error::need_more)
                return refuseParse(ec);
        }
        if (!m_parser->is_done())
            return awaitBody();
        answer();
    }

    // The checks Beast leaves to its user; false when the request was refused.
    bool headAcceptable()
    {
        const auto &req = m_parser->get();
        int fields = 0, hosts = 0, lengths = 0;
        bool transferEncoding = false;
        for (const auto &f : req) {
            ++fields;
            if (f.name() == http::field::host)
                ++hosts;
            else if (f.name() == http::field::content_length)
                ++lengths;
            else if (f.name() == http::field::transfer_encoding)
                transferEncoding = true;
        }
        int status = 0;
        QByteArray reason;
        if (fields > limits().maxHeaders) {
            status = 431, reason = "too many header fields";
        } else if (req.target().size() > size_t(limits().maxTargetBytes)) {
            status = 414, reason = "request target too long";
        } else if (lengths > 1) {
            // Beast refuses two Content-Length fields that differ; two equal ones are
            // refused too, as a proxy in front may have read the head differently.
            status = 400, reason = "more than one Content-Length field";
        } else if (transferEncoding) {
            status = 501, reason = "chunked request bodies are not accepted";
        } else if (req.version() >= 11 ? hosts != 1 : hosts > 1) {
            status = 400, reason = "an HTTP/1.1 request needs exactly one Host field";
        } else if (isServedMethod(req.method_string()) && !pathAndQuery(req.target())) {
            status = 400, reason = "request target must be a path";
        }
        if (status != 0) {
            refuse(status, reason);
            return false;
        }
        const auto expect = req.find(http::field::expect);
        m_expectsContinue = req.version() >= 11 && expect != req.end()
                            && beast::iequals(expect->value(), "100-continue");
        return true;
    }

    void awaitBody()
    {
        if (!m_expectsContinue)
            return readMore();
        m_expectsContinue = false;
        static constexpr std::string_view goOn = "HTTP/1.1 100 Continue\r\n\r\n";
        net::async_write(m_socket, net::buffer(goOn.data(), goOn.size()),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             if (!ec)
                                 self->readMore();
                         });
    }

    void answer()
    {
        const auto &req = m_parser->get();
        const std::string_view method = req.method_string();
        const std::string_view target = req.target();
        m_shared->log(m_localAddress, m_localPort, method, target);

        HttpReply reply;
        if (isServedMethod(method)) {
            HttpRequest r;
            r.method = toBytes(method);
            r.target = toBytes(target);
            const std::string_view pq = *pathAndQuery(target);
            const size_t q = pq.find('?');
            r.path = toBytes(pq.substr(0, q));
            r.rawQuery = q == std::string_view::npos ? QByteArray() : toBytes(pq.substr(q + 1));
            r.localAddress = m_localAddress;
            r.localPort = m_localPort;
            reply = t_handler->handle(r);
        } else if (isKnownMethod(method)) {
            reply = HttpReply::text(405, "method not allowed\n");
            reply.addHeader("Allow", "GET, HEAD, POST");
        } else {
            reply = HttpReply::text(501, "method not implemented\n");
        }

        const bool keepAlive = req.keep_alive();
        QByteArray out;
        out.reserve(256 + reply.body.size());
        out += "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + statusText(reply.status) + "\r\n";
        out += "Content-Type: " + reply.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        for (const auto &h : reply.headers)
            out += h.first + ": " + h.second + "\r\n";
        if (!keepAlive)
            out += "Connection: close\r\n";
        else if (req.version() < 11)
            out += "Connection: keep-alive\r\n";
        out += "\r\n";
        if (method != "HEAD")
            out += reply.body;
        send(std::move(out), !keepAlive);
    }

    void refuseParse(beast::error_code ec)
    {
        if (ec == http::error::header_limit) {
            const std::string_view data(static_cast<const char *>(m_buffer.data().data()), m_buffer.size());
            const size_t lineEnd = data.find('\n');
            const size_t lineCap = size_t(limits().maxTargetBytes) + 32;  // method, spaces, version
            if ((lineEnd == std::string_view::npos ? data.size() : lineEnd) > lineCap)
                return refuse(414, "request line too long");
            return refuse(431, "request head too large");
        }
        if (ec == http::error::body_limit)
            return refuse(413, "request body too large");
        if (ec == http::error::bad_method || ec == http::error::bad_target || ec == http::error::bad_version)
            return refuse(400, "malformed request line");
        if (ec == http::error::bad_content_length)
            return refuse(400, "malformed Content-Length");
        if (ec == http::error::bad_transfer_encoding)
            return refuse(400, "malformed Transfer-Encoding");
        return refuse(400, "malformed header field");
    }

    // A refused request's reply closes the connection: what follows it cannot be trusted
    // to start where the refused request ended.
    void refuse(int status, const QByteArray &reason)
    {
        const QByteArray body = reason + '\n';
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status)
                         + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        send(std::move(out), true);
    }

    void send(QByteArray out, bool close)
    {
        m_out = std::move(out);
        setDeadline(limits().writeTimeout);
        net::async_write(m_socket, net::buffer(m_out.constData(), size_t(m_out.size())),
                         [self = shared_from_this(), close](beast::error_code ec, size_t) {
                             self->m_out.clear();
                             if (ec)
                                 return;  // not taken in time, or the client went away
                             if (close)
                                 return self->linger();
                             self->nextRequest(false);
                         });
    }

    // Closing a socket with unread bytes in it sends a reset, and a reset can destroy the
    // reply before the client has read it (a refused oversized body is the usual case).
    // So the sending side is shut first and what still comes is read and dropped.
    void linger()
    {
        beast::error_code ignored;
        m_socket.shutdown(Socket::shutdown_send, ignored);
        setDeadline(limits().lingerTime);
        drain();
    }

    void drain()
    {
        m_buffer.clear();
        m_socket.async_read_some(m_buffer.prepare(readSize()), [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec)
                self->drain();
        });
    }

    // One deadline for whatever the connection waits for now. The timer is moved only when
    // the deadline comes earlier than it is set for; when it fires early it waits again, so
    // a busy kept-alive connection does not touch it per request.
    void setDeadline(Clock::duration timeout)
    {
        m_deadline = Clock::now() + timeout;
        if (m_timerWaiting && m_timer.expiry() <= m_deadline)
            return;
        armTimer();
    }

    void armTimer()
    {
        m_timerWaiting = true;
        m_timer.expires_at(m_deadline);  // a wait it cancels ends with operation_aborted
        m_timer.async_wait([weak = weak_from_this()](beast::error_code ec) {
            const std::shared_ptr<Session> self = weak.lock();
            if (ec || !self)
                return;
            self->m_timerWaiting = false;
            if (Clock::now() < self->m_deadline)
                return self->armTimer();
            // Ends the read or write the connection is waiting in.
            beast::error_code ignored;
            self->m_socket.close(ignored);
        });
    }

    Socket m_socket;
    Timer m_timer;
    Clock::time_point m_deadline;
    bool m_timerWaiting = false;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::shared_ptr<Shared> m_shared;
    int m_worker;
    std::string m_peer;
    QByteArray m_localAddress;
    quint16 m_localPort = 0;
    size_t m_headParsed = 0;  // bytes of the head the parser has taken
    bool m_expectsContinue = false;
    QByteArray m_out;  // the reply being written
};

} // namespace

// Each worker runs an event loop of its own, so a connection's reads, writes, timers and
// handler calls all happen on one thread: no locking between them, and no hand-over between
// threads for each request (with one loop shared by all workers, a third fewer requests a
// second). One more thread only accepts connections and hands each to the least busy worker.
struct HttpService::Impl {
    struct Worker {
        net::io_context io{1};
        std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
        std::thread thread;
    };

    HandlerFactory factory;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::atomic<bool> stopping{false};
    // Declared before the accepting loop: an accept still pending when that loop goes
    // holds a socket of a worker's loop.
    std::vector<std::unique_ptr<Worker>> workers;
    net::io_context acceptIo{1};
    std::vector<std::unique_ptr<Acceptor>> acceptors;
    std::vector<std::unique_ptr<net::steady_timer>> acceptPauses;
    std::thread acceptThread;

    void accept(size_t i)
    {
        const int worker = shared->leastBusyWorker();
        acceptors[i]->async_accept(workers[size_t(worker)]->io, [this, i, worker](beast::error_code ec,
                                                                                 Socket socket) {
            if (ec == net::error::operation_aborted || stopping.load())
                return;
            if (ec) {
                // Out of descriptors the listener stays readable: pause instead of spinning.
                acceptPauses[i]->expires_after(std::chrono::milliseconds(50));
                acceptPauses[i]->async_wait([this, i](beast::error_code waited) {
                    if (!waited)
                        accept(i);
                });
                return;
            }
            admit(std::move(socket), worker);
            accept(i);
        });
    }

    void admit(Socket socket, int worker)
    {
        beast::error_code ec;
        const tcp::endpoint remote = socket.remote_endpoint(ec);
        if (ec)
            return;
        const tcp::endpoint local = socket.local_endpoint(ec);
        if (ec)
            return;
        std::string peer = remote.address().to_string();
        if (!shared->admit(peer, worker))
            return;  // over a limit: closed unread
        socket.set_option(tcp::no_delay(true), ec);
        const std::string localAddress = local.address().to_string();
        std::make_shared<Session>(std::move(socket), shared, worker, std::move(peer),
                                  QByteArray(localAddress.data(), qsizetype(localAddress.size())), local.port())
            ->start();
    }

    // Runs a loop until it is stopped; a handler that throws ends its own connection only.
    static void run(net::io_context &io)
    {
        while (!io.stopped()) {
            try {
                io.run();
            } catch (const std::exception &e) {
                std::fprintf(stderr, "tadpole-portal: request failed: %s\n", e.what());
            }
        }
    }
};

HttpService::HttpService(HandlerFactory factory, int threads, HttpLimits limits) : d(std::make_unique<Impl>())
{
    d->factory = std::move(factory);
    d->shared->limits = limits;
    for (int i = 0; i < std::max(1, threads); ++i)
        d->workers.push_back(std::make_unique<Impl::Worker>());
    d->shared->perWorker.assign(d->workers.size(), 0);
}

HttpService::~HttpService()
{
    stop();
}

int HttpService::listen(const QByteArray &address, int port, QString *error)
{
    beast::error_code ec;
    const net::ip::address ip = net::ip::make_address(address.toStdString(), ec);
    if (ec) {
        *error = QStringLiteral("not a numeric address: %1").arg(QString::fromUtf8(address));
        return -1;
    }
    auto acceptor = std::make_unique<Acceptor>(d->acceptIo);
    const tcp::endpoint endpoint(ip, quint16(port));
    acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        acceptor->set_option(Acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(QString::fromUtf8(address))
                     .arg(port)
                     .arg(QString::fromStdString(ec.message()));
        return -1;
    }
    const int bound = acceptor->local_endpoint(ec).port();
    d->acceptors.push_back(std::move(acceptor));
    d->acceptPauses.push_back(std::make_unique<net::steady_timer>(d->acceptIo));
    return bound;
}

void HttpService::setAccessLog(int fd)
{
    d->shared->accessLogFd = fd;
}

bool HttpService::start(QString *error)
{
    if (d->acceptors.empty()) {
        *error = QStringLiteral("no address to listen on");
        return false;
    }
    // Stay below the descriptor limit, so that accept() keeps working for the connections
    // the limits let in.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
            getrlimit(RLIMIT_NOFILE, &files);
        }
        const rlim_t room = files.rlim_cur > 128 ? files.rlim_cur - 128 : 16;
        if (rlim_t(d->shared->limits.maxConnections) > room)
            d->shared->limits.maxConnections = int(room);
    }
    for (auto &w : d->workers) {
        w->work.emplace(w->io.get_executor());
        w->thread = std::thread([this, w = w.get()] {
            const std::unique_ptr<RequestHandler> handler = d->factory();
            t_handler = handler.get();
            Impl::run(w->io);
            t_handler = nullptr;
        });
    }
    for (size_t i = 0; i < d->acceptors.size(); ++i)
        d->accept(i);
    d->acceptThread = std::thread([this] { Impl::run(d->acceptIo); });
    return true;
}

void HttpService::stop()
{
    if (d->stopping.exchange(true))
        return;
    d->acceptIo.stop();
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    for (auto &w : d->workers) {
        w->work.reset();
        w->io.stop();
    }
    for (auto &w : d->workers) {
        if (w->thread.joinable())
            w->thread.join();
    }
}
