// The main window's controls: how they are made, laid out and read.
#include "browsing/MainWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/BlockPage.h"
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

namespace {

using WindowMetrics::ButtonSize;
using WindowMetrics::LineHeight;

} // namespace

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
    m_blockPage = new BlockPage(m_view->widget(), [this](const QString &address) { unblock(address); });

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
    for (QLabel *line : {static_cast<QLabel *>(m_messageLine), static_cast<QLabel *>(m_statusLine), m_versionLine, m_siteLine}) {
        line->setFixedHeight(LineHeight);
        line->setTextFormat(Qt::PlainText); // addresses and sites from pages, shown as they are
    }
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

void MainWindow::layoutForScreen()
{
    // Without a window manager a maximized window keeps its small size, so it
    // is given the screen's area first.
    if (screen())
        setGeometry(screen()->availableGeometry());
    m_lock->apply(lockedByParent());
    m_laidOut = true;
    placeControls();
    // The view shows the start page in its place while start-up asks the
    // portal; the window may get no resize event that would place it.
    layoutBrowserView();
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

void MainWindow::setStatusLine(const QString &text)
{
    // The version line shares the status line's place and gives way to a block.
    if (FilterRules::isBlockedStatus(text))
        m_versionLine->clear();
    m_statusLine->setText(text);
}

bool MainWindow::blockPageShown() const { return !m_blockPage->isHidden(); }
QString MainWindow::statusLineText() const { return m_statusLine->text(); }
QString MainWindow::versionLineText() const { return m_versionLine->text(); }
QString MainWindow::messageLineText() const { return m_messageLine->text(); }
QString MainWindow::siteLineText() const { return m_siteLine->text(); }
QString MainWindow::faceToolTip(int index) const { return m_faceButtons.at(index)->toolTip(); }
int MainWindow::faceLeft(int index) const { return m_faceButtons.at(index)->x(); }
int MainWindow::highlightLeft() const { return m_faceHighlight->x(); }
