#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>
#include <memory>
#include <optional>

// The real programs of one build, started on free loopback ports in
// throw-away folders, for end-to-end tests.
namespace e2e {

inline QString programDir()
{
    return QStringLiteral(TADPOLE_PROGRAM_DIR);
}

// tadpole-portal on a free port with a fresh database and the demo family.
class PortalProcess {
public:
    bool start(const QStringList &extra = {QStringLiteral("--demo")})
    {
        m_process.setProgram(programDir() + QStringLiteral("/tadpole-portal"));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                                           QStringLiteral("sqlite:") + m_dir.path() + QStringLiteral("/portal.sqlite"),
                                           QStringLiteral("--access-log"), accessLogPath(),
                                           QStringLiteral("--threads"), QStringLiteral("2")}
                               + extra);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (clock.elapsed() < 15000) {
            m_process.waitForReadyRead(200);
            out += m_process.readAllStandardOutput();
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("listening on http://([0-9.]+):(\\d+)/tad/")).match(QString::fromLatin1(out));
            if (m.hasMatch()) {
                m_port = m.captured(2).toUShort();
                return true;
            }
            if (m_process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }
    ~PortalProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString accessLogPath() const { return m_dir.path() + QStringLiteral("/access.log"); }
    // Request targets the portal received, in order; `hostPrefix` keeps the
    // lines of one listening address only (empty: all, with their address).
    QStringList requests(const QString &hostPrefix) const
    {
        QFile log(accessLogPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList targets;
        for (const QByteArray &line : log.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() < 3)
                continue;
            if (hostPrefix.isEmpty())
                targets << QString::fromUtf8(parts.at(0) + ' ' + parts.at(2));
            else if (QString::fromUtf8(parts.at(0)) == hostPrefix)
                targets << QString::fromUtf8(parts.at(2));
        }
        return targets;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// A program folder of its own (its path holds "tadpole"), with copies of the
// browser and the terminate helper and a configuration pointing the loopback
// portal at the test's portal.
class ProgramFolder {
public:
    explicit ProgramFolder(const QString &portalHost)
    {
        m_folder = m_dir.path() + QStringLiteral("/tadpole");
        QDir().mkpath(m_folder);
        for (const char *name : {"tadpole", "terminate"})
            QFile::copy(programDir() + QLatin1Char('/') + QLatin1String(name), m_folder + QLatin1Char('/') + QLatin1String(name));
        QFile conf(m_folder + QStringLiteral("/tadpole.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("[portal]\nloopback=" + portalHost.toUtf8() + "\n[browsers]\nnames=no-such-browser-here\n");
    }
    QString path(const QString &file = QString()) const { return m_folder + QLatin1Char('/') + file; }
    QByteArray read(const QString &file) const
    {
        QFile f(path(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QString m_folder;
};

// Polls `condition` while the event loop runs, up to `ms`.
template <typename F>
bool waitFor(F condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

// The value of a script run in a web page (a QWebEnginePage), or an invalid
// value when it gives none within ten seconds.
template <typename Page>
QVariant evaluate(Page *page, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>(); // outlives a late answer
    page->runJavaScript(script, [result](const QVariant &value) { *result = value; });
    waitFor([&] { return result->has_value(); }, 10000);
    return result->value_or(QVariant());
}

} // namespace e2e
