// The idle half of the watchdog benchmark: the CPU share of the browser on its
// menu beside a bare web view, sampled from /proc.

#include "BenchWatchdog.h"

namespace bench {

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
    QString folder;
    if (!startPortalAndFolder(work.path(), portal, &folder))
        return 1;

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

} // namespace bench
