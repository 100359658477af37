#pragma once

// For the end-to-end tests and the benchmarks that start the real programs.
#include "../support/PortalProcess.h"
#include "../support/ProgramFolder.h"

#include <QTest>
#include <QVariant>
#include <memory>
#include <optional>

namespace e2e {

using ::PortalProcess;
using ::ProgramFolder;

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

// The value of a script run in a web page (a QWebEnginePage), or an invalid
// value when it gives none within ten seconds.
template <typename Page>
QVariant evaluate(Page *page, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>(); // outlives a late answer
    page->runJavaScript(script, [result](const QVariant &value) { *result = value; });
    waitFor([&] { return result->has_value(); }, 10000);
    return result->value_or(QVariant());
}

} // namespace e2e
