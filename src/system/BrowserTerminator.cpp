#include "system/BrowserTerminator.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <vector>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Through a pidfd a signal reaches the process that was checked, never a
// newcomer that reused its pid during the grace period.
int openPidFd(qint64 pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
    Q_UNUSED(pid);
    errno = ENOSYS;
    return -1;
#endif
}

bool signalPidFd(int fd, int signal)
{
#ifdef SYS_pidfd_send_signal
    return ::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
#else
    Q_UNUSED(fd);
    Q_UNUSED(signal);
    return false;
#endif
}

struct Victim {
    qint64 pid;
    int fd;   // -1 when the kernel has no pidfds: fall back to kill()
};

} // namespace

BrowserTerminator::BrowserTerminator(const QString &procRoot, const QStringList &browserNames,
                                     uid_t user, qint64 selfPid, qint64 parentPid)
    : m_processes(procRoot, browserNames)
    , m_names(normalizedBrowserNames(browserNames))
    , m_user(user)
    , m_selfPid(selfPid)
    , m_parentPid(parentPid)
{
}

bool BrowserTerminator::realUidOf(qint64 pid, uid_t *uid) const
{
    QFile status(m_processes.procRoot() + QLatin1Char('/') + QString::number(pid)
                 + QLatin1String("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        const qulonglong value = fields.value(0).toULongLong(&ok);
        if (!ok)
            return false;
        *uid = static_cast<uid_t>(value);
        return true;
    }
    return false;
}

bool BrowserTerminator::isTarget(const ProcessEntry &entry) const
{
    if (entry.pid == m_selfPid || entry.pid == m_parentPid)
        return false;
    const QString name = QFile::decodeName(entry.name);
    if (!isBrowserProgramName(name, m_names))
        return false;
    uid_t uid = 0;
    return realUidOf(entry.pid, &uid) && uid == m_user;
}

bool BrowserTerminator::isTarget(qint64 pid) const
{
    char target[4096];
    const QByteArray link = QFile::encodeName(m_processes.procRoot() + QLatin1Char('/')
                                              + QString::number(pid) + QLatin1String("/exe"));
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
        return false;
    return isTarget(ProcessEntry{pid, ProcessList::exeBaseName(QByteArray(target, length))});
}

QList<ProcessEntry> BrowserTerminator::findTargets() const
{
    QList<ProcessEntry> targets;
    if (m_names.isEmpty())
        return targets;
    for (const ProcessEntry &entry : m_processes.entries()) {
        if (isTarget(entry))
            targets.append(entry);
    }
    return targets;
}

int BrowserTerminator::endAll(std::chrono::milliseconds grace) const
{
    std::vector<Victim> victims;
    for (const ProcessEntry &entry : findTargets()) {
        const int fd = openPidFd(entry.pid);
        if (fd < 0 && errno != ENOSYS)
            continue;   // ended meanwhile
        // Checked again once the process is pinned by its pidfd (or as late
        // as possible without one).
        if (!isTarget(entry.pid)) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        const bool sent = fd >= 0 ? signalPidFd(fd, SIGTERM)
                                  : ::kill(static_cast<pid_t>(entry.pid), SIGTERM) == 0;
        if (sent)
            victims.push_back({entry.pid, fd});
        else if (fd >= 0)
            ::close(fd);
    }
    const int signalled = static_cast<int>(victims.size());

    QElapsedTimer clock;
    clock.start();
    while (!victims.empty()) {
        const qint64 left = grace.count() - clock.elapsed();
        if (left <= 0)
            break;
        std::vector<pollfd> fds;
        bool anyWithoutFd = false;
        for (const Victim &victim : victims) {
            if (victim.fd >= 0)
                fds.push_back({victim.fd, POLLIN, 0});
            else
                anyWithoutFd = true;
        }
        // Processes without a pidfd cannot be waited on: look again shortly.
        const int timeout = static_cast<int>(anyWithoutFd ? qMin<qint64>(left, 50) : left);
        ::poll(fds.data(), fds.size(), timeout);

        std::vector<Victim> alive;
        size_t next = 0;
        for (const Victim &victim : victims) {
            bool ended;
            if (victim.fd >= 0) {
                ended = fds[next++].revents != 0;
                if (ended)
                    ::close(victim.fd);
            } else {
                ended = !isTarget(victim.pid);
            }
            if (!ended)
                alive.push_back(victim);
        }
        victims.swap(alive);
    }

    for (const Victim &victim : victims) {
        if (victim.fd >= 0) {
            signalPidFd(victim.fd, SIGKILL);
            ::close(victim.fd);
        } else if (isTarget(victim.pid)) {
            ::kill(static_cast<pid_t>(victim.pid), SIGKILL);
        }
    }
    return signalled;
}
