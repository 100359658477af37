#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A program folder of its own (its path holds "tadpole") with copies of the
// build's browser and terminate helper, and a configuration that points the
// loopback portal at `portalHost` and names the other browsers to end.
class ProgramFolder {
public:
    explicit ProgramFolder(const QString &portalHost, const QByteArray &browserNames = "no-such-browser-here")
    {
        QDir().mkpath(path());
        for (const QString name : {"tadpole", "terminate"})
            QFile::copy(QStringLiteral(TADPOLE_PROGRAM_DIR "/") + name, path(name));
        write(QStringLiteral("tadpole.conf"), "[portal]\nloopback=" + portalHost.toUtf8() + "\n[browsers]\nnames=" + browserNames + "\n");
    }
    QString path(const QString &file = QString()) const { return m_dir.filePath(QStringLiteral("tadpole/")) + file; }
    QByteArray read(const QString &file) const
    {
        QFile f(path(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool write(const QString &file, const QByteArray &bytes) const
    {
        QFile f(path(file));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir m_dir;
};
