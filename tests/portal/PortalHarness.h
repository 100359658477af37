#pragma once

// Runs the real tadpole-portal program and talks raw HTTP to it over the loopback.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

struct HttpResult {
    int status = 0;
    QByteArray head;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

inline HttpResult parseHttp(const QByteArray &raw)
{
    HttpResult r;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return r;
    r.head = raw.left(end);
    r.status = r.head.mid(9, 3).toInt();
    r.body = raw.mid(end + 4);
    const QByteArray length = r.header("Content-Length");
    if (!length.isEmpty() && r.body.size() < length.toInt())
        r.status = 0;  // cut short
    return r;
}

inline HttpResult httpRaw(quint16 port, const QByteArray &request, const QString &host = QStringLiteral("127.0.0.1"))
{
    QTcpSocket s;
    s.connectToHost(host, port);
    if (!s.waitForConnected(5000))
        return {};
    s.write(request);
    QByteArray raw;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(5000))
        raw += s.readAll();
    raw += s.readAll();
    return parseHttp(raw);
}

inline HttpResult httpGet(quint16 port, const QByteArray &target, const QString &host = QStringLiteral("127.0.0.1"))
{
    return httpRaw(port, "GET " + target + " HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\nConnection: close\r\n\r\n", host);
}

class PortalRun {
public:
    ~PortalRun() { kill(); }

    bool start(const QStringList &args)
    {
        m_process.setProgram(QStringLiteral(TADPOLE_PORTAL_PROGRAM));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + args);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (!out.contains('\n') && timer.elapsed() < 15000) {
            if (!m_process.waitForReadyRead(500) && m_process.state() != QProcess::Running)
                break;
            out += m_process.readAllStandardOutput();
        }
        m_line = out.trimmed();
        const qsizetype colon = m_line.lastIndexOf(':');
        m_port = quint16(m_line.mid(colon + 1).split('/').value(0).toInt());
        if (!m_line.startsWith("listening on http://") || m_port == 0) {
            qWarning() << "portal did not start:" << out << m_process.readAllStandardError();
            return false;
        }
        return true;
    }
    quint16 port() const { return m_port; }
    QByteArray listeningLine() const { return m_line; }
    HttpResult get(const QByteArray &target) const { return httpGet(m_port, target); }
    qint64 pid() const { return m_process.processId(); }
    // SIGTERM; returns the exit code, -1 when it did not stop cleanly.
    int stop()
    {
        if (m_process.state() != QProcess::Running)
            return -1;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void kill()
    {
        if (m_process.state() == QProcess::Running) {
            ::kill(pid_t(m_process.processId()), SIGKILL);
            m_process.waitForFinished(5000);
        }
    }
    QByteArray standardError() { return m_process.readAllStandardError(); }

private:
    QProcess m_process;
    QByteArray m_line;
    quint16 m_port = 0;
};

// Every row of every table, for "this request changed nothing".
inline QString dumpDatabase(const QString &path)
{
    QString dump;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dump"));
        db.setDatabaseName(path);
        if (!db.open())
            return QStringLiteral("cannot open");
        for (const char *table : {"sites", "families", "faces", "ticks", "suggestions"}) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2, 3").arg(table));
            while (q.next()) {
                dump += QLatin1String(table) + u':';
                for (int i = 0; i < q.record().count(); ++i)
                    dump += q.value(i).toString() + u'|';
                dump += u'\n';
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return dump;
}
