#pragma once

// What both halves of the watchdog benchmark share: the demo portal, a program
// folder, a crowd of idle processes, and the figures' spread.
#include "app/ProgramServices.h"
#include "browsing/Watchdog.h"
#include "browsing/MainWindow.h"
#include "browsing/PopupWindow.h"
#include "shell/Services.h"
#include "shell/SettingsFile.h"
#include "system/BrowserNames.h"
#include "system/ProcessList.h"
#include "system/WindowCloser.h"
#include "system/X11WindowCloser.h"
#include "support/TestFiles.h"
#include "support/VirtualDisplay.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>



namespace bench {


inline constexpr int IdleProcesses = 300;

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Runs the event loop in short slices until `done` or `ms` passed.
inline bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(25, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline int runningProcesses()
{
    int count = 0;
    if (DIR *dir = ::opendir("/proc")) {
        while (const dirent *entry = ::readdir(dir))
            count += (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') ? 1 : 0;
        ::closedir(dir);
    }
    return count;
}

// A program we start goes when we go, however we end.
inline void endWithUs(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// The programs of the same build: bench/watchdog/ sits two levels below them.
inline QString programsFolder()
{
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../../tadpole")).absolutePath();
}

// Copies of sleep under a name of their own, so nothing mistakes them for a
// browser. Each dies with this process (parent-death signal) or by itself
// after `seconds`; the destructor ends them by their ids.
class IdleCrowd {
public:
    bool start(const QString &folder, int count, int seconds, QString *error)
    {
        const QString program = folder + QStringLiteral("/idler");
        if (!QFile::copy(QStringLiteral("/bin/sleep"), program)
            || !QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner)) {
            *error = QStringLiteral("cannot copy /bin/sleep to ") + program;
            return false;
        }
        // Everything the child touches is made before fork: between fork and
        // exec only async-signal-safe calls are allowed.
        const QByteArray path = QFile::encodeName(program);
        const QByteArray duration = QByteArray::number(seconds);
        const pid_t parent = ::getpid();
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid < 0) {
                *error = QStringLiteral("fork failed after %1 idle processes").arg(i);
                return false;
            }
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent)
                    ::_exit(0);
                const int nothing = ::open("/dev/null", O_RDWR);
                ::dup2(nothing, 0);
                ::dup2(nothing, 1);
                ::dup2(nothing, 2);
                ::execl(path.constData(), "idler", duration.constData(), static_cast<char *>(nullptr));
                ::_exit(127);
            }
            m_pids.push_back(pid);
        }
        return true;
    }

    ~IdleCrowd()
    {
        for (const pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : m_pids)
            ::waitpid(pid, nullptr, 0);
    }

    int size() const { return int(m_pids.size()); }

private:
    std::vector<pid_t> m_pids;
};

// The demo portal on a free loopback port, with an access log.
class Portal {
public:
    bool start(const QString &work, QString *error)
    {
        m_work = work;
        endWithUs(m_process);
        m_process.setProgram(programsFolder() + QStringLiteral("/tadpole-portal"));
        m_process.setArguments({QStringLiteral("--demo"), QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--db"), QStringLiteral("sqlite:") + work + QStringLiteral("/portal.sqlite"),
                                QStringLiteral("--access-log"), accessLog()});
        m_process.setStandardOutputFile(work + QStringLiteral("/portal.out"));
        m_process.setStandardErrorFile(work + QStringLiteral("/portal.err"));
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            *error = QStringLiteral("the portal did not start: ") + m_process.errorString();
            return false;
        }
        static const QRegularExpression listening(QStringLiteral("listening on (http://[^ \\n]+/tad/)"));
        waitUntil([&] {
            const auto match = listening.match(QString::fromUtf8(readFile(work + QStringLiteral("/portal.out"))));
            if (match.hasMatch())
                m_base = match.captured(1);
            return !m_base.isEmpty() || m_process.state() == QProcess::NotRunning;
        }, 30000);
        if (m_base.isEmpty()) {
            *error = QStringLiteral("the portal never said it was listening: ")
                + QString::fromUtf8(readFile(work + QStringLiteral("/portal.err")));
            return false;
        }
        return true;
    }

    ~Portal()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString base() const { return m_base; }                                  // http://127.0.0.1:PORT/tad/
    QString origin() const { return m_base.left(m_base.size() - 5); }       // without "/tad/"
    QString host() const { return origin().mid(7); }                        // 127.0.0.1:PORT
    QString accessLog() const { return m_work + QStringLiteral("/access.log"); }

private:
    QString m_work;
    QProcess m_process;
    QString m_base;
};

// A program folder of its own, as an installation has: its path holds
// "tadpole", and its settings point child 1 at the local portal. A face click
// starts the helper from here; no browser name in the settings matches
// anything running, so it ends nothing.
inline QString makeProgramFolder(const QString &work, const QString &portalHost, QString *error)
{
    const QString folder = work + QStringLiteral("/tadpole");
    QDir().mkpath(folder);
    for (const QString &name : {QStringLiteral("tadpole"), QStringLiteral("terminate")}) {
        if (!QFile::copy(programsFolder() + QLatin1Char('/') + name, folder + QLatin1Char('/') + name)) {
            *error = QStringLiteral("cannot copy ") + programsFolder() + QLatin1Char('/') + name;
            return QString();
        }
    }
    if (!writeFile(folder + QStringLiteral("/tadpole.conf"),
                   "[portal]\nloopback=" + portalHost.toUtf8() + "\n[browsers]\nnames=no-such-browser-here\n")) {
        *error = QStringLiteral("cannot write tadpole.conf");
        return QString();
    }
    return folder;
}

struct Spread {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

inline Spread spreadOf(std::vector<double> values)
{
    Spread s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    const size_t p99 = (values.size() * 99 + 99) / 100; // the 99th percentile, rounded up
    s.p99 = values[std::min(values.size(), std::max<size_t>(p99, 1)) - 1];
    s.max = values.back();
    return s;
}

inline double threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

// No one sits at the offscreen screen: a box is answered at once and told on
// stderr, so a run that asked something is seen, not hung.
class AnsweringDialogs : public Dialogs {
public:
    void message(const QString &text, const QString &title) override { tell(title, text); }
    Answer askYesNo(const QString &text, const QString &title, Answer) override
    {
        tell(title, text);
        return Answer::No;
    }
    QString input(const QString &prompt, const QString &title, const QString &) override
    {
        tell(title, prompt);
        return QString();
    }
    int asked() const { return m_asked; }

private:
    void tell(const QString &title, const QString &text)
    {
        ++m_asked;
        std::fprintf(stderr, "box \"%s\": %s\n", qPrintable(title), qPrintable(text));
    }
    int m_asked = 0;
};


// The demo portal and a program folder pointing at it; false (with a line on
// standard error) when either could not be made.
inline bool startPortalAndFolder(const QString &work, Portal &portal, QString *folder)
{
    QString error;
    if (!portal.start(work, &error) || (*folder = makeProgramFolder(work, portal.host(), &error)).isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    return true;
}

int tickMode(int argc, char *argv[]);
int idleMode(int argc, char *argv[]);
int minimalMode(int argc, char *argv[]);

} // namespace bench
