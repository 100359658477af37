#pragma once

#include "system/BrowserNames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One running process as the process listing sees it.
struct ProcessEntry {
    qint64 pid = 0;
    QByteArray name;   // base name of the executable, as the file system spells it
};

// Finds the running programs by reading a proc file system. Holds no state
// between calls; the root is injectable so tests can build a fake tree.
class ProcessList {
public:
    explicit ProcessList(const QString &procRoot = QStringLiteral("/proc"),
                         const QStringList &browserNames = defaultBrowserNames());

    // Processes whose whole name is one of the other browsers' names given to
    // the constructor (case ignored), the rule `terminate` ends them by. Our
    // own programs and the web engine's helpers are never counted.
    int countOtherBrowsers() const;

    // The running processes by pid, ascending.
    QList<ProcessEntry> entries() const;

    // "/usr/lib/firefox-esr/firefox-esr (deleted)" -> "firefox-esr".
    static QByteArray exeBaseName(const QByteArray &linkTarget);

    QString procRoot() const { return m_procRoot; }
    QStringList browserNames() const { return m_browserNames; }

private:
    QString m_procRoot;
    QByteArray m_encodedRoot;
    QStringList m_browserNames;
    BrowserNameMatcher m_browsers;
};
