#pragma once

// For the end-to-end tests and the benchmarks that start the real programs.
#include "../support/PortalProcess.h"
#include "../support/ProgramFolder.h"

#include <QTest>

namespace e2e {

// Polls `condition` every 50 ms while the event loop runs, up to `ms`.
template <typename F>
bool waitFor(F condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace e2e
