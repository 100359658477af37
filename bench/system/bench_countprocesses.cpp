// The watchdog counts the other browsers once a second, so the count must cost
// next to nothing. This times it against one run of `ps -e -o comm=`, the
// cheapest outside way to list the running programs, on a machine with at
// least 300 processes, alternating the two so both see the same load.

#include "system/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

int runningProcesses()
{
    int count = 0;
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        name.toLongLong(&numeric);
        count += numeric ? 1 : 0;
    }
    return count;
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    constexpr int wanted = 300;
    std::vector<std::unique_ptr<QProcess>> sleepers;
    while (runningProcesses() < wanted + 10) {
        auto sleeper = std::make_unique<QProcess>();
        sleeper->start(QStringLiteral("sleep"), {QStringLiteral("600")});
        if (!sleeper->waitForStarted()) {
            out << "could not start sleep processes\n";
            return 1;
        }
        sleepers.push_back(std::move(sleeper));
    }
    const int processes = runningProcesses();

    const ProcessList list;
    int found = list.countOtherBrowsers();   // warm-up

    constexpr int rounds = 30;
    constexpr int callsPerRound = 20;
    std::vector<double> countWall, countCpu, psWall, psCpu;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        const double cpuBefore = cpuSeconds();
        clock.start();
        for (int i = 0; i < callsPerRound; ++i)
            found = list.countOtherBrowsers();
        countWall.push_back(double(clock.nsecsElapsed()) / 1e6 / callsPerRound);
        countCpu.push_back((cpuSeconds() - cpuBefore) * 1e3 / callsPerRound);

        const double childBefore = childrenCpuSeconds();
        QProcess ps;
        clock.start();
        ps.start(QStringLiteral("ps"), {QStringLiteral("-e"), QStringLiteral("-o"), QStringLiteral("comm=")});
        if (!ps.waitForFinished(10000) || ps.exitCode() != 0) {
            out << "ps did not run\n";
            return 1;
        }
        ps.readAllStandardOutput();
        psWall.push_back(double(clock.nsecsElapsed()) / 1e6);
        psCpu.push_back((childrenCpuSeconds() - childBefore) * 1e3);
    }

    for (const auto &sleeper : sleepers)
        sleeper->kill();
    for (const auto &sleeper : sleepers)
        sleeper->waitForFinished(2000);

    const double countMs = median(countWall);
    const double countCpuMs = median(countCpu);
    const double psMs = median(psWall);
    const double psCpuMs = median(psCpu);
    out.setRealNumberPrecision(3);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out << "processes running:              " << processes << "\n"
        << "browsers found:                 " << found << "\n"
        << "countOtherBrowsers(): " << countMs << " ms wall, " << countCpuMs
        << " ms CPU per call (median of " << rounds << " x " << callsPerRound << ")\n"
        << "ps -e -o comm=:                 " << psMs << " ms wall, " << psCpuMs
        << " ms CPU per run (median of " << rounds << ")\n"
        << "ratio count / ps (wall):        " << countMs / psMs << " (target <= 0.2)\n"
        << "CPU share at one call a second: " << countCpuMs / 10.0 << " %\n";
    return 0;
}
