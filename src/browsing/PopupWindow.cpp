#include "browsing/PopupWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "filter/FilterAddress.h"
#include "filter/SiteNames.h"
#include "filter/NavigationFilter.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>

namespace {

using WindowMetrics::ButtonSize;
using WindowMetrics::LineHeight;

} // namespace

PopupWindow::PopupWindow(NavigationFilter &filter, const BrowserServices &services, bool popupsAllowed,
                         const QRect &geometry, std::function<PopupWindow *()> openAnother)
    : QWidget(nullptr, Qt::Window), m_filter(filter), m_openAnother(std::move(openAnother)), m_services(services),
      m_keepOpenOnBlock(popupsAllowed)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption);

    m_toolbar = new QWidget(this);
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setStyleSheet(QStringLiteral("#toolbar { background: #bfe8c6; }"));
    m_backButton = makePictureButton(this, QStringLiteral(":/images/back.svg"), QStringLiteral("Browse Back"));
    m_backButton->move(4, 0);
    m_forwardButton = makePictureButton(this, QStringLiteral(":/images/forward.svg"), QStringLiteral("Browse Forward"));
    m_forwardButton->move(48, 0);
    m_reloadButton = makePictureButton(this, QStringLiteral(":/images/refresh.svg"), QStringLiteral("Refresh Page"));
    m_reloadButton->move(92, 0);
    m_closeButton = makePictureButton(this, QStringLiteral(":/images/close.svg"), QStringLiteral("Close Pop-Up"));
    m_closeButton->move(136, 0);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();
    m_statusLine = new QLabel(QStringLiteral("Ready"), this);
    m_siteLine = new QLabel(QStringLiteral("Ready"), this);
    m_statusLine->setTextFormat(Qt::PlainText); // addresses and sites as they are
    m_siteLine->setTextFormat(Qt::PlainText);

    m_view = m_services.views->create(this);

    connect(m_backButton, &QToolButton::clicked, this, &PopupWindow::goBack);
    connect(m_forwardButton, &QToolButton::clicked, this, &PopupWindow::goForward);
    connect(m_reloadButton, &QToolButton::clicked, this, &PopupWindow::reload);
    connect(m_closeButton, &QToolButton::clicked, this, &PopupWindow::closePopup);
    // A page that opened a window of its own may close it again; the child's main window stays.
    connect(m_view, &BrowserView::closeRequested, this, &PopupWindow::closePopup);
    connect(m_view, &BrowserView::navigationRequested, this, &PopupWindow::onNavigationRequested);
    connect(m_view, &BrowserView::documentLoaded, this, &PopupWindow::onDocumentLoaded);
    connect(m_view, &BrowserView::newWindowRequested, this, &PopupWindow::onNewWindowRequested);
    connect(m_view, &BrowserView::loadProgress, this, &PopupWindow::showLoadProgress);
    connect(&m_tickTimer, &QTimer::timeout, this, &PopupWindow::tick);

    setGeometry(geometry);
    showFirstPage();
}

void PopupWindow::showFirstPage()
{

    for (QToolButton *button : {m_backButton, m_forwardButton, m_reloadButton, m_closeButton})
        button->setCursor(Qt::PointingHandCursor);

    const int W = width();
    const int H = height();
    m_statusLine->setGeometry(0, H - LineHeight, int(0.75 * W), LineHeight);
    m_toolbar->setGeometry(0, 0, m_statusLine->width(), ButtonSize);
    m_siteLine->setGeometry(m_statusLine->x() + m_statusLine->width(), m_statusLine->y(), int(0.25 * W), LineHeight);
    m_progressBar->setGeometry(m_closeButton->x() + ButtonSize + 12, ButtonSize / 3, 120, ButtonSize / 3);
    layoutView();
    m_tickTimer.start(3000);
}

void PopupWindow::layoutView()
{
    const int top = m_backButton->height();
    m_view->widget()->setGeometry(0, top, int(0.98 * width()), std::max(0, int(0.95 * height()) - top));
}

void PopupWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutView();
}

void PopupWindow::onNavigationRequested(NavigationRequest &request)
{
    if (!m_filter.isOn())
        return;
    if (!m_filter.allowPopupNavigation(request.url)) {
        request.cancel = true;
        // A pop-up never shown closes on its first block whatever site made it:
        // hidden for good, it would hold a view and a timer and keep the main
        // window's buttons disabled.
        if ((!m_keepOpenOnBlock || !m_shown) && !m_closing) {
            // Closed from the event queue: the view is still inside its own
            // navigation callback.
            m_closing = true;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        return;
    }
    if (!FilterAddress::whole(request.url).contains(QLatin1String("http:///")) && !m_closing) {
        m_shown = true;
        show();
        m_view->widget()->show();
    }
}

void PopupWindow::onDocumentLoaded(const QUrl &url, bool)
{
    m_siteLine->setText(m_filter.popupPageLoaded(url));
}

void PopupWindow::onNewWindowRequested(NewWindowRequest &request)
{
    if (PopupWindow *another = m_openAnother())
        request.newWindow = another->view();
    else
        request.cancel = true;
}

void PopupWindow::showLoadProgress(qint32 progress, qint32 progressMax)
{
    showProgress(m_progressBar, m_progress, progress, progressMax);
}

void PopupWindow::goBack()
{
    m_view->back();
}

void PopupWindow::goForward()
{
    m_view->forward();
}

void PopupWindow::reload()
{
    m_view->reload();
}

void PopupWindow::closePopup()
{
    close();
}

void PopupWindow::tick()
{
    QCoreApplication::processEvents();
    m_services.closeWindows({QStringLiteral("Security Warning"), QStringLiteral("File Download")});
}

QString PopupWindow::siteLineText() const
{
    return m_siteLine->text();
}

bool PopupWindow::anyOpen()
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *w) {
        return w->windowTitle().compare(Caption, Qt::CaseInsensitive) == 0;
    });
}
