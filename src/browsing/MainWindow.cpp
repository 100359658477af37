#include "browsing/MainWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/ClickableLabel.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "browsing/ShortcutGuard.h"
#include "browsing/WindowLock.h"
#include "filter/FilterAddress.h"
#include "filter/UnblockedFile.h"
#include "browsing/PopupWindow.h"
#include "shell/Startup.h"
#include "shell/PortalClient.h"
#include "shell/Services.h"
#include "shell/StartupPaths.h"
#include "system/ProcessList.h"
#include "system/ProgramLauncher.h"

#include <QApplication>
#include <QSessionManager>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

namespace {

const QString ProgramTitle = QStringLiteral("Tadpole");
using WindowMetrics::ButtonSize;
using WindowMetrics::LineHeight;

void reportOnStderr(const QString &text)
{
    std::fprintf(stderr, "tadpole: %s\n", qPrintable(text));
}

} // namespace

MainWindow::MainWindow(const BrowserServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services)
{
    setWindowTitle(ProgramTitle);
    buildControls();
    qApp->installEventFilter(new ShortcutGuard(this));
    m_lock = new WindowLock(this, [this] { return m_parentsAreaOpen; });
    // Requests that slip past the views' navigation events (a service worker's,
    // say) meet the same allow test.
    m_services.views->setFrameRequestFilter([window = QPointer<MainWindow>(this)](const QUrl &url) {
        return window && (!window->m_filter || window->m_filter->allowFrameRequest(url));
    });
    QTimer::singleShot(0, this, &MainWindow::runStartup);
}

MainWindow::~MainWindow()
{
    m_services.views->setFrameRequestFilter({});
    for (const QPointer<PopupWindow> &popup : std::as_const(m_popups))
        delete popup.data();
}

void MainWindow::buildControls()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    m_toolbar = new QWidget(central);
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setStyleSheet(QStringLiteral("#toolbar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                                            "stop:0 #bfe8c6, stop:1 #7cc98a); }"));

    m_backButton = makePictureButton(central, QStringLiteral(":/images/back.svg"), QStringLiteral("Browse Back"));
    m_forwardButton = makePictureButton(central, QStringLiteral(":/images/forward.svg"), QStringLiteral("Browse Forward"));
    m_reloadButton = makePictureButton(central, QStringLiteral(":/images/refresh.svg"), QStringLiteral("Refresh Page"));
    m_helpButton = makePictureButton(central, QStringLiteral(":/images/help.svg"), QStringLiteral("Tadpole Help"));
    m_parentsButton = makePictureButton(central, QStringLiteral(":/images/parents.svg"), QStringLiteral("Open the Parents Window"));
    m_stopButton = makePictureButton(central, QStringLiteral(":/images/stop.svg"), QStringLiteral("Exit Tadpole"));
    m_radioButton = makePictureButton(central, QStringLiteral(":/images/radio_off.svg"), QStringLiteral("Turn on/off the radio"));
    m_mailButton = makePictureButton(central, QStringLiteral(":/images/mail.svg"), QStringLiteral("Use Ripple R-mail"));
    m_donateButton = makePictureButton(central, QStringLiteral(":/images/donate.svg"),
                          QStringLiteral("Help to support Tadpole with your donation."));
    for (const auto &[control, name] : {std::pair{m_backButton, "backButton"}, {m_forwardButton, "forwardButton"}, {m_reloadButton, "reloadButton"},
                                        {m_helpButton, "helpButton"}, {m_parentsButton, "parentsButton"}, {m_stopButton, "stopButton"},
                                        {m_radioButton, "radioButton"}, {m_mailButton, "mailButton"}, {m_donateButton, "donateButton"}})
        control->setObjectName(QLatin1String(name));
    m_backButton->move(6, 4);
    m_forwardButton->move(50, 4);
    m_reloadButton->move(94, 4);
    m_helpButton->move(138, 4);

    m_faceHighlight = new QFrame(central);
    m_faceHighlight->setStyleSheet(QStringLiteral("background: #ffd23f; border-radius: 6px;"));
    m_faceHighlight->resize(ButtonSize + 4, ButtonSize + 4);
    for (int i = 0; i < 4; ++i) {
        m_faceButtons[i] = makePictureButton(central, QStringLiteral(":/images/face%1.svg").arg(i + 1), QString());
        m_faceButtons[i]->setObjectName(QStringLiteral("faceButton%1").arg(i));
        m_faceButtons[i]->move(200 + i * 50, 4);
        connect(m_faceButtons[i], &QToolButton::clicked, this, [this, i] { selectChild(qint16(i)); });
    }
    m_faceHighlight->move(m_faceButtons[0]->x() - 2, m_faceButtons[0]->y() - 2);
    m_faceHighlight->lower();
    m_toolbar->lower();

    m_progressBar = new QProgressBar(central);
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();

    m_view = m_services.views->create(central);

    m_messageLine = new ClickableLabel(central);
    m_messageLine->setObjectName(QStringLiteral("messageLine"));
    m_messageLine->setToolTip(QStringLiteral("Click Here for More Information"));
    m_statusLine = new ClickableLabel(QStringLiteral("Ready"), central);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_versionLine = new QLabel(central);
    // The version text shares the status line's place; clicks go through it to the status line.
    m_versionLine->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_versionLine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_siteLine = new QLabel(QStringLiteral("Ready"), central);
    m_siteLine->setIndent(16); // apart from the version text that ends where it begins
    for (QLabel *line : {static_cast<QLabel *>(m_messageLine), static_cast<QLabel *>(m_statusLine), m_versionLine, m_siteLine})
        line->setFixedHeight(LineHeight);
    m_statusLine->setCursor(Qt::PointingHandCursor);

    connect(m_backButton, &QToolButton::clicked, this, &MainWindow::goBack);
    connect(m_forwardButton, &QToolButton::clicked, this, &MainWindow::goForward);
    connect(m_reloadButton, &QToolButton::clicked, this, &MainWindow::reload);
    connect(m_parentsButton, &QToolButton::clicked, this, &MainWindow::openParentsArea);
    connect(m_stopButton, &QToolButton::clicked, this, &MainWindow::onStopClicked);
    connect(m_radioButton, &QToolButton::clicked, this, &MainWindow::toggleRadio);
    connect(m_helpButton, &QToolButton::clicked, this, &MainWindow::openHelp);
    connect(m_mailButton, &QToolButton::clicked, this, &MainWindow::openMail);
    connect(m_donateButton, &QToolButton::clicked, this, &MainWindow::openDonation);
    connect(m_messageLine, &ClickableLabel::clicked, this, &MainWindow::onMessageLineClicked);
    connect(m_statusLine, &ClickableLabel::clicked, this, &MainWindow::onStatusLineClicked);
    connect(&m_tickTimer, &QTimer::timeout, this, &MainWindow::tick);
    // The desktop's log-out asks too: it is one more way of closing.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (!m_startupFinished || m_stopGranted)
            return;
        onStopClicked();
        if (!m_stopGranted)
            manager.cancel();
    });

    connect(m_view, &BrowserView::navigationRequested, this, &MainWindow::onNavigationRequested);
    connect(m_view, &BrowserView::documentLoaded, this, &MainWindow::onDocumentLoaded);
    connect(m_view, &BrowserView::newWindowRequested, this, &MainWindow::onNewWindowRequested);
    connect(m_view, &BrowserView::loadProgress, this, &MainWindow::showLoadProgress);
}

void MainWindow::pumpEvents()
{
    QCoreApplication::processEvents();
}

void MainWindow::runStartup()
{
    for (QWidget *button : {m_backButton, m_forwardButton, m_reloadButton, m_parentsButton, m_stopButton, m_radioButton,
                            m_helpButton, m_mailButton, m_donateButton}) {
        button->setCursor(Qt::PointingHandCursor);
    }
    m_startup = std::make_unique<Startup>(
        Startup::Inputs{.clock = m_services.clock, .transport = m_services.transport,
                        .executableFolder = m_services.executableFolder,
                        .defaultAppFolder = m_services.defaultAppFolder, .commandLine = m_services.commandLine},
        m_state, static_cast<StartupWindow &>(*this));
    if (!m_startup->run())
        return;
    m_messageLine->clear();
    pumpEvents();
    m_startupFinished = true;
}

void MainWindow::useConfig(const AppConfig &config, const QString &terminateProgram)
{
    m_config = config;
    m_terminateProgram = terminateProgram;
    m_filter = std::make_unique<NavigationFilter>(
        m_state,
        NavigationFilter::Rules{.dynamicHost = {m_config.dyndnsLabel, m_config.dyndnsDomain},
                                .specialSites = {m_config.popupToymaker, m_config.popupPreschool},
                                .exemptPage = radioPage()},
        [this](const QString &text) { setStatusLine(text); });
}

void MainWindow::cannotConnect()
{
    m_services.dialogs->message(
        QStringLiteral("You cannot connect to the Tadpole Web Portal.  Check your internet connection."), ProgramTitle);
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
    connect(m_view, &BrowserView::loadFinished, &m_startPageShown, [this] {
        m_startPageDone = true;
        m_startPageShown.quit();
    }, Qt::SingleShotConnection);
    m_view->navigate(address);
}

void MainWindow::showWindow(const QString &versionLine, const QString &title)
{
    m_versionLine->setText(versionLine);
    layoutForScreen();
    setWindowTitle(title);
}

void MainWindow::waitForStartPage()
{
    // The view loads in the background; the wait is bounded, so a portal that
    // never finishes its start page does not hold the child's menu back.
    if (m_startPageDone)
        return;
    QTimer::singleShot(StartPageWaitMs, &m_startPageShown, &QEventLoop::quit);
    m_startPageShown.exec(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::showChildren(const QStringList &names)
{
    layoutBrowserView();
    for (int i = 0; i < 4; ++i) {
        m_faceButtons[i]->setToolTip(names.value(i) + QStringLiteral("'s Menu"));
        m_faceButtons[i]->setCursor(Qt::PointingHandCursor);
    }
}

void MainWindow::startWatchdog()
{
    m_watchdog = std::make_unique<Watchdog>(Watchdog::Outside{
        .clock = m_services.clock,
        .countOtherBrowsers =
            [processes = ProcessList(m_services.procRoot, m_config.browserNames)] {
                return processes.CountProcesses(ProcessList::otherBrowsersName());
            },
        .closeWindowsByTitle = [this](const QStringList &titles) { m_services.closeWindows(titles); },
        .popupOpen = [this] { return popupWindowOpen(); },
        .startTerminate = [this] { startTerminate(); },
    });
    m_tickTimer.setInterval(1000);
    m_tickTimer.start();
}

void MainWindow::openMenu(int child)
{
    m_filter->setPortal(m_state.portalBase, m_state.userId);
    selectChild(qint16(child));
}

void MainWindow::layoutForScreen()
{
    // Without a window manager a maximized window keeps its small size, so it
    // is given the screen's area first.
    if (screen())
        setGeometry(screen()->availableGeometry());
    m_lock->apply(lockedByParent());
    m_laidOut = true;
    placeControls();
}

void MainWindow::placeControls()
{
    const int W = width();
    const int H = height();
    m_statusLine->setGeometry(0, H - LineHeight, int(0.75 * W), LineHeight);
    m_versionLine->setGeometry(m_statusLine->geometry());
    m_toolbar->setGeometry(0, 0, W, int(1.3 * ButtonSize));
    m_siteLine->setGeometry(m_statusLine->x() + m_statusLine->width(), m_statusLine->y(), int(0.25 * W), LineHeight);
    m_messageLine->setGeometry(0, m_statusLine->y() - LineHeight, W, LineHeight);
    m_stopButton->move(W - m_stopButton->width() - 4, m_backButton->y());
    m_parentsButton->move(W - m_parentsButton->width() - m_stopButton->width() - 6, m_backButton->y());
    m_radioButton->move(m_parentsButton->x() - (m_radioButton->width() + 2), m_backButton->y());
    m_mailButton->move(m_radioButton->x() - (m_mailButton->width() + 2), m_backButton->y());
    m_donateButton->move(m_mailButton->x() - (m_donateButton->width() + 2), m_backButton->y());
    QToolButton *lastFace = m_faceButtons[3];
    m_progressBar->setGeometry(lastFace->x() + lastFace->width() + 8, lastFace->y() + lastFace->height() / 3, 120,
                                lastFace->height() / 3);
}

void MainWindow::layoutBrowserView()
{
    const int top = int(1.3 * m_backButton->height());
    const int screenHeight = screen() ? screen()->size().height() : height();
    // Room for the toolbar above and the two lines below; on small screens the
    // proportion alone would let the view cover the lines.
    const int room = std::max(int(0.12 * screenHeight), top + 2 * LineHeight);
    m_view->widget()->setGeometry(0, top, width(), std::max(0, height() - room));
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!m_laidOut)
        return;
    pumpEvents();
    placeControls();
    layoutBrowserView();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window manager's close box, Alt+F4: the STOP command decides, or a
    // disabled STOP button would be one key away from meaning nothing. While
    // start-up runs there is no STOP command yet, and the request is let go.
    if (!m_stopGranted) {
        event->ignore();
        if (m_startupFinished)
            QMetaObject::invokeMethod(this, &MainWindow::onStopClicked, Qt::QueuedConnection);
        return;
    }
    // Pop-ups go with the main window: a hidden one must not keep the program
    // running without a window the child can see.
    for (const QPointer<PopupWindow> &popup : std::as_const(m_popups)) {
        if (popup)
            popup->close();
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && m_startupFinished)
        QCoreApplication::quit();
}

void MainWindow::selectChild(qint16 Index)
{
    m_state.popupsAllowed = false;
    // A helper that exists nowhere was reported once at start-up; a box at
    // every face would only stand in the child's way.
    QString error;
    if (!m_terminateProgram.isEmpty() && !m_services.launcher->start(m_terminateProgram, &error))
        m_services.dialogs->message(error, QStringLiteral("Error"));
    m_services.closeWindows({PopupWindow::Caption});
    pumpEvents();

    if (Index < 0 || Index > 3) {
        m_services.dialogs->message(QStringLiteral("Subscript out of range"), QStringLiteral("Error"));
        return;
    }
    m_state.currentFace = Index;
    m_view->navigate(m_startup->portal().menuAddress(Index));
    m_faceHighlight->move(m_faceButtons[m_state.currentFace]->x() - 2, m_faceHighlight->y());
}

void MainWindow::onNavigationRequested(NavigationRequest &request)
{
    if (m_filter && !m_filter->allowNavigation(request))
        request.cancel = true;
}

void MainWindow::onDocumentLoaded(const QUrl &url, bool mainFrame)
{
    if (m_filter)
        m_siteLine->setText(m_filter->pageLoaded(url, mainFrame));
}

void MainWindow::onNewWindowRequested(NewWindowRequest &request)
{
    // Even while the special sites allow pop-ups the window is one of ours:
    // a window outside the filter would be a hole in it.
    PopupWindow *popup = openPopup();
    request.newWindow = popup->view();
}

PopupWindow *MainWindow::openPopup()
{
    m_versionLine->clear();
    auto *popup = new PopupWindow(*m_filter, m_services, m_state.popupsAllowed, geometry(), [this] { return openPopup(); });
    if (m_lock->locked())
        m_lock->adopt(popup);
    m_popups.removeAll(nullptr);
    m_popups.append(popup);
    return popup;
}

QList<PopupWindow *> MainWindow::popups() const
{
    QList<PopupWindow *> open;
    for (const QPointer<PopupWindow> &popup : m_popups) {
        if (popup)
            open << popup.data();
    }
    return open;
}

void MainWindow::showLoadProgress(qint32 progress, qint32 progressMax)
{
    showProgress(m_progressBar, m_progress, progress, progressMax);
    pumpEvents();
}

void MainWindow::onStatusLineClicked()
{
    if (!FilterRules::isBlockedStatus(m_statusLine->text()))
        return;
    // The address the question shows, taken before asking: a page may block
    // another one while the question is open, and that one was never asked about.
    unblock(m_state.blockedUrl);
}

void MainWindow::unblock(QString address)
{
    const QString entry = m_filter->siteOf(QUrl(address));
    if (!m_state.allowList.acceptable(entry)) {
        m_services.dialogs->message(QStringLiteral("This address cannot be unblocked."), ProgramTitle);
        return;
    }
    // With a password set, unblocking is the parent's to do: a child could
    // otherwise answer the question alone. No is then the default, so keys
    // pressed at random never unblock.
    const bool guarded = !m_state.settings.Password.isEmpty();
    if (guarded) {
        if (!m_services.parents)
            return;
        if (!m_services.parents->showGate(parentsContext()))
            return;
    }
    if (m_services.dialogs->askYesNo(QStringLiteral("Unblock: ") + FilterAddress::forQuestion(address),
                                     QStringLiteral("Allow Access"), guarded ? Dialogs::Answer::No : Dialogs::Answer::Yes)
        != Dialogs::Answer::Yes) {
        return;
    }
    m_state.allowList.unblock(entry);
    m_view->navigate(address);
    QString error;
    if (!UnblockedFile::write(m_state.appFolder + QStringLiteral("unblocked.tad"), m_state.allowList.text(), &error)) {
        m_services.dialogs->message(
            QStringLiteral("The site is allowed until Tadpole closes, but it could not be saved: ") + error,
            ProgramTitle);
    }
}

void MainWindow::goBack()
{
    m_view->back();
}

void MainWindow::goForward()
{
    m_view->forward();
}

void MainWindow::reload()
{
    m_view->reload();
}

void MainWindow::startTerminate()
{
    QString error;
    if (!m_terminateProgram.isEmpty() && !m_services.launcher->start(m_terminateProgram, &error))
        reportOnStderr(error);
}

ParentsContext MainWindow::parentsContext()
{
    return ParentsContext{.state = &m_state, .dialogs = m_services.dialogs, .transport = m_services.transport,
                          .views = m_services.views, .opener = m_services.opener, .clock = m_services.clock,
                          .main = this, .windows = m_services.parents};
}

void MainWindow::openParentsArea()
{
    startTerminate();
    disableFaces();
    if (m_services.parents) {
        const ParentsContext context = parentsContext();
        const bool guarded = !m_state.settings.Password.isEmpty();
        if (!guarded || m_services.parents->showGate(context)) {
            m_parentsAreaOpen = true;
            m_services.parents->showSiteSelection(context);
            m_parentsAreaOpen = false;
            // The preferences may have locked or freed the STOP button.
            m_lock->apply(lockedByParent());
        }
    }
    enableFaces();
    selectChild(m_state.currentFace);
}

void MainWindow::onStopClicked()
{
    startTerminate();
    if (m_state.settings.StopDisabled != QLatin1String("1")) {
        closeMainWindow();
        return;
    }
    if (m_services.parents && m_services.parents->showGate(parentsContext()))
        closeMainWindow();
}

bool MainWindow::lockedByParent() const
{
    return m_state.settings.StopDisabled == QLatin1String("1");
}

void MainWindow::closeMainWindow()
{
    m_stopGranted = true;
    close();
}

QString MainWindow::radioPage() const
{
    return QStringLiteral("http://") + m_config.portalPublic + QStringLiteral("/tad/radiodis.htm");
}

BrowserView *MainWindow::ensureRadioView()
{
    // Made on the first switch-on: most runs never play the radio, and a
    // second web view costs start-up time.
    if (!m_radioView) {
        m_radioView = m_services.views->create(centralWidget());
        m_radioView->widget()->setGeometry(0, 0, 1, 1); // the player is never seen
        m_radioView->widget()->lower();
        connect(m_radioView, &BrowserView::loadProgress, this, &MainWindow::showLoadProgress);
    }
    return m_radioView;
}

void MainWindow::toggleRadio()
{
    // The radio page has no title, so the view's address tells whether it plays.
    if (!m_radioView || m_radioView->currentUrl() != QUrl(radioPage())) {
        m_radioButton->setIcon(QIcon(QStringLiteral(":/images/radio_on.svg")));
        pumpEvents();
        ensureRadioView()->navigate(radioPage());
        m_services.dialogs->message(QStringLiteral("Radio PIP is ON and will start playing in a moment!"), ProgramTitle);
        unsetCursor();
    } else {
        m_radioButton->setIcon(QIcon(QStringLiteral(":/images/radio_off.svg")));
        m_radioView->navigate(QStringLiteral("about:blank"));
    }
}

void MainWindow::openHelp()
{
    m_view->navigate(QStringLiteral("http://www.") + m_config.productSite + QStringLiteral("/"));
}

void MainWindow::openMail()
{
    m_view->navigate(QStringLiteral("http://") + m_config.productSite + QStringLiteral("/mail/mail.asp"));
}

void MainWindow::openDonation()
{
    m_view->navigate(QStringLiteral("http://www.") + m_config.productSite + QStringLiteral("/donate.htm"));
}

void MainWindow::onMessageLineClicked()
{
    m_view->navigate(QStringLiteral("http://") + m_config.portalPublic + QStringLiteral("/tad/tadpole.asp?userid=")
                            + m_state.userId);
}

void MainWindow::disableFaces()
{
    setFacesEnabled(false);
}

void MainWindow::enableFaces()
{
    setFacesEnabled(!m_timedOut);
}

void MainWindow::setFacesEnabled(bool enabled)
{
    for (QToolButton *face : m_faceButtons)
        face->setEnabled(enabled);
}

bool MainWindow::popupWindowOpen() const
{
    // As the desktop's window search would: our pop-ups by title, hidden ones too.
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *w) {
        return w->windowTitle().compare(PopupWindow::Caption, Qt::CaseInsensitive) == 0;
    });
}

void MainWindow::tick()
{
    const Watchdog::TimeCheck time = m_watchdog->checkTime(m_state.settings);
    if (time.countdown)
        m_messageLine->setText(*time.countdown);
    if (time.ranOut) {
        m_tickTimer.stop();
        m_services.dialogs->message(QStringLiteral("Time Ran Out"), ProgramTitle);
        onStopClicked();
        // Still here: STOP is disabled and the gate was refused. The child
        // does not browse on without a limit.
        if (!m_stopGranted)
            setTimedOut(true);
        return;
    }
    pumpEvents();
    const bool popupOpen = m_watchdog->sweep();
    for (QToolButton *button : {m_backButton, m_forwardButton, m_reloadButton, m_parentsButton})
        button->setEnabled(!popupOpen && !m_timedOut);
    m_stopButton->setEnabled(true);
}

void MainWindow::setTimedOut(bool timedOut)
{
    m_timedOut = timedOut;
    m_view->widget()->setEnabled(!timedOut);
    setFacesEnabled(!timedOut);
    for (QWidget *control : std::initializer_list<QWidget *>{m_backButton, m_forwardButton, m_reloadButton, m_helpButton, m_mailButton,
                                                             m_donateButton, m_messageLine})
        control->setEnabled(!timedOut);
    if (timedOut)
        m_messageLine->setText(QStringLiteral("Time Ran Out"));
}

void MainWindow::gatePassed()
{
    if (m_timedOut) {
        setTimedOut(false);
        m_messageLine->clear();
    }
    if (m_watchdog)
        m_tickTimer.start();
}

void MainWindow::setFaceToolTip(int index, const QString &text)
{
    if (index >= 0 && index < int(m_faceButtons.size()))
        m_faceButtons[index]->setToolTip(text);
}

void MainWindow::clearMessageLine()
{
    m_messageLine->clear();
}

QString MainWindow::childPageTitle() const
{
    return m_view->title();
}

void MainWindow::setStatusLine(const QString &text)
{
    // The version line shares the status line's place and gives way to a block.
    if (FilterRules::isBlockedStatus(text))
        m_versionLine->clear();
    m_statusLine->setText(text);
}

void MainWindow::clearVersionLine()
{
    m_versionLine->clear();
}

QString MainWindow::statusLineText() const { return m_statusLine->text(); }
QString MainWindow::versionLineText() const { return m_versionLine->text(); }
QString MainWindow::messageLineText() const { return m_messageLine->text(); }
QString MainWindow::siteLineText() const { return m_siteLine->text(); }
QString MainWindow::faceToolTip(int index) const { return m_faceButtons.at(index)->toolTip(); }
int MainWindow::faceLeft(int index) const { return m_faceButtons.at(index)->x(); }
int MainWindow::highlightLeft() const { return m_faceHighlight->x(); }
