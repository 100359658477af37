#pragma once

// For the end-to-end tests and the benchmarks that start the real programs.
#include "../support/PortalProcess.h"
#include "../support/ProgramFolder.h"

#include <QDeadlineTimer>
#include <QTest>

namespace e2e {

// Polls `condition` every 50 ms while the event loop runs, up to `ms`.
template <typename F>
bool waitFor(F condition, int ms)
{
    for (const QDeadlineTimer deadline(ms); !condition(); QTest::qWait(50))
        if (deadline.hasExpired())
            return false;
    return true;
}

} // namespace e2e
