// The watchdog runs once a second for as long as the child browses, so it
// must cost next to nothing. Two figures, both with 300 idle processes
// running so that the process count reads a full /proc:
//
//   bench_watchdog tick [TICKS] [x11]
//     One tick (the time limit check, the search for the two prompts'
//     titles with the real window closer, the real process count and the
//     pop-up test), timed in a process that shows the real browser on child
//     1's menu from the local demo portal. QT_QPA_PLATFORM picks the
//     platform (offscreen when unset); on X11 the tick is timed again with
//     other programs' windows open. "x11": on an X server of its own (Xvfb).
//
//   bench_watchdog idle [SECONDS]
//     The idle CPU share of `tadpole 1` on its menu page, with its web engine
//     processes, beside a bare web view on the same page, both sampled over
//     the same SECONDS (60 when not given).
//
//   bench_watchdog minimal URL SECONDS
//     The bare web view; "idle" starts it. Quits by itself after SECONDS.

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

// Last: Xlib's macros (None, Bool, Status) would clash with Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int IdleProcesses = 300;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Runs the event loop in short slices until `done` or `ms` passed.
bool waitUntil(const std::function<bool()> &done, int ms)
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

int runningProcesses()
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
void endWithUs(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// The programs of the same build: bench/watchdog/ sits two levels below them.
QString programsFolder()
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
QString makeProgramFolder(const QString &work, const QString &portalHost, QString *error)
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

Spread spreadOf(std::vector<double> values)
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

double threadCpuNs()
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

// Times `ticks` ticks of a watchdog built as the browser builds its own,
// with the real outside parts, and prints the spread of each part.
void timeTicks(int ticks, const QString &heading)
{
    SystemClock clock;
    const ProcessList processes(QStringLiteral("/proc"), defaultBrowserNames());
    double closeNs = 0, countNs = 0, popupNs = 0;
    int browsersCounted = 0;
    int helperStarts = 0;
    bool popupSeen = false;
    auto timed = [](double &sink, auto &&work) {
        QElapsedTimer t;
        t.start();
        work();
        sink += double(t.nsecsElapsed());
    };
    Watchdog watchdog(Watchdog::Outside{
        .clock = &clock,
        .countOtherBrowsers = [&] {
            timed(countNs, [&] { browsersCounted = processes.CountProcesses(ProcessList::otherBrowsersName()); });
            return browsersCounted;
        },
        .closeWindowsByTitle = [&](const QStringList &titles) { timed(closeNs, [&] { CloseWindowsByTitle(titles); }); },
        .popupOpen = [&] {
            timed(popupNs, [&] { popupSeen = PopupWindow::anyOpen(); });
            return popupSeen;
        },
        .startTerminate = [&] { ++helperStarts; },
    });
    // A limit running, so the check takes its whole path.
    ParentalSettings settings;
    settings.TimeLimit = QStringLiteral("2 Hours");
    settings.LimitEnd = SettingsFile::TimeLimitEnd(settings.TimeLimit, clock.now());

    std::vector<double> total, cpu, check, close, count, popup;
    constexpr int warmUp = 5;
    for (int i = 0; i < warmUp + ticks; ++i) {
        // The browser keeps running between ticks, as it does between seconds.
        waitUntil([] { return false; }, 20);
        closeNs = countNs = popupNs = 0;
        const double cpuBefore = threadCpuNs();
        QElapsedTimer t;
        t.start();
        watchdog.checkTime(settings);
        const double checkNs = double(t.nsecsElapsed());
        watchdog.sweep();
        const double totalNs = double(t.nsecsElapsed());
        const double cpuNs = threadCpuNs() - cpuBefore;
        if (i < warmUp)
            continue;
        total.push_back(totalNs / 1e6);
        cpu.push_back(cpuNs / 1e6);
        check.push_back(checkNs / 1e6);
        close.push_back(closeNs / 1e6);
        count.push_back(countNs / 1e6);
        popup.push_back(popupNs / 1e6);
    }

    auto row = [](const char *name, const std::vector<double> &values) {
        const Spread s = spreadOf(values);
        out() << "  " << qSetFieldWidth(34) << Qt::left << name << qSetFieldWidth(0) << "median "
              << qSetFieldWidth(7) << Qt::right << s.median << qSetFieldWidth(0) << " ms, p99 "
              << qSetFieldWidth(7) << s.p99 << qSetFieldWidth(0) << " ms, max " << qSetFieldWidth(7) << s.max
              << qSetFieldWidth(0) << " ms\n";
    };
    out() << heading << " (" << ticks << " ticks, 20 ms apart)\n";
    row("whole tick", total);
    row("  time limit check", check);
    row("  title search, both titles", close);
    row("  process count", count);
    row("  pop-up test", popup);
    row("whole tick, CPU of this thread", cpu);
    const Spread whole = spreadOf(total);
    out() << "  other browsers counted: " << browsersCounted << ", helper starts: " << helperStarts
          << ", pop-up open: " << (popupSeen ? "yes" : "no") << "\n"
          << "  CPU share at one tick a second: " << spreadOf(cpu).median / 10.0 << " % of one core\n"
          << "  target: tick under 5 ms (median and p99): "
          << (whole.median < 5.0 && whole.p99 < 5.0 ? "met" : "NOT met") << "\n";
    out().flush();
}

// Other programs' top-level windows on the same X server, from a connection of
// our own, so the title search has a desktop to look through. Closed with it.
class OtherWindows {
public:
    explicit OtherWindows(int count)
        : m_display(XOpenDisplay(nullptr))
    {
        if (!m_display)
            return;
        const Window root = DefaultRootWindow(m_display);
        for (int i = 0; i < count; ++i) {
            const Window window = XCreateSimpleWindow(m_display, root, 10 * i, 10 * i, 300, 200, 0, 0, 0);
            const QByteArray title = "Other program " + QByteArray::number(i + 1);
            XStoreName(m_display, window, title.constData());
            XMapWindow(m_display, window);
        }
        XSync(m_display, False);
    }
    ~OtherWindows()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    OtherWindows(const OtherWindows &) = delete;
    OtherWindows &operator=(const OtherWindows &) = delete;

    // The top-level windows the title search walks, as it finds them.
    int topLevelCount() const
    {
        return m_display ? int(X11WindowCloser(m_display).topLevelWindows().size()) : -1;
    }
    bool ok() const { return m_display != nullptr; }

    // One request and its reply, the unit a title search is paid in.
    static double roundTripUs(Display *display)
    {
        std::vector<double> times;
        for (int i = 0; i < 200 && display; ++i) {
            QElapsedTimer t;
            t.start();
            XSync(display, False);
            times.push_back(double(t.nsecsElapsed()) / 1e3);
        }
        return spreadOf(times).median;
    }
    double roundTripUs() const { return roundTripUs(m_display); }

private:
    Display *m_display;
};

int tickMode(int argc, char *argv[])
{
    const int ticks = argc > 2 ? std::clamp(QByteArray(argv[2]).toInt(), 10, 10000) : 200;
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/bench-watchdog-XXXXXX"));
    QString error;
    IdleCrowd crowd;
    // Before the application: each fork then copies a small process.
    if (!crowd.start(work.path(), IdleProcesses, 900, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QApplication app(argc, argv);
    Portal portal;
    if (!portal.start(work.path(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString folder = makeProgramFolder(work.path(), portal.host(), &error);
    if (folder.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    ProgramServices outside;
    AnsweringDialogs dialogs;
    MainWindow browser(outside.services(folder, folder, QStringLiteral("1"), &dialogs));
    bool menuShown = false;
    QObject::connect(browser.view(), &BrowserView::loadFinished, &app, [&](bool) {
        if (browser.view()->currentUrl().toString().contains(QLatin1String("tad_menu.asp")))
            menuShown = true;
    });
    if (!waitUntil([&] { return menuShown && browser.startupFinished(); }, 120000)) {
        std::fprintf(stderr, "the browser did not show child 1's menu within two minutes\n");
        return 1;
    }

    out().setRealNumberNotation(QTextStream::FixedNotation);
    out().setRealNumberPrecision(3);
    out() << "platform: " << QGuiApplication::platformName() << ", processes running: " << runningProcesses()
          << " (" << crowd.size() << " idle copies of sleep)\n"
          << "the browser on child 1's menu: " << QApplication::allWidgets().size() << " widgets, "
          << QApplication::topLevelWidgets().size() << " of them top-level\n";
    if (dialogs.asked() > 0)
        out() << "warning: the browser asked " << dialogs.asked() << " questions on its way to the menu (see stderr)\n";

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        timeTicks(ticks, QStringLiteral("tick"));
        return 0;
    }
    {
        const OtherWindows none(0);
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        out() << "one X11 round trip (XSync), median: " << OtherWindows::roundTripUs(x11 ? x11->display() : nullptr)
              << " us on the browser's connection, " << none.roundTripUs() << " us on a connection of its own\n"
              << "X11 top-level windows the title search walks: " << none.topLevelCount() << "\n";
        timeTicks(ticks, QStringLiteral("tick on X11, only the browser's windows"));
    }
    constexpr int otherCount = 20;
    const OtherWindows others(otherCount);
    if (!others.ok()) {
        std::fprintf(stderr, "cannot open the X display a second time\n");
        return 1;
    }
    out() << "X11 top-level windows the title search walks: " << others.topLevelCount() << "\n";
    timeTicks(ticks, QStringLiteral("tick on X11, with %1 other programs' windows").arg(otherCount));
    return 0;
}

// ---- idle CPU share

struct ProcStat {
    qint64 pid = 0;
    qint64 parent = 0;
    quint64 cpuTicks = 0;   // utime + stime
    quint64 startTime = 0;  // tells a reused pid from the process we saw
};

std::optional<ProcStat> readStat(qint64 pid)
{
    const QByteArray text = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    // The name in parentheses may hold spaces and parentheses; fields follow the last ")".
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // Counted from the state: 1 ppid, 11 utime, 12 stime, 19 starttime.
    if (fields.size() < 20)
        return std::nullopt;
    ProcStat stat;
    stat.pid = pid;
    stat.parent = fields.at(1).toLongLong();
    stat.cpuTicks = fields.at(11).toULongLong() + fields.at(12).toULongLong();
    stat.startTime = fields.at(19).toULongLong();
    return stat;
}

QList<ProcStat> allProcesses()
{
    QList<ProcStat> result;
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return result;
    while (const dirent *entry = ::readdir(dir)) {
        bool numeric = false;
        const qint64 pid = QByteArray(entry->d_name).toLongLong(&numeric);
        if (numeric && pid > 0) {
            if (const std::optional<ProcStat> stat = readStat(pid))
                result.append(*stat);
        }
    }
    ::closedir(dir);
    return result;
}

// `root` and everything below it.
QList<ProcStat> processTree(qint64 root, const QList<ProcStat> &all)
{
    QList<ProcStat> tree;
    for (const ProcStat &p : all) {
        if (p.pid == root)
            tree.append(p);
    }
    // Each round adds one generation; the web engine's processes are two deep.
    for (qsizetype known = 0; known < tree.size() && tree.size() <= all.size(); ++known) {
        for (const ProcStat &p : all) {
            if (p.parent == tree.at(known).pid)
                tree.append(p);
        }
    }
    return tree;
}

// CPU time of a process tree over a window, from samples of /proc.
class CpuMeter {
public:
    explicit CpuMeter(qint64 root) : m_root(root) {}

    void sample(const QList<ProcStat> &all, bool first)
    {
        for (const ProcStat &p : processTree(m_root, all)) {
            const auto key = qMakePair(p.pid, p.startTime);
            auto seen = m_seen.find(key);
            // A process born inside the window spent all its time inside it.
            if (seen == m_seen.end())
                seen = m_seen.insert(key, Seen{first ? p.cpuTicks : 0, p.cpuTicks, p.pid == m_root});
            seen->last = p.cpuTicks;
        }
    }

    double seconds(bool rootOnly = false) const
    {
        quint64 ticks = 0;
        for (const Seen &s : m_seen) {
            if (!rootOnly || s.root)
                ticks += s.last - s.first;
        }
        return double(ticks) / double(::sysconf(_SC_CLK_TCK));
    }
    int processCount() const { return int(m_seen.size()); }

    // Ends what is still running of the tree, children by their ids.
    void endTree(QProcess &process) const
    {
        const QList<ProcStat> before = processTree(m_root, allProcesses());
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
        for (const ProcStat &p : before) {
            const std::optional<ProcStat> now = readStat(p.pid);
            if (now && now->startTime == p.startTime && p.pid != m_root)
                ::kill(pid_t(p.pid), SIGKILL);
        }
    }

private:
    struct Seen {
        quint64 first = 0;
        quint64 last = 0;
        bool root = false;
    };
    qint64 m_root;
    QMap<QPair<qint64, quint64>, Seen> m_seen;
};

int idleMode(int argc, char *argv[])
{
    const int seconds = argc > 2 ? std::clamp(QByteArray(argv[2]).toInt(), 5, 3600) : 60;
    QCoreApplication app(argc, argv);
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/bench-watchdog-XXXXXX"));
    QString error;
    IdleCrowd crowd;
    if (!crowd.start(work.path(), IdleProcesses, 2 * seconds + 900, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Portal portal;
    if (!portal.start(work.path(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString folder = makeProgramFolder(work.path(), portal.host(), &error);
    if (folder.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess tadpole;
    endWithUs(tadpole);
    tadpole.setProcessEnvironment(environment);
    tadpole.setProgram(folder + QStringLiteral("/tadpole"));
    tadpole.setArguments({QStringLiteral("1")});
    tadpole.setWorkingDirectory(folder);
    tadpole.setStandardOutputFile(work.path() + QStringLiteral("/tadpole.out"));
    tadpole.setStandardErrorFile(work.path() + QStringLiteral("/tadpole.err"));
    tadpole.start();
    if (!tadpole.waitForStarted(10000)) {
        std::fprintf(stderr, "tadpole did not start\n");
        return 1;
    }
    CpuMeter tadpoleMeter(tadpole.processId());
    QString menuTarget;
    static const QRegularExpression menuLine(QStringLiteral(" GET (/tad/tad_menu\\.asp[^ \\n]*)"));
    waitUntil([&] {
        const auto match = menuLine.match(QString::fromUtf8(readFile(portal.accessLog())));
        if (match.hasMatch())
            menuTarget = match.captured(1);
        return !menuTarget.isEmpty() || tadpole.state() == QProcess::NotRunning;
    }, 120000);
    if (menuTarget.isEmpty()) {
        std::fprintf(stderr, "tadpole never asked for its menu:\n%s\n",
                     readFile(work.path() + QStringLiteral("/tadpole.err")).constData());
        tadpoleMeter.endTree(tadpole);
        return 1;
    }

    QProcess bare;
    endWithUs(bare);
    bare.setProcessEnvironment(environment);
    bare.setProgram(QCoreApplication::applicationFilePath());
    bare.setArguments({QStringLiteral("minimal"), portal.origin() + menuTarget, QString::number(seconds + 300)});
    bare.setStandardOutputFile(work.path() + QStringLiteral("/bare.out"));
    bare.setStandardErrorFile(work.path() + QStringLiteral("/bare.err"));
    bare.start();
    CpuMeter bareMeter(bare.waitForStarted(10000) ? bare.processId() : 0);
    if (!waitUntil([&] { return readFile(work.path() + QStringLiteral("/bare.out")).contains("loaded"); }, 120000)) {
        std::fprintf(stderr, "the bare web view did not load the menu\n");
        bareMeter.endTree(bare);
        tadpoleMeter.endTree(tadpole);
        return 1;
    }
    // Both were just loading; the figure is for a page that sits there.
    waitUntil([] { return false; }, 5000);

    QElapsedTimer wall;
    wall.start();
    {
        const QList<ProcStat> all = allProcesses();
        tadpoleMeter.sample(all, true);
        bareMeter.sample(all, true);
    }
    for (int second = 1; second <= seconds; ++second) {
        const qint64 due = qint64(second) * 1000 - wall.elapsed();
        if (due > 0)
            QThread::msleep(static_cast<unsigned long>(due));
        const QList<ProcStat> all = allProcesses();
        tadpoleMeter.sample(all, false);
        bareMeter.sample(all, false);
    }
    const double wallSeconds = double(wall.elapsed()) / 1000.0;
    const bool bothRan = tadpole.state() == QProcess::Running && bare.state() == QProcess::Running;
    tadpoleMeter.endTree(tadpole);
    bareMeter.endTree(bare);

    const double tadpoleShare = tadpoleMeter.seconds() / wallSeconds * 100.0;
    const double tadpoleMain = tadpoleMeter.seconds(true) / wallSeconds * 100.0;
    const double bareShare = bareMeter.seconds() / wallSeconds * 100.0;
    const double bareMain = bareMeter.seconds(true) / wallSeconds * 100.0;
    out().setRealNumberNotation(QTextStream::FixedNotation);
    out().setRealNumberPrecision(2);
    out() << "idle on child 1's menu, both sampled over the same " << wallSeconds << " s, offscreen, "
          << runningProcesses() << " processes running\n"
          << "  tadpole 1 with its watchdog (" << tadpoleMeter.processCount() << " processes): "
          << tadpoleShare << " % of one core (main process " << tadpoleMain << " %)\n"
          << "  bare web view (" << bareMeter.processCount() << " processes):             "
          << bareShare << " % of one core (main process " << bareMain << " %)\n"
          << "  difference: " << tadpoleShare - bareShare << " percentage points (target within 1): "
          << (qAbs(tadpoleShare - bareShare) <= 1.0 ? "met" : "NOT met") << "\n";
    if (!bothRan)
        out() << "  warning: a program ended during the measurement\n";
    return bothRan ? 0 : 1;
}

int minimalMode(int argc, char *argv[])
{
    if (argc < 4)
        return 2;
    QApplication app(argc, argv);
    QWebEngineView view;
    bool told = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [&](bool ok) {
        if (told)
            return;
        told = true;
        std::printf("loaded %s\n", ok ? "ok" : "with an error");
        std::fflush(stdout);
    });
    view.load(QUrl(QString::fromLocal8Bit(argv[2])));
    view.showMaximized();
    QTimer::singleShot(std::clamp(QByteArray(argv[3]).toInt(), 1, 7200) * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    std::optional<VirtualDisplay> x11; // outlives the application that shows its windows there
    if (argc > 3 && QByteArray(argv[1]) == "tick" && QByteArray(argv[3]) == "x11") {
        x11.emplace("1280x1024x24");
        if (x11->name().isEmpty()) {
            std::printf("Xvfb could not be started: the X11 title search was not timed\n");
            return 0;
        }
        qputenv("DISPLAY", x11->name());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "tick")
        return tickMode(argc, argv);
    if (mode == "idle")
        return idleMode(argc, argv);
    if (mode == "minimal")
        return minimalMode(argc, argv);
    std::fprintf(stderr, "usage: %s tick [TICKS] [x11] | idle [SECONDS] | minimal URL SECONDS\n", argv[0]);
    return 2;
}
