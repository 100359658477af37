// A face selection to its menu page's load finished, against the local portal
// with the demo family: the browser in-process, its real transport, web view
// and launcher (the terminate helper is started at every selection, as in
// use). Faces are selected in turn 1, 2, 3, 4, 1, ... so every selection
// loads another page. Prints each time and the median in milliseconds.
//
//   QT_QPA_PLATFORM=offscreen bench_faceselect [SELECTIONS]   (default 21)

#include "E2eSupport.h"

#include "app/ProgramServices.h"
#include "browsing/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

// A message box would wait for a click nobody gives; say it and go on.
class PrintedDialogs : public Dialogs {
public:
    void message(const QString &text, const QString &title) override
    {
        std::fprintf(stderr, "message (%s): %s\n", qPrintable(title), qPrintable(text));
    }
    Answer askYesNo(const QString &, const QString &, Answer) override { return Answer::No; }
    QString input(const QString &, const QString &, const QString &) override { return {}; }
};

} // namespace

int main(int argc, char *argv[])
{
    // The engine ends a root process without a sandbox switch at once, past the
    // destructor that stops the portal.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    const int selections = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 21;

    PortalProcess portal;
    if (!portal.startFresh()) {
        std::fprintf(stderr, "the portal did not start\n");
        return 1;
    }
    ProgramFolder folder(portal.host());

    PrintedDialogs dialogs;
    ProgramServices outside;
    QString programFolder = folder.path();
    programFolder.chop(1);
    MainWindow browser(outside.services(programFolder, programFolder, QStringLiteral("1"), &dialogs));
    BrowserView *view = browser.view();
    QString awaited = QStringLiteral("tad_menu.asp?t=1&");
    bool loaded = false;
    QEventLoop waiting;
    QObject::connect(view, &BrowserView::loadFinished, &app, [&](bool ok) {
        if (ok && view->currentUrl().toString().contains(awaited)) {
            loaded = true;
            waiting.quit();
        }
    });
    if (!e2e::waitFor([&] { return browser.startupFinished() && loaded; }, 60000)) {
        std::fprintf(stderr, "start-up did not show child 1's menu\n");
        return 1;
    }

    std::vector<double> ms;
    for (int n = 1; n <= selections; ++n) {
        const qint16 face = qint16(n % 4);
        awaited = QStringLiteral("tad_menu.asp?t=%1&").arg(face + 1);
        loaded = false;
        QElapsedTimer timer;
        timer.start();
        browser.selectChild(face);
        // Woken by the load-finished handler; a spinning wait would take a
        // core from the web engine on a small machine.
        if (!loaded) {
            QTimer::singleShot(30000, &waiting, &QEventLoop::quit);
            waiting.exec();
        }
        if (!loaded) {
            std::fprintf(stderr, "face %d: the menu did not load\n", face + 1);
            return 1;
        }
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        std::printf("face %d: %.1f ms\n", face + 1, ms.back());
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("face selection to menu loaded, %d selections: median %.1f ms, min %.1f ms, max %.1f ms\n",
                selections, sorted[sorted.size() / 2], sorted.front(), sorted.back());
    return 0;
}
