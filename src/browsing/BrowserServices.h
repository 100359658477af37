#pragma once

#include <QString>
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
    QString procRoot = QStringLiteral("/proc"); // where running programs are listed

    QString executableFolder;
    QString defaultAppFolder;
    QString commandLine; // the text after the program's name
};
