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

// "/usr/lib/firefox-esr/firefox-esr (deleted)" -> "firefox-esr", without a copy.
QByteArrayView baseNameOf(QByteArrayView linkTarget)
{
    // The kernel marks an executable that was replaced or removed after the
    // start (a browser update does this) with this suffix on the link.
    constexpr QByteArrayView deleted(" (deleted)");
    QByteArrayView path = linkTarget;
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path.sliced(path.lastIndexOf('/') + 1);
}

// Calls take(pid, name) for each process whose executable link can be read,
// in the order the root lists them. Nothing is allocated per process.
template <typename Take>
void forEachProcess(const QByteArray &root, Take take)
{
    DIR *dir = ::opendir(root.constData());
    if (!dir)
        return;
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
        // ended meanwhile: those contribute nothing. Read anew every time: a
        // process may have become another program under the same pid.
        const ssize_t length = ::readlinkat(rootFd, linkPath, target, sizeof target - 1);
        if (length <= 0)
            continue;
        const QByteArrayView name = baseNameOf(QByteArrayView(target, length));
        if (!name.isEmpty())
            take(pid, name);
    }
    ::closedir(dir);
}

} // namespace

ProcessList::ProcessList(const QString &procRoot, const QStringList &browserNames)
    : m_procRoot(procRoot)
    , m_encodedRoot(QFile::encodeName(procRoot))
    , m_browserNames(normalizedBrowserNames(browserNames))
    , m_browsers(m_browserNames)
{
}

QByteArray ProcessList::exeBaseName(const QByteArray &linkTarget)
{
    return baseNameOf(linkTarget).toByteArray();
}

QList<ProcessEntry> ProcessList::entries() const
{
    QList<ProcessEntry> result;
    forEachProcess(m_encodedRoot, [&](qint64 pid, QByteArrayView name) { result.append({pid, name.toByteArray()}); });
    std::sort(result.begin(), result.end(),
              [](const ProcessEntry &a, const ProcessEntry &b) { return a.pid < b.pid; });
    return result;
}

int ProcessList::countOtherBrowsers() const
{
    // The whole name, as `terminate` ends them: a browser's helpers
    // ("chrome_crashpad_handler") are not browsers, and counting them would
    // start the helper every second to end nothing. No order is needed and no
    // string is made for a name that cannot match.
    int count = 0;
    forEachProcess(m_encodedRoot, [&](qint64, QByteArrayView name) { count += m_browsers.matches(name) ? 1 : 0; });
    return count;
}
