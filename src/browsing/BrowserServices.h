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
    // Closes our own and other programs' top-level windows by title (whole,
    // case ignored), all titles in one search of other programs' windows.
    std::function<void(const QStringList &titles)> closeWindowsByTitle;
    QString procRoot = QStringLiteral("/proc"); // where running programs are listed

    QString executableFolder;
    QString defaultAppFolder;
    QString commandLine; // the text after the program's name
    QString systemConfigFile; // the system-wide tadpole.conf; empty: none

    void closeWindows(const QStringList &titles) const
    {
        if (closeWindowsByTitle)
            closeWindowsByTitle(titles);
    }
};
