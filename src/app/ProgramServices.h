#pragma once

#include "browserview/WebEngineBrowserView.h"
#include "browsing/BrowserServices.h"
#include "browsing/QtDialogs.h"
#include "parents/ParentsContext.h"
#include "shell/HttpTransport.h"
#include "shell/Services.h"
#include "system/ProgramLauncher.h"
#include "system/WindowCloser.h"

// The real outside world of the program: the system clock, Qt's dialogs, the
// detached launcher, the HTTP transport and QtWebEngine views. Made once,
// after the QApplication.
class ProgramServices {
public:
    // `dialogs` replaces Qt's boxes (a benchmark answers them itself).
    BrowserServices services(const QString &executableFolder, const QString &defaultAppFolder,
                             const QString &commandLine, Dialogs *dialogs = nullptr)
    {
        BrowserServices s;
        s.clock = &m_clock;
        s.dialogs = dialogs ? dialogs : &m_dialogs;
        s.launcher = &m_launcher;
        s.transport = &m_transport;
        s.views = &m_views;
        s.parents = &m_parents;
        s.closeWindowsByTitle = [](const QStringList &titles) { CloseWindowsByTitle(titles); };
        s.executableFolder = executableFolder;
        s.defaultAppFolder = defaultAppFolder;
        s.commandLine = commandLine;
        s.systemConfigFile = QStringLiteral(TADPOLE_SYSTEM_CONFIG);
        return s;
    }

private:
    SystemClock m_clock;
    QtDialogs m_dialogs;
    DetachedLauncher m_launcher;
    HttpTransport m_transport;
    WebEngineBrowserViewFactory m_views;
    ModalParentsWindows m_parents;
};
