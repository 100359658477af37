#include "ChangeFeed.h"

#include "DatabaseErrors.h"
#include "PortalStore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

// Qt's PostgreSQL driver can subscribe to notifications too, but it neither tells when the
// connection under them is lost nor lets a thread wait on it with a time-out and a stop
// signal; libpq does both.
struct ChangeFeed::Listener {
    enum class Wait { Ready, TimedOut, Stop };

    ChangeFeed *feed = nullptr;
    DbConfig config;
    int stopFd = -1;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable listening;
    std::thread thread;

    void run();
    PGconn *connect();
    bool listen(PGconn *conn);
    void hear(PGconn *conn);
    Wait waitFor(int fd, short events, int timeoutMs) const;
    void setListening(bool on);
};

namespace {
constexpr int ConnectTimeoutMs = PostgresConnectSeconds * 1000;
constexpr int FirstRetryMs = 200;
constexpr int LastRetryMs = 5000;

QString libpqError(PGconn *conn)
{
    return QString::fromUtf8(PQerrorMessage(conn)).simplified();
}

void report(const QString &what)
{
    reportDatabaseError(QStringLiteral("hearing other instances' changes: ") + what);
}
} // namespace

ChangeFeed::ChangeFeed() = default;

ChangeFeed::ChangeFeed(const DbConfig &postgres) : m_listening(false), m_listener(std::make_unique<Listener>())
{
    m_listener->feed = this;
    m_listener->config = postgres;
    m_listener->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_listener->thread = std::thread([l = m_listener.get()] { l->run(); });
}

ChangeFeed::~ChangeFeed()
{
    if (!m_listener)
        return;
    m_listener->stopping = true;
    const quint64 one = 1;
    if (m_listener->stopFd >= 0 && ::write(m_listener->stopFd, &one, sizeof one) < 0) {
        // Nothing to do: the listener's waits time out within a second and see `stopping`.
    }
    m_listener->thread.join();
    if (m_listener->stopFd >= 0)
        ::close(m_listener->stopFd);
}

std::optional<quint64> ChangeFeed::generation() const
{
    if (!m_listening.load(std::memory_order_acquire))
        return std::nullopt;
    return m_generation.load(std::memory_order_acquire);
}

void ChangeFeed::changed()
{
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

bool ChangeFeed::waitUntilListening(int ms)
{
    if (!m_listener)
        return true;
    std::unique_lock lock(m_listener->mutex);
    return m_listener->listening.wait_for(lock, std::chrono::milliseconds(ms),
                                          [this] { return m_listening.load(); });
}

void ChangeFeed::Listener::setListening(bool on)
{
    {
        std::lock_guard lock(mutex);
        // Either way the replies kept so far may be stale: changes made while nobody
        // listened were never heard.
        feed->m_generation.fetch_add(1, std::memory_order_acq_rel);
        feed->m_listening.store(on, std::memory_order_release);
    }
    listening.notify_all();
}

ChangeFeed::Listener::Wait ChangeFeed::Listener::waitFor(int fd, short events, int timeoutMs) const
{
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    const int rc = ::poll(fds, fd >= 0 ? 2 : 1, std::max(0, timeoutMs));
    if (stopping || (rc > 0 && fds[0].revents != 0))
        return Wait::Stop;
    if (rc > 0 && fd >= 0 && fds[1].revents != 0)
        return Wait::Ready;
    return Wait::TimedOut;
}

void ChangeFeed::Listener::run()
{
    int retryMs = FirstRetryMs;
    while (!stopping) {
        PGconn *conn = connect();
        if (conn && listen(conn)) {
            retryMs = FirstRetryMs;
            setListening(true);
            hear(conn);
            setListening(false);
            if (!stopping)
                report(QStringLiteral("the connection was lost (%1); replies are built afresh until it is back")
                           .arg(libpqError(conn)));
        }
        if (conn)
            PQfinish(conn);
        if (!stopping)
            waitFor(-1, 0, retryMs);
        retryMs = std::min(retryMs * 2, LastRetryMs);
    }
}

PGconn *ChangeFeed::Listener::connect()
{
    std::vector<QByteArray> keys, values;
    auto add = [&](const char *key, const QString &value) {
        if (!value.isEmpty()) {
            keys.emplace_back(key);
            values.push_back(value.toUtf8());
        }
    };
    add("host", config.host);
    add("port", config.port > 0 ? QString::number(config.port) : QString());
    add("user", config.user);
    add("password", config.password);
    add("dbname", config.database);
    add("application_name", QString::fromLatin1(ApplicationName));
    // A server that vanishes without closing the connection is noticed within seconds.
    add("keepalives", QStringLiteral("1"));
    add("keepalives_idle", QStringLiteral("5"));
    add("keepalives_interval", QStringLiteral("2"));
    add("keepalives_count", QStringLiteral("3"));
    add("tcp_user_timeout", QStringLiteral("10000"));
    std::vector<const char *> k, v;
    for (size_t i = 0; i < keys.size(); ++i) {
        k.push_back(keys[i].constData());
        v.push_back(values[i].constData());
    }
    k.push_back(nullptr);
    v.push_back(nullptr);

    PGconn *conn = PQconnectStartParams(k.data(), v.data(), 0);
    if (!conn) {
        report(QStringLiteral("libpq could not start a connection"));
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ConnectTimeoutMs);
    PostgresPollingStatusType status = PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED) {
            report(libpqError(conn));
            PQfinish(conn);
            return nullptr;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const Wait w = left.count() > 0
            ? waitFor(PQsocket(conn), status == PGRES_POLLING_READING ? POLLIN : POLLOUT, int(left.count()))
            : Wait::TimedOut;
        if (w != Wait::Ready) {
            if (w == Wait::TimedOut)
                report(QStringLiteral("no connection within %1 s").arg(ConnectTimeoutMs / 1000));
            PQfinish(conn);
            return nullptr;
        }
        status = PQconnectPoll(conn);
    }
    return conn;
}

bool ChangeFeed::Listener::listen(PGconn *conn)
{
    const QByteArray sql = QByteArray("LISTEN ") + ChangeChannel;
    if (!PQsendQuery(conn, sql.constData())) {
        report(libpqError(conn));
        return false;
    }
    bool ok = true;
    for (;;) {
        while (PQisBusy(conn)) {
            if (waitFor(PQsocket(conn), POLLIN, ConnectTimeoutMs) != Wait::Ready || !PQconsumeInput(conn)) {
                if (!stopping)
                    report(QStringLiteral("LISTEN was not answered: %1").arg(libpqError(conn)));
                return false;
            }
        }
        PGresult *result = PQgetResult(conn);
        if (!result)
            break;
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            report(QString::fromUtf8(PQresultErrorMessage(result)).simplified());
            ok = false;
        }
        PQclear(result);
    }
    return ok;
}

void ChangeFeed::Listener::hear(PGconn *conn)
{
    while (!stopping) {
        const Wait w = waitFor(PQsocket(conn), POLLIN, 1000);
        if (w == Wait::Stop)
            return;
        if (w == Wait::Ready && !PQconsumeInput(conn))
            return;
        bool heard = false;
        while (PGnotify *notification = PQnotifies(conn)) {
            heard = true;
            PQfreemem(notification);
        }
        if (heard)
            feed->changed();
        if (PQstatus(conn) != CONNECTION_OK)
            return;
    }
}
