#pragma once

// Runs the real tadpole-portal program and talks raw HTTP to it over the loopback.
#include "../support/PortalProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <poll.h>
#include <unistd.h>

struct HttpResult {
    int status = 0;  // 0: no whole reply
    QByteArray head, body;
    QByteArray header(const QByteArray &name) const
    {
        const QRegularExpression field("\r\n" + QLatin1String(name) + ":[ \t]*([^\r]*)", QRegularExpression::CaseInsensitiveOption);
        return field.match(QString::fromLatin1(head)).captured(1).toLatin1();
    }
};

inline HttpResult parseHttp(const QByteArray &raw)
{
    HttpResult r;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    r.head = raw.left(end);
    r.body = raw.mid(end + 4);
    const QByteArray length = r.header("Content-Length");
    if (end > 0 && (length.isEmpty() || r.body.size() >= length.toInt()))
        r.status = r.head.mid(9, 3).toInt();
    return r;
}

// A non-blocking loopback client speaking raw bytes: to a chosen address, from a chosen one, optionally with a small receive
// buffer (a client meant not to read fills the portal's side sooner).
class RawClient {
public:
    explicit RawClient(quint16 port, const char *to = "127.0.0.1", const char *from = nullptr, int receiveBuffer = 0)
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        if (receiveBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{AF_INET, 0, {}, {}};
        const bool bound = !from || (inet_pton(AF_INET, from, &a.sin_addr) == 1 && ::bind(m_fd, (sockaddr *)&a, sizeof a) == 0);
        a.sin_port = htons(port);
        inet_pton(AF_INET, to, &a.sin_addr);
        pollfd p{m_fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (!bound || (::connect(m_fd, (sockaddr *)&a, sizeof a) != 0 && errno != EINPROGRESS) || poll(&p, 1, 2000) != 1
            || getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    static bool wholeReply(const QByteArray &received) { return parseHttp(received).status != 0; }
    bool connected() const { return m_fd >= 0; }
    // Sends what the socket takes now; -1 once the connection is gone.
    qint64 send(const QByteArray &bytes)
    {
        const ssize_t n = m_fd < 0 ? -1 : ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        m_reset = m_reset || (n < 0 && (errno == ECONNRESET || errno == EPIPE));
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : n;
    }
    // Reads until `enough` holds for what came, the portal closes, or `ms` pass.
    QByteArray read(int ms, const std::function<bool(const QByteArray &)> &enough = {})
    {
        const QDeadlineTimer deadline(ms);
        for (pollfd p{m_fd, POLLIN, 0}; m_fd >= 0 && !m_closed && !(enough && enough(m_received)) && !deadline.hasExpired();) {
            if (poll(&p, 1, 20) == 1)
                takeWhatCame();
        }
        return m_received;
    }
    bool closedByPortal()  // by now, in order or by a reset
    {
        if (m_fd >= 0 && !m_closed)
            takeWhatCame();
        return m_closed;
    }
    bool resetByPortal() const { return m_reset; }
    QByteArray received() const { return m_received; }
    void clear() { m_received.clear(); }

private:
    void takeWhatCame()
    {
        char buf[65536];
        ssize_t n = 0;
        while ((n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            m_received.append(buf, n);
        m_closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        m_reset = m_reset || (n < 0 && errno == ECONNRESET);
    }

    int m_fd = -1;
    bool m_closed = false, m_reset = false;
    QByteArray m_received;
};

// The portal with raw HTTP to it; `fields`: more header lines, each ending in CR LF.
class PortalRun : public PortalProcess {
public:
    HttpResult get(const QByteArray &target, const QByteArray &fields = {}, const char *to = "127.0.0.1") const
    {
        RawClient c(port(), to);
        c.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields + "Connection: close\r\n\r\n");
        return parseHttp(c.read(5000));
    }
};

inline QByteArray enc(const QString &s) { return QUrl::toPercentEncoding(s); }

// Type 1 asks for a public site, 2 for a private one (an edit keeps the site's type); Delete 1 deletes.
inline QByteArray postSite(const QString &userid, const QString &name, qint64 id, const QByteArray &type,
                           const QByteArray &del = "0", const QString &url = QStringLiteral("http://zoo.example/"))
{
    return "/tad/tad_postsite.asp?url=" + enc(url) + "&shortname=" + enc(name) + "&comments=" + enc(name)
           + "&AgeFrom=3&AgeTo=12&LogoLoc=" + enc(name.left(1) + "_gif.gif") + "&id=" + QByteArray::number(id)
           + "&userid=" + userid.toLatin1() + "&Delete=" + del + (del == "1" ? "" : "&Type=" + type);
}

// A site list's rows (tad_available.asp), each split at its TABs.
inline QList<QList<QByteArray>> rows(const QByteArray &list)
{
    QList<QList<QByteArray>> out;
    for (const QByteArray &row : list.split('\n'))
        if (!row.isEmpty())
            out.append(row.chopped(1).split('\t'));  // without its CR
    return out;
}

inline QList<QByteArray> rowFor(const QByteArray &list, const QByteArray &name)
{
    const auto all = rows(list);
    const auto it = std::find_if(all.begin(), all.end(), [&](const auto &row) { return row.value(1) == name; });
    return it == all.end() ? QList<QByteArray>() : *it;
}

// The go link of a menu's tile for that site, as a browser follows it.
inline QByteArray goLinkOnMenu(const QByteArray &menu, const QByteArray &item)
{
    const QRegularExpression link(QStringLiteral("href=\"(tad_go\\.asp\\?[^\"]*&amp;item=%1)\"").arg(QLatin1String(item)));
    QByteArray href = link.match(QString::fromUtf8(menu)).captured(1).toUtf8();
    return href.isEmpty() ? QByteArray() : "/tad/" + href.replace("&amp;", "&");
}

// Runs statements on a SQLite file beside the portal: the last one's rows, each "a|b|c", or one line naming the one that failed.
inline QStringList sqlite(const QString &path, const QStringList &statements)
{
    const auto forget = qScopeGuard([] { QSqlDatabase::removeDatabase(QStringLiteral("test")); }); // once `db` is gone
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
    db.setDatabaseName(path);
    const bool open = db.open();
    QStringList rows;
    for (const QString &sql : statements) {
        QSqlQuery q(db);
        if (!open || !q.exec(sql))
            return {QStringLiteral("failed: ") + sql};
        for (rows.clear(); q.next();) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << q.value(i).toString();
            rows << values.join(u'|');
        }
    }
    return rows;
}

// Every row of every table, for "this request changed nothing".
inline QStringList dumpDatabase(const QString &path)
{
    QStringList dump;
    for (const char *table : {"sites", "families", "faces", "ticks", "suggestions", "visit_days"}) {
        for (const QString &row : sqlite(path, {QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2, 3").arg(table)}))
            dump << QLatin1String(table) + u':' + row;
    }
    return dump;
}
