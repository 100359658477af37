#pragma once

#include "shell/AppConfig.h"
#include "shell/PortalClient.h"

#include <QString>
#include <QStringList>
#include <memory>

class Clock;
class PortalTransport;
struct ProgramState;

// What start-up asks of the window it starts; the main window answers.
class StartupWindow {
public:
    virtual ~StartupWindow() = default;
    // The configuration is read: the window prepares what depends on it.
    virtual void useConfig(const AppConfig &config, const QString &terminateProgram) = 0;
    // Start-up cannot go on: the window shows why and the program ends.
    virtual void cannotStart(const QString &message) = 0;
    // A progress text on the message line; pending events run.
    virtual void showMessage(const QString &text) = 0;
    virtual void showStartPage(const QString &address) = 0;
    // Shown at the screen's size, with the version line and the title.
    virtual void showWindow(const QString &versionLine, const QString &title) = 0;
    // Wait, within one bound, until the portal has answered the start page's
    // request, and until the page has loaded.
    virtual void waitForStartPageAnswer() = 0;
    virtual void waitForStartPage() = 0;
    virtual void showChildren(const QStringList &names) = 0;
    virtual void startWatchdog() = 0;
    virtual void openMenu(int child) = 0;
};

// The program's start-up, step by step: the program folder, the configuration,
// the portal in use, the settings, the allow list, the portal's answer, the
// start page, the installation's id, the log-on, the children's names, the
// watchdog, child 1's menu, and only then the filter. The log-on's requests
// run while the web engine loads the start page.
class Startup {
public:
    struct Inputs {
        Clock *clock = nullptr;
        PortalTransport *transport = nullptr;
        QString executableFolder;
        QString defaultAppFolder;
        QString commandLine;
        QString systemConfigFile; // read before the program folder's; empty: none
    };

    Startup(Inputs inputs, ProgramState &state, StartupWindow &window);

    // False when start-up could not go on, as when the portal did not answer (the window was told).
    bool run();

    PortalClient &portal() { return *m_portal; }

private:
    void readFiles();
    // The configuration files in the order they are read.
    QStringList configFiles() const;
    QString configurationSays() const;

    Inputs m_inputs;
    ProgramState &m_state;
    StartupWindow &m_window;
    AppConfig m_config;
    std::unique_ptr<PortalClient> m_portal;
};
