#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "TestFiles.h"

// A program folder of its own (its path holds "tadpole") with copies of the build's browser and terminate helper, and
// a configuration that points the loopback portal at `portalHost` and names the other browsers to end.
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
    QByteArray read(const QString &file) const { return readFile(path(file)); }
    bool write(const QString &file, const QByteArray &bytes) const { return writeFile(path(file), bytes); }

private:
    QTemporaryDir m_dir;
};
