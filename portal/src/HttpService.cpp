#include "HttpSession.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace httpservice;
namespace beast = boost::beast;

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

    // A descriptor held back for when the others run out (see accept()).
    int reserve = -1;

    void holdReserve()
    {
        if (reserve < 0)
            reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    ~Impl()
    {
        if (reserve >= 0)
            ::close(reserve);
    }

    void accept(size_t i)
    {
        const int worker = shared->leastBusyWorker();
        acceptors[i]->async_accept(workers[size_t(worker)]->io, [this, i, worker](beast::error_code ec,
                                                                                 Socket socket) {
            if (ec == net::error::operation_aborted || stopping.load())
                return;
            if (ec) {
                // Out of descriptors the listener stays readable, and the newcomer waits in
                // it. The connection idle longest is closed to make room, idle connections
                // get the busy time-out for a while, and the reserve is given up so that the
                // newcomer is taken at once; without either, a pause instead of spinning.
                const Clock::rep now = Clock::now().time_since_epoch().count();
                if (shared->descriptorsShortUntil.exchange((Clock::now() + shared->limits.idleTimeout).time_since_epoch().count()) < now)
                    shared->shortenIdle();
                const bool closed = shared->closeLongestIdle();
                const bool hadReserve = reserve >= 0;
                if (hadReserve) {
                    ::close(reserve);
                    reserve = -1;
                }
                acceptPauses[i]->expires_after(std::chrono::milliseconds(hadReserve ? 0 : closed ? 5 : 50));
                acceptPauses[i]->async_wait([this, i](beast::error_code waited) {
                    if (!waited)
                        accept(i);
                });
                return;
            }
            admit(std::move(socket), worker);
            holdReserve();
            accept(i);
        });
    }

    // An IPv4 peer of a socket bound to "::" arrives as "::ffff:a.b.c.d"; it is named as
    // itself, so that its bounds and the demo sites' addresses read as they do on IPv4.
    static std::string plainAddress(const net::ip::address &address)
    {
        if (address.is_v6() && address.to_v6().is_v4_mapped())
            return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
        return address.to_string();
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
        std::string peer = plainAddress(remote.address());
        if (!shared->admit(peer, worker))
            return;  // over a limit: closed unread
        socket.set_option(tcp::no_delay(true), ec);
        const std::string localAddress = plainAddress(local.address());
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
    for (size_t i = 0; i < d->workers.size(); ++i)
        d->shared->idle.push_back(std::make_unique<Shared::IdleList>());
}

HttpService::~HttpService()
{
    stop();
}

int HttpService::bind(const QByteArray &address, int port, QString *error)
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
    for (const auto &acceptor : d->acceptors) {
        beast::error_code ec;
        acceptor->listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            beast::error_code unknown;
            const tcp::endpoint at = acceptor->local_endpoint(unknown);
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(QString::fromStdString(at.address().to_string()))
                         .arg(at.port())
                         .arg(QString::fromStdString(ec.message()));
            return false;
        }
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
    d->holdReserve();
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
