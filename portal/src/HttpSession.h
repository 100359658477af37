#pragma once

// The connections of HttpService: what they share with it, and each connection's reads,
// writes and time-outs. Included only by the service's own sources (it brings Boost.Asio).
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include "HttpService.h"
#include "RequestHead.h"

#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace httpservice {

namespace net = boost::asio;
using tcp = net::ip::tcp;
// Each connection stays on its worker's loop, so the plain executor of that loop will do.
using Executor = net::io_context::executor_type;
using Socket = net::basic_stream_socket<tcp, Executor>;
using Acceptor = net::basic_socket_acceptor<tcp, Executor>;
using Clock = std::chrono::steady_clock;
using Timer = net::basic_waitable_timer<Clock, net::wait_traits<Clock>, Executor>;

// The handler of the worker thread running the current completion.
extern thread_local RequestHandler *t_handler;

class Session;

// Shared by the service and every connection, so a connection that outlives stop()
// still finds the counts it gives back.
struct Shared {
    HttpLimits limits;
    int accessLogFd = -1;
    std::mutex mutex;
    std::atomic<int> connections{0};  // changed under the mutex, read without it
    std::unordered_map<std::string, int> perAddress;
    std::vector<int> perWorker;  // connections each worker serves
    // Per worker, its connections that wait and may be closed to make room: kept-alive ones
    // waiting for their next request, ones whose request has not all come, and answered
    // ones waiting to close; the longest waiting first. A lock of its own, so that requests
    // on one worker do not wait for the other workers' (only making room takes them all).
    struct Idle {
        std::weak_ptr<Session> session;
        Clock::time_point since;
    };
    struct IdleList {
        std::mutex mutex;
        std::list<Idle> list;
    };
    std::vector<std::unique_ptr<IdleList>> idle;
    // Until then descriptors were short: idle connections are given the busy time-out.
    std::atomic<Clock::rep> descriptorsShortUntil{0};

    // The worker least busy, for the next connection.
    int leastBusyWorker();
    // False when a limit is reached: the connection is not to be served. At the connection
    // limit the connection waiting longest is closed to make room.
    bool admit(const std::string &address, int worker);
    void release(Session &session);
    // Closes the connection waiting longest; false when none waits.
    bool closeLongestIdle();
    bool closeLongestIdleLocked();
    // Gives the connections idle now the busy time-out.
    void shortenIdle();
    void releaseCountsLocked(Session &session);
    // How long a kept-alive connection may wait now: shorter while the house is nearly full.
    Clock::duration idleTimeout();
    void log(const QByteArray &localAddress, quint16 localPort, std::string_view method, std::string_view target);
};

// One client connection: reads requests, hands each whole one to the worker's handler,
// writes the replies, and closes the connection past a time-out or after a refusal.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Socket &&socket, std::shared_ptr<Shared> shared, int worker, std::string peer,
            QByteArray localAddress, quint16 localPort);
    ~Session();

    void start();

private:
    friend struct Shared;
    size_t readSize() const;
    const HttpLimits &limits() const { return m_shared->limits; }
    std::string_view received() const;

    void nextRequest(bool fresh);
    void readMore();
    void process();
    void awaitBody();
    void answer();
    void refuse(const Refusal &refusal);
    void send(QByteArray head, QByteArray body, bool close);
    bool setIdle(bool idle);
    bool isIdle() const;
    bool closeLocked();
    void linger();
    void drain();
    void setDeadline(Clock::duration timeout);
    void armTimer();

    Socket m_socket;
    Timer m_timer;
    Clock::time_point m_deadline;
    bool m_timerWaiting = false;
    boost::beast::flat_buffer m_buffer;
    std::shared_ptr<Shared> m_shared;
    RequestReader m_reader;
    int m_worker;
    std::string m_peer;
    QByteArray m_localAddress;
    quint16 m_localPort = 0;
    // The reply being written: its head, and its body as the handler gave it. A cached
    // body is shared, not copied, by every connection sending it.
    QByteArray m_head;
    QByteArray m_body;
    // Where the connection is in its worker's Shared::idle list, and whether it was closed
    // to make room (both guarded by that list's lock); whether its counts are still to be
    // given back (guarded by Shared::mutex).
    std::optional<std::list<Shared::Idle>::iterator> m_idleAt;
    bool m_evicted = false;
    bool m_counted = true;
};

} // namespace httpservice
