#include "system/ProcessList.h"

#include <QFile>

#include <algorithm>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

// Parses a directory entry name made only of digits; anything else
// ("self", "sys", "1a") is not a process.
qint64 parsePid(const char *text)
{
    if (*text == '\0')
        return -1;
    qint64 value = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > (qint64(1) << 40))
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value > 0 ? value : -1;
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

ProcessList::ProcessList(const QString &procRoot, const QStringList &browserNames)
    : m_procRoot(procRoot)
    , m_browserNames(normalizedBrowserNames(browserNames))
{
}

QByteArray ProcessList::exeBaseName(const QByteArray &linkTarget)
{
    // The kernel marks an executable that was replaced or removed after the
    // start (a browser update does this) with this suffix on the link.
    static const QByteArray deleted(" (deleted)");
    QByteArray path = linkTarget;
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

QList<ProcessEntry> ProcessList::entries() const
{
    QList<ProcessEntry> result;
    const QByteArray root = QFile::encodeName(m_procRoot);
    DIR *dir = ::opendir(root.constData());
    if (!dir)
        return result;

    // The exe link, not comm or stat: those cut names at 15 characters.
    const int rootFd = ::dirfd(dir);
    char linkPath[32];
    char target[PATH_MAX + 1];
    while (const dirent *entry = ::readdir(dir)) {
        const qint64 pid = parsePid(entry->d_name);
        if (pid < 0)
            continue;
        std::snprintf(linkPath, sizeof linkPath, "%lld/exe", static_cast<long long>(pid));
        // Fails for kernel threads, other users' processes and processes that
        // ended meanwhile: those contribute nothing.
        const ssize_t length = ::readlinkat(rootFd, linkPath, target, sizeof target - 1);
        if (length <= 0)
            continue;
        QByteArray name = exeBaseName(QByteArray(target, length));
        if (!name.isEmpty())
            result.append({pid, name});
    }
    ::closedir(dir);

    std::sort(result.begin(), result.end(),
              [](const ProcessEntry &a, const ProcessEntry &b) { return a.pid < b.pid; });
    return result;
}

QByteArray ProcessList::ListProcessNames() const
{
    QByteArray result;
    for (const ProcessEntry &entry : entries()) {
        if (!result.isEmpty())
            result.append('\0');
        result.append(entry.name);
    }
    return result;
}

int ProcessList::CountProcesses(const QString &text) const
{
    const bool otherBrowsers = text == otherBrowsersName();
    int count = 0;
    for (const ProcessEntry &entry : entries()) {
        const QString name = QFile::decodeName(entry.name);
        if (isProtectedProgramName(name))
            continue;
        const QString piece = trimSpaces(name.toLower());
        if (otherBrowsers) {
            // The whole name, as `terminate` ends them: a browser's helpers
            // ("chrome_crashpad_handler") are not browsers, and counting them
            // would start the helper every second to end nothing.
            if (isBrowserProgramName(name, m_browserNames))
                ++count;
        } else if (piece.contains(text)) {
            ++count;
        }
    }
    return count;
}
