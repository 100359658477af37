#pragma once

#include "TestFiles.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

// The build's tadpole-portal on a free loopback port; ended with the object.
class PortalProcess {
public:
    ~PortalProcess() { kill(); }
    // With `args`, ending the one started before; a new database starts with no sites unless `starterCatalogue`.
    bool start(const QStringList &args, bool starterCatalogue = false)
    {
        kill();
        QByteArray line;
        m_process.start(QStringLiteral(TADPOLE_PROGRAM_DIR "/tadpole-portal"),
                        QStringList{"--port", "0"} + args + (starterCatalogue ? QStringList() : QStringList{"--no-catalogue"}));
        for (int waits = 0; !line.contains('\n') && waits < 30 && m_process.state() != QProcess::NotRunning; ++waits) // 15 s
            line += m_process.waitForReadyRead(500) ? m_process.readAllStandardOutput() : QByteArray();
        line = line.trimmed();
        m_port = quint16(line.mid(line.lastIndexOf(':') + 1).split('/').value(0).toInt());
        if (line.startsWith("listening on http://127.0.0.1:") && line.endsWith("/tad/") && m_port != 0)
            return true;
        qWarning() << "portal did not start:" << line << m_process.readAllStandardError();
        return false;
    }
    // On a fresh database of its own (the demo family unless told otherwise), with an access log.
    bool startFresh(const QStringList &extra = {QStringLiteral("--demo")})
    {
        return start(QStringList{"--db", "sqlite:" + m_dir.filePath("portal.sqlite"), "--access-log",
                                 m_dir.filePath("access.log"), "--threads", "2"} + extra, true);
    }
    QString path(const QString &name) const { return m_dir.filePath(name); } // in a folder of its own, kept over restarts
    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    qint64 pid() const { return m_process.processId(); }
    // SIGTERM; returns the exit code, -1 when it did not stop cleanly.
    int stop() { return signal(SIGTERM) && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1; }
    void kill() { signal(SIGKILL); }
    QByteArray standardError() { return m_process.readAllStandardError(); }
    // The request targets that reached the listening address `host`, in order (started fresh).
    QStringList requests(const QString &host) const
    {
        QStringList targets;
        for (const QByteArray &line : readFile(m_dir.filePath("access.log")).split('\n'))
            if (const QList<QByteArray> parts = line.split(' '); parts.size() >= 3 && parts.at(0) == host.toUtf8())
                targets << QString::fromUtf8(parts.at(2));
        return targets;
    }

private:
    bool signal(int sig)
    {
        return m_process.state() == QProcess::Running && ::kill(pid_t(m_process.processId()), sig) == 0
               && m_process.waitForFinished(10000);
    }
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
