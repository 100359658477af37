#include "browsing/frmBrowser.h"

#include "browserview/BrowserView.h"
#include "browsing/ClickableLabel.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "browsing/ShortcutGuard.h"
#include "browsing/WindowLock.h"
#include "filter/FilterAddress.h"
#include "filter/UnblockedFile.h"
#include "browsing/frmBrowser2.h"
#include "shell/Identity.h"
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

frmBrowser::frmBrowser(const BrowserServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services)
{
    setWindowTitle(ProgramTitle);
    buildControls();
    qApp->installEventFilter(new ShortcutGuard(this));
    m_lock = new WindowLock(this, [this] { return m_parentsAreaOpen; });
    // Requests that slip past the views' navigation events (a service worker's,
    // say) meet the same allow test.
    m_services.views->setFrameRequestFilter([window = QPointer<frmBrowser>(this)](const QUrl &url) {
        return window && window->frameRequestAllowed(url);
    });
    QTimer::singleShot(0, this, &frmBrowser::Form_Load);
}

frmBrowser::~frmBrowser()
{
    m_services.views->setFrameRequestFilter({});
    for (const QPointer<frmBrowser2> &popup : std::as_const(m_popups))
        delete popup.data();
}

void frmBrowser::buildControls()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    m_toolbar = new QWidget(central);
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setStyleSheet(QStringLiteral("#toolbar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                                            "stop:0 #bfe8c6, stop:1 #7cc98a); }"));

    m_command1 = makePictureButton(central, QStringLiteral(":/images/back.svg"), QStringLiteral("Browse Back"));
    m_command2 = makePictureButton(central, QStringLiteral(":/images/forward.svg"), QStringLiteral("Browse Forward"));
    m_command4 = makePictureButton(central, QStringLiteral(":/images/refresh.svg"), QStringLiteral("Refresh Page"));
    m_image1 = makePictureButton(central, QStringLiteral(":/images/help.svg"), QStringLiteral("Tadpole Help"));
    m_command5 = makePictureButton(central, QStringLiteral(":/images/parents.svg"), QStringLiteral("Open the Parents Window"));
    m_command6 = makePictureButton(central, QStringLiteral(":/images/stop.svg"), QStringLiteral("Exit Tadpole"));
    m_cmdRadio = makePictureButton(central, QStringLiteral(":/images/radio_off.svg"), QStringLiteral("Turn on/off the radio"));
    m_image2 = makePictureButton(central, QStringLiteral(":/images/mail.svg"), QStringLiteral("Use Ripple R-mail"));
    m_image3 = makePictureButton(central, QStringLiteral(":/images/donate.svg"),
                          QStringLiteral("Help to support Tadpole with your donation."));
    for (const auto &[control, name] : {std::pair{m_command1, "Command1"}, {m_command2, "Command2"}, {m_command4, "Command4"},
                                        {m_image1, "Image1"}, {m_command5, "Command5"}, {m_command6, "Command6"},
                                        {m_cmdRadio, "cmdRadio"}, {m_image2, "Image2"}, {m_image3, "Image3"}})
        control->setObjectName(QLatin1String(name));
    m_command1->move(6, 4);
    m_command2->move(50, 4);
    m_command4->move(94, 4);
    m_image1->move(138, 4);

    m_shape1 = new QFrame(central);
    m_shape1->setStyleSheet(QStringLiteral("background: #ffd23f; border-radius: 6px;"));
    m_shape1->resize(ButtonSize + 4, ButtonSize + 4);
    for (int i = 0; i < 4; ++i) {
        m_btnFace[i] = makePictureButton(central, QStringLiteral(":/images/face%1.svg").arg(i + 1), QString());
        m_btnFace[i]->setObjectName(QStringLiteral("btnFace%1").arg(i));
        m_btnFace[i]->move(200 + i * 50, 4);
        connect(m_btnFace[i], &QToolButton::clicked, this, [this, i] { btnFace_Click(qint16(i)); });
    }
    m_shape1->move(m_btnFace[0]->x() - 2, m_btnFace[0]->y() - 2);
    m_shape1->lower();
    m_toolbar->lower();

    m_progressBar1 = new QProgressBar(central);
    m_progressBar1->setTextVisible(false);
    m_progressBar1->hide();

    m_webBrowser1 = m_services.views->create(central);

    m_tellafriend = new ClickableLabel(central);
    m_tellafriend->setObjectName(QStringLiteral("tellafriend"));
    m_tellafriend->setToolTip(QStringLiteral("Click Here for More Information"));
    m_statbar = new ClickableLabel(QStringLiteral("Ready"), central);
    m_statbar->setObjectName(QStringLiteral("statbar"));
    m_label2 = new QLabel(central);
    // The version text shares the status line's place; clicks go through it to the status line.
    m_label2->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_currentUrl = new QLabel(QStringLiteral("Ready"), central);
    m_currentUrl->setIndent(16); // apart from the version text that ends where it begins
    for (QLabel *line : {static_cast<QLabel *>(m_tellafriend), static_cast<QLabel *>(m_statbar), m_label2, m_currentUrl})
        line->setFixedHeight(LineHeight);
    m_statbar->setCursor(Qt::PointingHandCursor);

    connect(m_command1, &QToolButton::clicked, this, &frmBrowser::Command1_Click);
    connect(m_command2, &QToolButton::clicked, this, &frmBrowser::Command2_Click);
    connect(m_command4, &QToolButton::clicked, this, &frmBrowser::Command4_Click);
    connect(m_command5, &QToolButton::clicked, this, &frmBrowser::Command5_Click);
    connect(m_command6, &QToolButton::clicked, this, &frmBrowser::Command6_Click);
    connect(m_cmdRadio, &QToolButton::clicked, this, &frmBrowser::cmdRadio_Click);
    connect(m_image1, &QToolButton::clicked, this, &frmBrowser::Image1_Click);
    connect(m_image2, &QToolButton::clicked, this, &frmBrowser::Image2_Click);
    connect(m_image3, &QToolButton::clicked, this, &frmBrowser::Image3_Click);
    connect(m_tellafriend, &ClickableLabel::clicked, this, &frmBrowser::tellafriend_Click);
    connect(m_statbar, &ClickableLabel::clicked, this, &frmBrowser::statbar_Click);
    connect(&m_timer1, &QTimer::timeout, this, &frmBrowser::Timer1_Timer);
    // The desktop's log-out asks too: it is one more way of closing.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (!m_startupFinished || m_stopGranted)
            return;
        Command6_Click();
        if (!m_stopGranted)
            manager.cancel();
    });

    connect(m_webBrowser1, &BrowserView::BeforeNavigate2, this, &frmBrowser::WebBrowser1_BeforeNavigate2);
    connect(m_webBrowser1, &BrowserView::NavigateComplete2, this, &frmBrowser::WebBrowser1_NavigateComplete2);
    connect(m_webBrowser1, &BrowserView::NewWindow2, this, &frmBrowser::WebBrowser1_NewWindow2);
    connect(m_webBrowser1, &BrowserView::ProgressChange, this, &frmBrowser::WebBrowser_ProgressChange);
    connect(m_webBrowser1, &BrowserView::ScriptError, this, &frmBrowser::objWind_onerror);
}

void frmBrowser::pumpEvents()
{
    QCoreApplication::processEvents();
}

void frmBrowser::Form_Load()
{
    for (QWidget *button : {m_command1, m_command2, m_command4, m_command5, m_command6, m_cmdRadio, m_image1,
                            m_image2, m_image3}) {
        button->setCursor(Qt::PointingHandCursor);
    }

    m_globals.FilterOn = false;
    m_globals.AppFolder = AppFolderFor(m_services.executableFolder, m_services.defaultAppFolder);
    m_terminateProgram = terminateProgram(m_globals.AppFolder, m_services.executableFolder);
    if (m_terminateProgram.isEmpty())
        reportOnStderr(QStringLiteral("The helper that ends other web browsers is not installed: no terminate in ")
                       + m_globals.AppFolder + QStringLiteral(" nor beside the program."));
    m_config = AppConfig::load(m_globals.AppFolder);
    m_dynamicHost = {m_config.dyndnsLabel, m_config.dyndnsDomain};
    m_specialSites = {m_config.popupToymaker, m_config.popupPreschool};

    const PortalChoice choice = portalChoiceFor(m_services.commandLine);
    m_globals.PortalBase = PortalBaseFor(choice, m_config);
    m_portal = std::make_unique<PortalClient>(*m_services.transport, m_globals.PortalBase);

    const QDateTime now = m_services.clock->now();
    QString settingsError;
    if (!SettingsFile::EnsureSettingsFile(m_globals.AppFolder, &settingsError))
        reportOnStderr(QStringLiteral("Could not create the settings file: ") + settingsError);
    SettingsFile::ReadSettings(m_globals.AppFolder, now, m_globals.settings);

    const QStringList defaults = {
        QStringLiteral("http:///"),     portalAllowEntry(choice, m_config), QStringLiteral("javascript"),
        m_config.allowEntertainment,    QStringLiteral("dnserror.htm"),     QStringLiteral("paypal"),
        QStringLiteral("about:blank"),  m_config.allowPreschool,            QStringLiteral("doubleclick"),
    };
    QStringList dropped;
    m_globals.AllowList =
        AllowList(defaults, UnblockedFile::readFirstLine(m_globals.AppFolder + "unblocked.tad"), &dropped);
    for (const QString &entry : std::as_const(dropped))
        reportOnStderr(QStringLiteral("unblocked.tad: left out \"%1\": not a site name").arg(entry.left(200)));
    m_globals.AllowScope = FilterAddress::matchScopeFrom(m_config.allowMatch);

    if (!m_portal->CheckPortal()) {
        m_services.dialogs->message(
            QStringLiteral("You cannot connect to the Tadpole Web Portal.  Check your internet connection."),
            ProgramTitle);
        closeMainWindow();
        QCoreApplication::exit(1);
        return;
    }

    const QString longVersion = Identity::longVersion();
    const QMetaObject::Connection startPage = connect(m_webBrowser1, &BrowserView::loadFinished, this, [this] {
        m_startPageDone = true;
        m_startPageShown.quit();
    });
    m_webBrowser1->Navigate(m_globals.PortalBase + QStringLiteral("tad_start.asp"));
    m_label2->setText(QStringLiteral("Tadpole Version: ") + longVersion);
    layoutForScreen();
    setWindowTitle(ProgramTitle + QLatin1Char(' ') + Identity::shortVersion());

    const Identity::LoadResult identity = Identity::LoadUserId(m_globals.AppFolder, m_services.clock->now());
    m_globals.UserId = identity.UserId;
    m_portalHops = PortalHops(m_globals.PortalBase, m_globals.UserId);
    if (!identity.error.isEmpty())
        reportOnStderr(identity.error);

    m_tellafriend->setText(QStringLiteral("Logging onto Tadpole Portal..."));
    pumpEvents();
    waitForStartPage();
    disconnect(startPage);
    const FetchResult visit = m_portal->request(
        QStringLiteral("tad_visit.asp"), {{QStringLiteral("userid"), m_globals.UserId}, {QStringLiteral("ver"), longVersion}});
    if (!visit.ok())
        reportOnStderr(QStringLiteral("The portal did not take the log-on: ") + visit.error);

    m_tellafriend->setText(QStringLiteral("Getting Face Names..."));
    pumpEvents();
    m_globals.FaceNames = PortalClient::faceNamesFrom(
        m_portal->requestText(QStringLiteral("tad_getface.asp"), {{QStringLiteral("userid"), m_globals.UserId}}));

    LayoutBrowserView();
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
    m_timer1.setInterval(1000);
    m_timer1.start();
    for (int i = 0; i < 4; ++i) {
        m_btnFace[i]->setToolTip(m_globals.FaceNames.value(i) + QStringLiteral("'s Menu"));
        m_btnFace[i]->setCursor(Qt::PointingHandCursor);
    }

    m_tellafriend->setText(QStringLiteral("Loading Site Names..."));
    pumpEvents();
    btnFace_Click(0);
    m_globals.FilterOn = true;
    m_tellafriend->clear();
    pumpEvents();
    m_startupFinished = true;
    emit startupComplete();
}

void frmBrowser::waitForStartPage()
{
    // The view loads in the background. Until the start page has loaded, it
    // could be replaced by the menu before the portal ever saw its request, and
    // the child would look at an empty window while the portal is asked.
    if (m_startPageDone)
        return;
    QTimer::singleShot(StartPageWaitMs, &m_startPageShown, &QEventLoop::quit);
    m_startPageShown.exec(QEventLoop::ExcludeUserInputEvents);
}

void frmBrowser::layoutForScreen()
{
    // Without a window manager a maximized window keeps its small size, so it
    // is given the screen's area first.
    if (screen())
        setGeometry(screen()->availableGeometry());
    m_lock->apply(lockedByParent());
    m_laidOut = true;
    placeControls();
}

void frmBrowser::placeControls()
{
    const int W = width();
    const int H = height();
    m_statbar->setGeometry(0, H - LineHeight, int(0.75 * W), LineHeight);
    m_label2->setGeometry(m_statbar->geometry());
    m_toolbar->setGeometry(0, 0, W, int(1.3 * ButtonSize));
    m_currentUrl->setGeometry(m_statbar->x() + m_statbar->width(), m_statbar->y(), int(0.25 * W), LineHeight);
    m_tellafriend->setGeometry(0, m_statbar->y() - LineHeight, W, LineHeight);
    m_command6->move(W - m_command6->width() - 4, m_command1->y());
    m_command5->move(W - m_command5->width() - m_command6->width() - 6, m_command1->y());
    m_cmdRadio->move(m_command5->x() - (m_cmdRadio->width() + 2), m_command1->y());
    m_image2->move(m_cmdRadio->x() - (m_image2->width() + 2), m_command1->y());
    m_image3->move(m_image2->x() - (m_image3->width() + 2), m_command1->y());
    QToolButton *lastFace = m_btnFace[3];
    m_progressBar1->setGeometry(lastFace->x() + lastFace->width() + 8, lastFace->y() + lastFace->height() / 3, 120,
                                lastFace->height() / 3);
}

void frmBrowser::LayoutBrowserView()
{
    const int top = int(1.3 * m_command1->height());
    const int screenHeight = screen() ? screen()->size().height() : height();
    // Room for the toolbar above and the two lines below; on small screens the
    // proportion alone would let the view cover the lines.
    const int room = std::max(int(0.12 * screenHeight), top + 2 * LineHeight);
    m_webBrowser1->widget()->setGeometry(0, top, width(), std::max(0, height() - room));
}

void frmBrowser::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!m_laidOut)
        return;
    pumpEvents();
    placeControls();
    LayoutBrowserView();
}

void frmBrowser::closeEvent(QCloseEvent *event)
{
    // The window manager's close box, Alt+F4: the STOP command decides, or a
    // disabled STOP button would be one key away from meaning nothing. While
    // start-up runs there is no STOP command yet, and the request is let go.
    if (!m_stopGranted) {
        event->ignore();
        if (m_startupFinished)
            QMetaObject::invokeMethod(this, &frmBrowser::Command6_Click, Qt::QueuedConnection);
        return;
    }
    // Pop-ups go with the main window: a hidden one must not keep the program
    // running without a window the child can see.
    for (const QPointer<frmBrowser2> &popup : std::as_const(m_popups)) {
        if (popup)
            popup->close();
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && m_startupFinished)
        QCoreApplication::quit();
}

void frmBrowser::btnFace_Click(qint16 Index)
{
    m_globals.PopupsAllowed = false;
    // A helper that exists nowhere was reported once at start-up; a box at
    // every face would only stand in the child's way.
    QString error;
    if (!m_terminateProgram.isEmpty() && !m_services.launcher->start(m_terminateProgram, &error))
        m_services.dialogs->message(error, QStringLiteral("Error"));
    if (m_services.closeWindowByTitle)
        m_services.closeWindowByTitle(QStringLiteral("Tadpole Pop-up"));
    pumpEvents();

    if (Index < 0 || Index > 3) {
        m_services.dialogs->message(QStringLiteral("Subscript out of range"), QStringLiteral("Error"));
        return;
    }
    const qint16 t = qint16(Index + 1);
    m_globals.CurrentFace = Index;
    m_webBrowser1->Navigate(PortalClient::withQuery(
        m_globals.PortalBase + QStringLiteral("tad_menu.asp"),
        {{QStringLiteral("t"), QString::number(t)}, {QStringLiteral("userid"), m_globals.UserId}}));
    m_shape1->move(m_btnFace[m_globals.CurrentFace]->x() - 2, m_shape1->y());
}

bool frmBrowser::frameRequestAllowed(const QUrl &url)
{
    // The radio view has no allow test; its one page is let through.
    if (!m_globals.FilterOn || FilterAddress::allows(m_globals.AllowList, url, m_globals.AllowScope)
        || url == QUrl(radioPage())) {
        return true;
    }
    // Refused here after the navigation event let it through: reported all the
    // same, or the child would see the engine's error page and nothing to click.
    showBlocked(FilterAddress::whole(url));
    return false;
}

void frmBrowser::showBlocked(const QString &address)
{
    m_blockedDuringLoad = true;
    m_label2->clear();
    m_statbar->setText(FilterRules::blockedStatusText(address));
    m_globals.BlockedUrl = address;
}

void frmBrowser::WebBrowser1_BeforeNavigate2(NavigationRequest &request)
{
    if (!m_globals.FilterOn)
        return;
    const QString address = FilterAddress::whole(request.url);
    bool allowed = FilterAddress::isBrowsableScheme(request.url);
    if (allowed && m_portalHops.exempts(request.redirect, request.mainFrame, request.redirectedFrom, request.origin)) {
        // A tile's hop through this installation's go page. Its site is learned
        // at once: nearly every site sends its first visit on again (to https,
        // or to "www."), and that hop is tested like any other.
        m_globals.AllowList.learn(siteOf(request.url));
    } else {
        allowed = allowed && FilterAddress::allows(m_globals.AllowList, request.url, m_globals.AllowScope);
    }
    if (!allowed) {
        request.cancel = true;
        showBlocked(address);
        return;
    }
    if (request.mainFrame)
        m_blockedDuringLoad = false;
    m_globals.CurrentUrl = address;
    m_statbar->clear();
}

QString frmBrowser::siteOf(const QUrl &url) const
{
    return ExtractDomain(FilterAddress::siteAddress(url), m_dynamicHost);
}

void frmBrowser::WebBrowser1_NavigateComplete2(const QUrl &url, bool mainFrame)
{
    const QString caption = siteOf(url);
    m_currentUrl->setText(caption);
    // The web engine reports a page complete only after its frames have been
    // navigated. A frame blocked on the way must keep its "Blocked:" line, or
    // it could never be unblocked; only a page let through after the block
    // clears it.
    if (FilterRules::isSpecialSite(caption, m_specialSites))
        m_globals.PopupsAllowed = true;
    else if (!(mainFrame && m_blockedDuringLoad))
        m_statbar->clear();
    m_globals.AllowList.learn(caption);
}

void frmBrowser::WebBrowser1_NewWindow2(NewWindowRequest &request)
{
    // Even while the special sites allow pop-ups the window is one of ours:
    // a window outside the filter would be a hole in it.
    frmBrowser2 *popup = openPopup();
    request.newWindow = popup->WebBrowser1();
}

frmBrowser2 *frmBrowser::openPopup()
{
    auto *popup = new frmBrowser2(this, m_services, m_globals.PopupsAllowed);
    if (m_lock->locked())
        m_lock->adopt(popup);
    m_popups.removeAll(nullptr);
    m_popups.append(popup);
    return popup;
}

QList<frmBrowser2 *> frmBrowser::popups() const
{
    QList<frmBrowser2 *> open;
    for (const QPointer<frmBrowser2> &popup : m_popups) {
        if (popup)
            open << popup.data();
    }
    return open;
}

void frmBrowser::WebBrowser_ProgressChange(qint32 progress, qint32 progressMax)
{
    showProgress(m_progressBar1, m_progress, progress, progressMax);
    pumpEvents();
}

void frmBrowser::objWind_onerror(const QString &, const QString &, qint32)
{
    // Handled: the child never sees a script-error dialog, and nothing is logged.
}

void frmBrowser::statbar_Click()
{
    if (!FilterRules::isBlockedStatus(m_statbar->text()))
        return;
    // The address the question shows, taken before asking: a page may block
    // another one while the question is open, and that one was never asked about.
    unblock(m_globals.BlockedUrl);
}

void frmBrowser::unblock(QString address)
{
    const QString entry = siteOf(QUrl(address));
    if (!m_globals.AllowList.acceptable(entry)) {
        m_services.dialogs->message(QStringLiteral("This address cannot be unblocked."), ProgramTitle);
        return;
    }
    // With a password set, unblocking is the parent's to do: a child could
    // otherwise answer the question alone. No is then the default, so keys
    // pressed at random never unblock.
    const bool guarded = !m_globals.settings.Password.isEmpty();
    if (guarded) {
        if (!m_services.parents)
            return;
        m_services.parents->showGate(parentsContext());
        if (!m_globals.PasswordAccepted)
            return;
    }
    if (m_services.dialogs->askYesNo(QStringLiteral("Unblock: ") + FilterAddress::forQuestion(address),
                                     QStringLiteral("Allow Access"), guarded ? Dialogs::Answer::No : Dialogs::Answer::Yes)
        != Dialogs::Answer::Yes) {
        return;
    }
    m_globals.AllowList.unblock(entry);
    m_webBrowser1->Navigate(address);
    QString error;
    if (!UnblockedFile::write(m_globals.AppFolder + QStringLiteral("unblocked.tad"), m_globals.AllowList.text(), &error)) {
        m_services.dialogs->message(
            QStringLiteral("The site is allowed until Tadpole closes, but it could not be saved: ") + error,
            ProgramTitle);
    }
}

void frmBrowser::Command1_Click()
{
    m_webBrowser1->GoBack();
}

void frmBrowser::Command2_Click()
{
    m_webBrowser1->GoForward();
}

void frmBrowser::Command4_Click()
{
    m_webBrowser1->Refresh();
}

void frmBrowser::startTerminate()
{
    QString error;
    if (!m_terminateProgram.isEmpty() && !m_services.launcher->start(m_terminateProgram, &error))
        reportOnStderr(error);
}

ParentsContext frmBrowser::parentsContext()
{
    return ParentsContext{.globals = &m_globals, .dialogs = m_services.dialogs, .transport = m_services.transport,
                          .views = m_services.views, .opener = m_services.opener, .clock = m_services.clock,
                          .main = this, .windows = m_services.parents};
}

void frmBrowser::Command5_Click()
{
    startTerminate();
    DisableFaces();
    if (m_services.parents) {
        const ParentsContext context = parentsContext();
        const bool guarded = !m_globals.settings.Password.isEmpty();
        if (guarded)
            m_services.parents->showGate(context);
        if (!guarded || m_globals.PasswordAccepted) {
            m_parentsAreaOpen = true;
            m_services.parents->showSiteSelection(context);
            m_parentsAreaOpen = false;
            // The preferences may have locked or freed the STOP button.
            m_lock->apply(lockedByParent());
        }
    }
    EnableFaces();
    btnFace_Click(m_globals.CurrentFace);
}

void frmBrowser::Command6_Click()
{
    startTerminate();
    if (m_globals.settings.StopDisabled != QLatin1String("1")) {
        closeMainWindow();
        return;
    }
    if (m_services.parents)
        m_services.parents->showGate(parentsContext());
    if (m_globals.PasswordAccepted)
        closeMainWindow();
}

bool frmBrowser::lockedByParent() const
{
    return m_globals.settings.StopDisabled == QLatin1String("1");
}

void frmBrowser::closeMainWindow()
{
    m_stopGranted = true;
    close();
}

QString frmBrowser::radioPage() const
{
    return QStringLiteral("http://") + m_config.portalPublic + QStringLiteral("/tad/radiodis.htm");
}

BrowserView *frmBrowser::radioView()
{
    // Made on the first switch-on: most runs never play the radio, and a
    // second web view costs start-up time.
    if (!m_webBrowser2) {
        m_webBrowser2 = m_services.views->create(centralWidget());
        m_webBrowser2->widget()->setGeometry(0, 0, 1, 1); // the player is never seen
        m_webBrowser2->widget()->lower();
        connect(m_webBrowser2, &BrowserView::ProgressChange, this, &frmBrowser::WebBrowser_ProgressChange);
    }
    return m_webBrowser2;
}

void frmBrowser::cmdRadio_Click()
{
    // The radio page has no title, so the view's address tells whether it plays.
    if (!m_webBrowser2 || m_webBrowser2->currentUrl() != QUrl(radioPage())) {
        m_cmdRadio->setIcon(QIcon(QStringLiteral(":/images/radio_on.svg")));
        pumpEvents();
        radioView()->Navigate(radioPage());
        m_services.dialogs->message(QStringLiteral("Radio PIP is ON and will start playing in a moment!"), ProgramTitle);
        unsetCursor();
    } else {
        m_cmdRadio->setIcon(QIcon(QStringLiteral(":/images/radio_off.svg")));
        m_webBrowser2->Navigate(QStringLiteral("about:blank"));
    }
}

void frmBrowser::Image1_Click()
{
    m_webBrowser1->Navigate(QStringLiteral("http://www.") + m_config.productSite + QStringLiteral("/"));
}

void frmBrowser::Image2_Click()
{
    m_webBrowser1->Navigate(QStringLiteral("http://") + m_config.productSite + QStringLiteral("/mail/mail.asp"));
}

void frmBrowser::Image3_Click()
{
    m_webBrowser1->Navigate(QStringLiteral("http://www.") + m_config.productSite + QStringLiteral("/donate.htm"));
}

void frmBrowser::tellafriend_Click()
{
    m_webBrowser1->Navigate(QStringLiteral("http://") + m_config.portalPublic + QStringLiteral("/tad/tadpole.asp?userid=")
                            + m_globals.UserId);
}

void frmBrowser::DisableFaces()
{
    setFacesEnabled(false);
}

void frmBrowser::EnableFaces()
{
    setFacesEnabled(!m_timedOut);
}

void frmBrowser::setFacesEnabled(bool enabled)
{
    for (QToolButton *face : m_btnFace)
        face->setEnabled(enabled);
}

bool frmBrowser::popupWindowOpen() const
{
    // As the desktop's window search would: our pop-ups by title, hidden ones too.
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *w) {
        return w->windowTitle().compare(frmBrowser2::Caption, Qt::CaseInsensitive) == 0;
    });
}

void frmBrowser::Timer1_Timer()
{
    const Watchdog::TimeCheck time = m_watchdog->checkTime(m_globals.settings);
    if (time.countdown)
        m_tellafriend->setText(*time.countdown);
    if (time.ranOut) {
        m_timer1.stop();
        m_services.dialogs->message(QStringLiteral("Time Ran Out"), ProgramTitle);
        Command6_Click();
        // Still here: STOP is disabled and the gate was refused. The child
        // does not browse on without a limit.
        if (!m_stopGranted)
            setTimedOut(true);
        return;
    }
    pumpEvents();
    const bool popupOpen = m_watchdog->sweep();
    for (QToolButton *button : {m_command1, m_command2, m_command4, m_command5})
        button->setEnabled(!popupOpen && !m_timedOut);
    m_command6->setEnabled(true);
}

void frmBrowser::setTimedOut(bool timedOut)
{
    m_timedOut = timedOut;
    m_webBrowser1->widget()->setEnabled(!timedOut);
    setFacesEnabled(!timedOut);
    for (QWidget *control : std::initializer_list<QWidget *>{m_command1, m_command2, m_command4, m_image1, m_image2,
                                                             m_image3, m_tellafriend})
        control->setEnabled(!timedOut);
    if (timedOut)
        m_tellafriend->setText(QStringLiteral("Time Ran Out"));
}

void frmBrowser::gatePassed()
{
    if (m_timedOut) {
        setTimedOut(false);
        m_tellafriend->clear();
    }
    if (m_watchdog)
        m_timer1.start();
}

void frmBrowser::setFaceToolTip(int index, const QString &text)
{
    if (index >= 0 && index < int(m_btnFace.size()))
        m_btnFace[index]->setToolTip(text);
}

void frmBrowser::clearMessageLine()
{
    m_tellafriend->clear();
}

QString frmBrowser::childPageTitle() const
{
    return m_webBrowser1->title();
}

void frmBrowser::setStatbar(const QString &text)
{
    m_statbar->setText(text);
}

void frmBrowser::clearLabel2()
{
    m_label2->clear();
}

QString frmBrowser::statbarText() const { return m_statbar->text(); }
QString frmBrowser::label2Text() const { return m_label2->text(); }
QString frmBrowser::tellafriendText() const { return m_tellafriend->text(); }
QString frmBrowser::currentUrlText() const { return m_currentUrl->text(); }
QString frmBrowser::faceToolTip(int index) const { return m_btnFace.at(index)->toolTip(); }
int frmBrowser::faceLeft(int index) const { return m_btnFace.at(index)->x(); }
int frmBrowser::highlightLeft() const { return m_shape1->x(); }
