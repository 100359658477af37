#include "browsing/MainWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/BlockPage.h"
#include "browsing/ClickableLabel.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "browsing/ShortcutGuard.h"
#include "browsing/WindowLock.h"
#include "filter/FilterAddress.h"
#include "filter/Unblocking.h"
#include "browsing/PopupWindow.h"
#include "shell/Startup.h"
#include "shell/FixedPages.h"
#include "shell/PlainText.h"
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
    buildTimePictures();
    // Requests that slip past the views' navigation events (a service worker's,
    // say) meet the same allow test.
    m_services.views->setFrameRequestFilter([window = QPointer<MainWindow>(this)](const QUrl &url) {
        return window && (!window->m_filter || window->m_filter->allowFrameRequest(url));
    });
    QTimer::singleShot(0, this, &MainWindow::runStartup);
}

void MainWindow::comeForward()
{
    m_lock->comeForward();
}

MainWindow::~MainWindow()
{
    m_services.views->setFrameRequestFilter({});
    for (const QPointer<PopupWindow> &popup : std::as_const(m_popups))
        delete popup.data();
}

void MainWindow::pumpEvents()
{
    QCoreApplication::processEvents();
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
    closePopups();
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
    // Every pop-up of the child before, not only the one a title search finds.
    closePopups();
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
    if (request.mainFrame && request.cancel)
        m_blockPage->showFor(m_state.blockedUrl);
    else if (request.mainFrame)
        m_blockPage->hide();
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
    if (PopupWindow *popup = openPopup())
        request.newWindow = popup->view();
    else
        request.cancel = true;
}

PopupWindow *MainWindow::openPopup()
{
    // The page behind the "time is up" picture still runs, and so may a
    // pop-up's not yet gone: a window either opened would be a way past it.
    // Before start-up turns the filter on, a pop-up would load and learn
    // whatever it was opened on.
    if (m_timedOut || !m_state.filterOn)
        return nullptr;
    m_versionLine->clear();
    auto *popup = new PopupWindow(*m_filter, m_services, m_state.popupsAllowed, geometry(), [this] { return openPopup(); });
    if (m_lock->locked())
        m_lock->adopt(popup);
    m_popups.removeAll(nullptr);
    m_popups.append(popup);
    return popup;
}

void MainWindow::closePopups()
{
    for (const QPointer<PopupWindow> &popup : std::as_const(m_popups)) {
        if (popup)
            popup->close();
    }
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
    const Unblocking unblocking{.state = m_state, .filter = *m_filter, .dialogs = *m_services.dialogs,
                                .parentAllows = [this] { return m_services.parents && m_services.parents->showGate(parentsContext()); },
                                .load = [this](const QString &page) { m_view->navigate(page); }};
    unblocking.unblock(std::move(address));
}

bool MainWindow::allowBlocked(const QString &address)
{
    return Unblocking{.state = m_state, .filter = *m_filter, .dialogs = *m_services.dialogs, .parentAllows = {}, .load = {}}.allow(address);
}

void MainWindow::goBack()
{
    // The page the child was on is still in the view, behind the block page.
    if (!m_blockPage->isHidden())
        m_blockPage->hide();
    else
        m_view->back();
}

void MainWindow::goForward()
{
    m_view->forward();
}

void MainWindow::reload()
{
    if (m_view->currentUrl() == QUrl(FixedPages::help()))
        m_filter->letOwnPageThrough();
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
                          .views = m_services.views, .clock = m_services.clock,
                          .main = this, .windows = m_services.parents,
                          .allowBlocked = [this](const QString &address) { return allowBlocked(address); }};
}

void MainWindow::openParentsArea()
{
    startTerminate();
    disableFaces();
    if (m_services.parents) {
        const ParentsContext context = parentsContext();
        const bool guarded = !m_state.settings.Password.isEmpty();
        if (!guarded || m_services.parents->showGate(context)) {
            rememberParentsAreaOpened();
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
    return FixedPages::radio(m_state.portalBase);
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
    m_filter->letOwnPageThrough();
    m_view->navigate(FixedPages::help());
}

void MainWindow::openMail()
{
    m_view->navigate(FixedPages::mail(m_config));
}

void MainWindow::openDonation()
{
    m_view->navigate(FixedPages::donation(m_config));
}

void MainWindow::onMessageLineClicked()
{
    m_view->navigate(FixedPages::tellAFriend(m_config, m_state.userId));
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

void MainWindow::setFaceToolTip(int index, const QString &text)
{
    if (index >= 0 && index < int(m_faceButtons.size()))
        m_faceButtons[index]->setToolTip(plainToolTip(text));
}

void MainWindow::clearMessageLine()
{
    m_messageLine->clear();
}

QString MainWindow::childPageTitle() const
{
    return m_view->title();
}
