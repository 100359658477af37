// Start-up to child 1's menu page loaded, beside a minimal program that only
// opens a web view on the same page. Each run is its own process, so both
// pay for starting the web engine. Prints the milliseconds.
//
//   bench_startup tadpole PROGRAM_FOLDER   (its tadpole.conf points "1" at the portal)
//   bench_startup minimal URL [THEN_URL]   (with THEN_URL: the second page, loaded once
//                                           the first has; the time is to its end)

#include "app/ProgramServices.h"
#include "browsing/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWebEngineView>
#include <cstdio>
#include <utility>

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s tadpole PROGRAM_FOLDER | minimal URL\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    auto finish = [&] {
        std::printf("%s %lld\n", qPrintable(mode), static_cast<long long>(clock.elapsed()));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    };

    if (mode == QLatin1String("minimal")) {
        QWebEngineView view;
        QString then = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
        QObject::connect(&view, &QWebEngineView::loadFinished, &app, [&](bool) {
            if (then.isEmpty())
                return finish();
            view.load(QUrl(std::exchange(then, QString())));
        });
        view.load(QUrl(target));
        view.showMaximized();
        return app.exec();
    }

    ProgramServices outside;
    MainWindow browser(outside.services(target, target, QStringLiteral("1")));
    QObject::connect(browser.view(), &BrowserView::loadFinished, &app, [&](bool) {
        if (browser.view()->currentUrl().toString().contains(QLatin1String("tad_menu.asp")))
            finish();
    });
    return app.exec();
}
