#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class BrowserViewFactory;
class Clock;
class Dialogs;
class ParentsWindows;
class PortalTransport;
class ProgramLauncher;
class UrlOpener;

// Everything the windows take from outside, made once in main and scripted by
// tests: the clock, the dialogs, the launcher, the portal's transport, the
// browser views, the parents' windows, the window closer, the process root
// and where the program runs from.
struct BrowserServices {
    Clock *clock = nullptr;
    Dialogs *dialogs = nullptr;
    ProgramLauncher *launcher = nullptr;
    PortalTransport *transport = nullptr;
    BrowserViewFactory *views = nullptr;
    ParentsWindows *parents = nullptr;
    UrlOpener *opener = nullptr;
    std::function<void(const QString &title)> closeWindowByTitle;
    // Several titles, each as closeWindowByTitle does, in one search of other
    // programs' windows. When unset, closeWindowByTitle is asked for each.
    std::function<void(const QStringList &titles)> closeWindowsByTitle;
    QString procRoot = QStringLiteral("/proc"); // where running programs are listed

    QString executableFolder;
    QString defaultAppFolder;
    QString commandLine; // the text after the program's name

    void closeWindows(const QStringList &titles) const
    {
        if (closeWindowsByTitle) {
            closeWindowsByTitle(titles);
        } else if (closeWindowByTitle) {
            for (const QString &title : titles)
                closeWindowByTitle(title);
        }
    }
};
