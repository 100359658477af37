// What start-up asks of the main window.
#include "browsing/MainWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/ClickableLabel.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "browsing/ShortcutGuard.h"
#include "browsing/StartupInputGuard.h"
#include "browsing/WindowLock.h"
#include "filter/FilterAddress.h"
#include "filter/UnblockedFile.h"
#include "browsing/PopupWindow.h"
#include "shell/FixedPages.h"
#include "shell/LocalTextFile.h"
#include "shell/Startup.h"
#include "shell/PortalClient.h"
#include "shell/Services.h"
#include "shell/StartupPaths.h"
#include "system/ProcessList.h"
#include "system/ProgramLauncher.h"

#include <QApplication>
#include <QSessionManager>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

namespace {

const QString ProgramTitle = QStringLiteral("Tadpole");
const QString ParentsHint =
    QStringLiteral("Grown-ups: the parents' button at the top right, beside STOP, chooses each child's sites.");
// Its presence in the program folder: the parents' area has been opened once.
const QString ParentsSeenFile = QStringLiteral("parents.seen");
using WindowMetrics::ButtonSize;
using WindowMetrics::LineHeight;

} // namespace

void MainWindow::runStartup()
{
    for (QWidget *button : {m_backButton, m_forwardButton, m_reloadButton, m_parentsButton, m_stopButton, m_radioButton,
                            m_helpButton, m_mailButton, m_donateButton}) {
        button->setCursor(Qt::PointingHandCursor);
    }
    const StartupInputGuard noInputYet(this); // until the last held-back input below is dropped
    m_startup = std::make_unique<Startup>(
        Startup::Inputs{.clock = m_services.clock, .transport = m_services.transport,
                        .executableFolder = m_services.executableFolder,
                        .defaultAppFolder = m_services.defaultAppFolder, .commandLine = m_services.commandLine,
                        .systemConfigFile = m_services.systemConfigFile},
        m_state, static_cast<StartupWindow &>(*this));
    if (!m_startup->run())
        return;
    // "Time Ran Out" when the child starts outside the allowed hours.
    m_messageLine->setText(m_timedOut ? QStringLiteral("Time Ran Out") : parentsHint());
    pumpEvents();
    m_startupFinished = true;
}

QString MainWindow::parentsHint() const
{
    return QFileInfo::exists(m_state.appFolder + ParentsSeenFile) ? QString() : ParentsHint;
}

void MainWindow::rememberParentsAreaOpened()
{
    if (m_messageLine->text() == ParentsHint)
        m_messageLine->clear();
    QString error;
    if (!parentsHint().isEmpty() && !LocalTextFile::writeLines(m_state.appFolder + ParentsSeenFile, {}, &error))
        std::fprintf(stderr, "tadpole: %s: %s\n", qPrintable(ParentsSeenFile), qPrintable(error));
}

void MainWindow::useConfig(const AppConfig &config, const QString &terminateProgram)
{
    m_config = config;
    m_terminateProgram = terminateProgram;
    m_filter = std::make_unique<NavigationFilter>(
        m_state,
        NavigationFilter::Rules{.dynamicHost = {m_config.dyndnsLabel, m_config.dyndnsDomain},
                                .specialSites = {m_config.popupToymaker, m_config.popupPreschool},
                                .exemptPage = radioPage(),
                                .ownPage = FixedPages::help()},
        [this](const QString &text) { setStatusLine(text); });
    m_filter->setBlockedRecorder([this](const QString &address) { recordBlocked(address); });
}

void MainWindow::recordBlocked(const QString &address)
{
    if (!m_journal)
        m_journal.emplace(m_state.appFolder + QStringLiteral("blocked.log"));
    QString error;
    // A journal that cannot be written is no reason to stop the child's browsing.
    if (!m_journal->record({m_services.clock->now(), m_state.faceNames.value(m_state.currentFace), address}, &error))
        std::fprintf(stderr, "tadpole: blocked.log: %s\n", qPrintable(error));
}

void MainWindow::cannotStart(const QString &message)
{
    m_services.dialogs->message(message, ProgramTitle);
    closeMainWindow();
    QCoreApplication::exit(1);
}

void MainWindow::showMessage(const QString &text)
{
    m_messageLine->setText(text);
    pumpEvents();
}

void MainWindow::showStartPage(const QString &address)
{
    m_startPage = StartPage::Asked;
    m_startPageDeadline.setRemainingTime(StartPageWaitMs);
    // The view's first address is the start page's, or where the portal sent
    // it on: either way the portal has answered.
    connect(m_view, &BrowserView::urlChanged, this, [this] { startPageReached(StartPage::Answered); }, Qt::SingleShotConnection);
    connect(m_view, &BrowserView::loadFinished, this, [this] { startPageReached(StartPage::Loaded); }, Qt::SingleShotConnection);
    m_view->navigate(address);
}

void MainWindow::startPageReached(StartPage stage)
{
    m_startPage = std::max(m_startPage, stage);
    m_startPageWait.quit();
}

void MainWindow::showWindow(const QString &versionLine, const QString &title)
{
    m_versionLine->setText(versionLine);
    layoutForScreen();
    setWindowTitle(title);
}

void MainWindow::waitForStartPageTo(StartPage stage)
{
    // The view loads in the background; the wait is bounded, so a portal that
    // never answers or finishes its start page does not hold start-up back.
    while (m_startPage < stage && !m_startPageDeadline.hasExpired()) {
        QTimer::singleShot(m_startPageDeadline.remainingTime(), &m_startPageWait, &QEventLoop::quit);
        if (m_startPageWait.exec(QEventLoop::ExcludeUserInputEvents) < 0)
            break; // the program is quitting: no loop runs any more
    }
}

void MainWindow::waitForStartPageAnswer()
{
    // The portal sees the start page's request before the log-on's; the page
    // then finishes loading while the portal is asked.
    waitForStartPageTo(StartPage::Answered);
}

void MainWindow::waitForStartPage()
{
    // The load's end, not the page's first bytes: the engine dropped a menu
    // asked for between the two in two starts of three.
    waitForStartPageTo(StartPage::Loaded);
}

void MainWindow::showChildren(const QStringList &names)
{
    for (int i = 0; i < 4; ++i) {
        setFaceToolTip(i, names.value(i) + QStringLiteral("'s Menu"));
        m_faceButtons[i]->setCursor(Qt::PointingHandCursor);
    }
}

void MainWindow::startWatchdog()
{
    m_watchdog = std::make_unique<Watchdog>(Watchdog::Outside{
        .clock = m_services.clock,
        .countOtherBrowsers =
            [processes = ProcessList(m_services.procRoot, m_config.browserNames)] {
                return processes.countOtherBrowsers();
            },
        .closeWindowsByTitle = [this](const QStringList &titles) { m_services.closeWindows(titles); },
        .popupOpen = [] { return PopupWindow::anyOpen(); },
        .startTerminate = [this] { startTerminate(); },
        .appFolder = m_state.appFolder,
    });
    if (m_state.settingsReadAt.isValid())
        m_watchdog->watchClockFrom(m_state.settingsReadAt, m_state.settingsReadMonotonicMs);
    m_watchdog->limitSet(m_state.settings);
    m_tickTimer.setInterval(1000);
    m_tickTimer.start();
    // Outside the allowed hours (or with today's allowance spent) the child
    // starts on the "time is up" picture.
    if (m_watchdog->checkTime(m_state.settings).ranOut && lockedByParent())
        setTimedOut(true);
}

void MainWindow::openMenu(int child)
{
    m_filter->setPortal(m_state.portalBase, m_state.userId);
    selectChild(qint16(child));
}
