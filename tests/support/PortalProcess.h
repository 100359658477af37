#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

// The build's tadpole-portal on a free loopback port with a fresh database
// (the demo family unless told otherwise) and an access log; ended with the object.
class PortalProcess {
public:
    bool start(const QStringList &extra = {QStringLiteral("--demo")})
    {
        m_process.start(QStringLiteral(TADPOLE_PROGRAM_DIR "/tadpole-portal"),
                        QStringList{"--port", "0", "--db", "sqlite:" + m_dir.filePath("portal.sqlite"), "--access-log",
                                    m_dir.filePath("access.log"), "--threads", "2"} + extra);
        static const QRegularExpression listening(QStringLiteral("listening on http://[0-9.]+:(\\d+)/tad/"));
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (m_port == 0 && m_process.waitForStarted(5000) && clock.elapsed() < 15000) {
            m_process.waitForReadyRead(200);
            out += m_process.readAllStandardOutput();
            m_port = listening.match(QString::fromLatin1(out)).captured(1).toUShort();
        }
        return m_port != 0;
    }
    ~PortalProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The request targets that reached the listening address `host`, in order.
    QStringList requests(const QString &host) const
    {
        QFile log(m_dir.filePath("access.log"));
        QStringList targets;
        for (const QByteArray &line : log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QByteArrayList()) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() >= 3 && QString::fromUtf8(parts.at(0)) == host)
                targets << QString::fromUtf8(parts.at(2));
        }
        return targets;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
