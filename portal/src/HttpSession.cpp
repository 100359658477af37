#include "HttpSession.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace httpservice {

namespace beast = boost::beast;

thread_local RequestHandler *t_handler = nullptr;

namespace {

constexpr size_t ReadChunk = 16 * 1024;

QByteArray statusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

int Shared::leastBusyWorker()
{
    std::lock_guard lock(mutex);
    return int(std::min_element(perWorker.begin(), perWorker.end()) - perWorker.begin());
}

bool Shared::admit(const std::string &address, int worker)
{
    bool busyFromNow = false;
    {
        std::lock_guard lock(mutex);
        int &mine = perAddress[address];
        if ((limits.maxPerAddress > 0 && mine >= limits.maxPerAddress)
            || (connections >= limits.maxConnections && !closeLongestIdleLocked())) {
            if (mine == 0)
                perAddress.erase(address);
            return false;
        }
        ++mine;
        const int now = ++connections;
        ++perWorker[size_t(worker)];
        busyFromNow = (now - 1) * 4 < limits.maxConnections * 3 && now * 4 >= limits.maxConnections * 3;
    }
    if (busyFromNow)
        shortenIdle();
    return true;
}

void Shared::shortenIdle()
{
    std::vector<std::shared_ptr<Session>> waiting;
    for (const std::unique_ptr<IdleList> &worker : idle) {
        std::lock_guard lock(worker->mutex);
        for (const Idle &entry : worker->list) {
            if (std::shared_ptr<Session> s = entry.session.lock())
                waiting.push_back(std::move(s));
        }
    }
    for (std::shared_ptr<Session> &s : waiting) {
        const Executor executor = s->m_socket.get_executor();
        net::post(executor, [s = std::move(s)] {
            // Only ever sooner: one answered and waiting to close has less time than this.
            const Clock::time_point sooner = Clock::now() + s->limits().busyIdleTimeout;
            if (s->m_socket.is_open() && s->isIdle() && sooner < s->m_deadline)
                s->setDeadline(s->limits().busyIdleTimeout);
        });
    }
}

void Shared::releaseCountsLocked(Session &session)
{
    if (!std::exchange(session.m_counted, false))
        return;
    --connections;
    --perWorker[size_t(session.m_worker)];
    const auto it = perAddress.find(session.m_peer);
    if (it != perAddress.end() && --it->second <= 0)
        perAddress.erase(it);
}

void Shared::release(Session &session)
{
    {
        IdleList &mine = *idle[size_t(session.m_worker)];
        std::lock_guard lock(mine.mutex);
        if (session.m_idleAt)
            mine.list.erase(*session.m_idleAt);
        session.m_idleAt.reset();
    }
    std::lock_guard lock(mutex);
    releaseCountsLocked(session);
}

// The connection's counts are given back at once, so the newcomer is let in now; its
// socket is closed on its own worker's loop, which ends the read it waits in.
bool Shared::closeLongestIdleLocked()
{
    std::vector<std::unique_lock<std::mutex>> locks;
    for (const std::unique_ptr<IdleList> &worker : idle)
        locks.emplace_back(worker->mutex);
    // An entry that no longer locks belongs to a connection ending now: it takes itself out.
    std::shared_ptr<Session> victim;
    std::list<Idle> *from = nullptr;
    std::list<Idle>::iterator at;
    for (const std::unique_ptr<IdleList> &worker : idle) {
        for (auto it = worker->list.begin(); it != worker->list.end(); ++it) {
            if (victim && it->since >= at->since)
                break;
            if (std::shared_ptr<Session> s = it->session.lock()) {
                victim = std::move(s);
                from = &worker->list;
                at = it;
                break;
            }
        }
    }
    if (!victim)
        return false;
    from->erase(at);
    victim->m_idleAt.reset();
    victim->m_evicted = true;
    locks.clear();
    releaseCountsLocked(*victim);
    const Executor executor = victim->m_socket.get_executor();
    // Moved, so that the connection is never destroyed here, under the lock.
    net::post(executor, [victim = std::move(victim)] {
        beast::error_code ignored;
        victim->m_socket.close(ignored);
    });
    return true;
}

bool Shared::closeLongestIdle()
{
    std::lock_guard lock(mutex);
    return closeLongestIdleLocked();
}

Clock::duration Shared::idleTimeout()
{
    if (Clock::now().time_since_epoch().count() < descriptorsShortUntil.load(std::memory_order_relaxed))
        return std::min<Clock::duration>(limits.idleTimeout, limits.busyIdleTimeout);
    // Three quarters full is busy.
    if (connections.load(std::memory_order_relaxed) * 4 >= limits.maxConnections * 3)
        return std::min<Clock::duration>(limits.idleTimeout, limits.busyIdleTimeout);
    return limits.idleTimeout;
}

void Shared::log(const QByteArray &localAddress, quint16 localPort, std::string_view method, std::string_view target)
{
    if (accessLogFd < 0)
        return;
    // One write() per line on an O_APPEND file keeps lines whole across workers.
    const QByteArray line = localAddress + ':' + QByteArray::number(localPort) + ' ' + escapedForLog(method) + ' '
                            + escapedForLog(target) + '\n';
    [[maybe_unused]] ssize_t n = ::write(accessLogFd, line.constData(), size_t(line.size()));
}

Session::Session(Socket &&socket, std::shared_ptr<Shared> shared, int worker, std::string peer,
                 QByteArray localAddress, quint16 localPort)
    : m_socket(std::move(socket)),
      m_timer(m_socket.get_executor()),
      m_buffer(size_t(shared->limits.maxHeadBytes + shared->limits.maxBodyBytes + ReadChunk)),
      m_shared(std::move(shared)),
      m_reader(m_shared->limits),
      m_worker(worker),
      m_peer(std::move(peer)),
      m_localAddress(std::move(localAddress)),
      m_localPort(localPort)
{
}

Session::~Session()
{
    m_shared->release(*this);
}

bool Session::isIdle() const
{
    std::lock_guard lock(m_shared->idle[size_t(m_worker)]->mutex);
    return m_idleAt.has_value();
}

// A connection closed to make room is not put back: it is on its way out, and false says
// so, also to one whose request came whole just as it was chosen.
bool Session::setIdle(bool idle)
{
    Shared::IdleList &mine = *m_shared->idle[size_t(m_worker)];
    std::lock_guard lock(mine.mutex);
    if (idle && !m_idleAt && !m_evicted)
        m_idleAt = mine.list.insert(mine.list.end(), Shared::Idle{weak_from_this(), Clock::now()});
    else if (!idle && m_idleAt) {
        mine.list.erase(*m_idleAt);
        m_idleAt.reset();
    }
    return !m_evicted;
}

void Session::start()
{
    net::dispatch(m_socket.get_executor(), [self = shared_from_this()] { self->nextRequest(true); });
}

// Reads go into the room the buffer already has, at least 2 KiB: a connection that only
// ever sends small heads (or trickles one) keeps a small buffer. 2,000 slow-header
// connections grew the portal by 7 MB this way, by 14 MB with 16 KiB reads.
size_t Session::readSize() const
{
    const size_t room = m_buffer.max_size() - m_buffer.size();
    return std::min(room, std::max<size_t>(2048, m_buffer.capacity() - m_buffer.size()));
}

std::string_view Session::received() const
{
    return std::string_view(static_cast<const char *>(m_buffer.data().data()), m_buffer.size());
}

void Session::nextRequest(bool fresh)
{
    m_reader.next();
    if (fresh || m_buffer.size() > 0) {
        // A new connection, or a pipelined request already here: its clock runs.
        setDeadline(limits().headerTimeout);
        process();
        return;
    }
    // Idle between requests until a byte comes; from then on the request's clock runs.
    // Meanwhile, and until that request is whole, the connection may be closed to make
    // room for a new one.
    setDeadline(m_shared->idleTimeout());
    setIdle(true);
    m_socket.async_read_some(m_buffer.prepare(readSize()), [self = shared_from_this()](beast::error_code ec, size_t n) {
        if (!self->setIdle(false) || ec)
            return;  // idle time-out, closed to make room, or the client went away
        self->m_buffer.commit(n);
        self->setDeadline(self->limits().headerTimeout);
        self->process();
    });
}

void Session::readMore()
{
    if (m_buffer.size() == m_buffer.max_size()) {
        m_reader.refuseOverflow(received());
        return refuse(m_reader.refusal());
    }
    m_socket.async_read_some(m_buffer.prepare(readSize()), [self = shared_from_this()](beast::error_code ec, size_t n) {
        if (ec)
            return;  // request time-out, or the client went away
        self->m_buffer.commit(n);
        self->process();
    });
}

// Reads on in what has arrived; reads more, refuses, or answers.
void Session::process()
{
    size_t used = 0;
    const RequestReader::Progress progress = m_reader.read(received(), &used);
    m_buffer.consume(used);
    // Still waiting for its request, it holds a place that a full house may need more: a
    // crowd of heads or bodies sent slowly or never must not keep a newcomer out.
    if (!setIdle(progress == RequestReader::Progress::NeedMore))
        return;
    switch (progress) {
    case RequestReader::Progress::Refused:
        return refuse(m_reader.refusal());
    case RequestReader::Progress::NeedMore:
        return m_reader.headDone() ? awaitBody() : readMore();
    case RequestReader::Progress::Done:
        return answer();
    }
}

void Session::awaitBody()
{
    if (!m_reader.takeExpectsContinue())
        return readMore();
    static constexpr std::string_view goOn = "HTTP/1.1 100 Continue\r\n\r\n";
    net::async_write(m_socket, net::buffer(goOn.data(), goOn.size()), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (!ec)
            self->readMore();
    });
}

void Session::answer()
{
    const std::string_view method = m_reader.method();
    const std::string_view target = m_reader.target();
    m_shared->log(m_localAddress, m_localPort, method, target);

    HttpReply reply;
    if (std::optional<HttpReply> unserved = unservedMethodReply(method)) {
        reply = std::move(*unserved);
    } else {
        HttpRequest r = handlerRequest(method, target);
        r.localAddress = m_localAddress;
        r.peerAddress = QByteArray(m_peer.data(), qsizetype(m_peer.size()));
        r.localPort = m_localPort;
        const auto bytes = [](std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); };
        r.host = bytes(m_reader.field("Host"));
        r.referer = bytes(m_reader.field("Referer"));
        reply = t_handler->handle(r);
    }

    const bool keepAlive = m_reader.keepAlive();
    QByteArray out;
    out.reserve(256);
    out += "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + statusText(reply.status) + "\r\n";
    out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    for (const auto &h : reply.headers)
        out += h.first + ": " + h.second + "\r\n";
    if (!keepAlive)
        out += "Connection: close\r\n";
    else if (m_reader.version() < 11)
        out += "Connection: keep-alive\r\n";
    out += "\r\n";
    send(std::move(out), method != "HEAD" ? std::move(reply.body) : QByteArray(), !keepAlive);
}

// A refused request's reply closes the connection: what follows it cannot be trusted to
// start where the refused request ended.
void Session::refuse(const Refusal &refusal)
{
    const QByteArray body = refusal.reason + '\n';
    QByteArray out = "HTTP/1.1 " + QByteArray::number(refusal.status) + ' ' + statusText(refusal.status)
                     + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size())
                     + "\r\nConnection: close\r\n\r\n" + body;
    send(std::move(out), QByteArray(), true);
}

void Session::send(QByteArray head, QByteArray body, bool close)
{
    m_head = std::move(head);
    m_body = std::move(body);
    setDeadline(limits().writeTimeout);
    const std::array<net::const_buffer, 2> out = {net::buffer(m_head.constData(), size_t(m_head.size())),
                                                  net::buffer(m_body.constData(), size_t(m_body.size()))};
    net::async_write(m_socket, out,
                     [self = shared_from_this(), close](beast::error_code ec, size_t) {
                         self->m_head.clear();
                         self->m_body.clear();
                         if (ec)
                             return;  // not taken in time, or the client went away
                         if (close)
                             return self->linger();
                         self->nextRequest(false);
                     });
}

// Closing a socket with unread bytes in it sends a reset, and a reset can destroy the reply
// before the client has read it (a refused oversized body is the usual case). So the
// sending side is shut first and what still comes is read and dropped.
void Session::linger()
{
    beast::error_code ignored;
    m_socket.shutdown(Socket::shutdown_send, ignored);
    setDeadline(limits().lingerTime);
    setIdle(true); // answered already: it may be closed when room is needed
    drain();
}

void Session::drain()
{
    m_buffer.clear();
    m_socket.async_read_some(m_buffer.prepare(readSize()), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (!ec)
            self->drain();
    });
}

// One deadline for whatever the connection waits for now. The timer is moved only when the
// deadline comes earlier than it is set for; when it fires early it waits again, so a busy
// kept-alive connection does not touch it per request.
void Session::setDeadline(Clock::duration timeout)
{
    m_deadline = Clock::now() + timeout;
    if (m_timerWaiting && m_timer.expiry() <= m_deadline)
        return;
    armTimer();
}

void Session::armTimer()
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

} // namespace httpservice
