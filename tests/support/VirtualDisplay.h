#pragma once

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// An X server of its own (Xvfb) on a display no one else uses, on its local socket only; it ends with the object.
// Started without Qt, so that it may come before the application that shows its windows there.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const char *screen = "1024x768x24")
    {
        const QByteArray xvfb = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
        int fds[2];
        if (xvfb.isEmpty() || ::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) { // -displayfd: Xvfb picks a free display and writes its number once it listens
            ::dup2(fds[1], 1);
            ::dup2(::open("/dev/null", O_WRONLY), 2);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl(xvfb.constData(), "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen, nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        for (char c = 0; m_pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n';)
            m_name.append(c);
        ::close(fds[0]);
        if (!m_name.isEmpty())
            m_name.prepend(':');
    }
    ~VirtualDisplay()
    {
        if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    // ":N", or empty when Xvfb is missing or did not start.
    QByteArray name() const { return m_name; }

private:
    pid_t m_pid = -1;
    QByteArray m_name;
};
