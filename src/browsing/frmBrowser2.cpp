#include "browsing/frmBrowser2.h"

#include "browserview/BrowserView.h"
#include "browsing/PictureButton.h"
#include "browsing/ProgressDisplay.h"
#include "filter/FilterAddress.h"
#include "filter/SiteNames.h"
#include "browsing/frmBrowser.h"

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

frmBrowser2::frmBrowser2(frmBrowser *mainWindow, const BrowserServices &services, bool popupsAllowed)
    : QWidget(nullptr, Qt::Window), m_main(mainWindow), m_services(services), m_keepOpenOnBlock(popupsAllowed)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption);

    m_toolbar = new QWidget(this);
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setStyleSheet(QStringLiteral("#toolbar { background: #bfe8c6; }"));
    m_command1 = makePictureButton(this, QStringLiteral(":/images/back.svg"), QStringLiteral("Browse Back"));
    m_command1->move(4, 0);
    m_command2 = makePictureButton(this, QStringLiteral(":/images/forward.svg"), QStringLiteral("Browse Forward"));
    m_command2->move(48, 0);
    m_command4 = makePictureButton(this, QStringLiteral(":/images/refresh.svg"), QStringLiteral("Refresh Page"));
    m_command4->move(92, 0);
    m_command5 = makePictureButton(this, QStringLiteral(":/images/close.svg"), QStringLiteral("Close Pop-Up"));
    m_command5->move(136, 0);
    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setTextVisible(false);
    m_progressBar1->hide();
    m_statbar = new QLabel(QStringLiteral("Ready"), this);
    m_currentUrl = new QLabel(QStringLiteral("Ready"), this);

    m_webBrowser1 = m_services.views->create(this);

    connect(m_command1, &QToolButton::clicked, this, &frmBrowser2::Command1_Click);
    connect(m_command2, &QToolButton::clicked, this, &frmBrowser2::Command2_Click);
    connect(m_command4, &QToolButton::clicked, this, &frmBrowser2::Command4_Click);
    connect(m_command5, &QToolButton::clicked, this, &frmBrowser2::Command5_Click);
    connect(m_webBrowser1, &BrowserView::BeforeNavigate2, this, &frmBrowser2::WebBrowser1_BeforeNavigate2);
    connect(m_webBrowser1, &BrowserView::NavigateComplete2, this, &frmBrowser2::WebBrowser1_NavigateComplete2);
    connect(m_webBrowser1, &BrowserView::NewWindow2, this, &frmBrowser2::WebBrowser1_NewWindow2);
    connect(m_webBrowser1, &BrowserView::ProgressChange, this, &frmBrowser2::WebBrowser1_ProgressChange);
    connect(&m_timer1, &QTimer::timeout, this, &frmBrowser2::Timer1_Timer);

    Form_Load();
}

void frmBrowser2::Form_Load()
{
    if (m_main) {
        m_main->clearLabel2();
        setGeometry(m_main->geometry());
    }
    for (QToolButton *button : {m_command1, m_command2, m_command4, m_command5})
        button->setCursor(Qt::PointingHandCursor);

    const int W = width();
    const int H = height();
    m_statbar->setGeometry(0, H - LineHeight, int(0.75 * W), LineHeight);
    m_toolbar->setGeometry(0, 0, m_statbar->width(), ButtonSize);
    m_currentUrl->setGeometry(m_statbar->x() + m_statbar->width(), m_statbar->y(), int(0.25 * W), LineHeight);
    m_progressBar1->setGeometry(m_command5->x() + ButtonSize + 12, ButtonSize / 3, 120, ButtonSize / 3);
    LayoutPopupView();
    m_timer1.start(3000);
}

void frmBrowser2::LayoutPopupView()
{
    const int top = m_command1->height();
    m_webBrowser1->widget()->setGeometry(0, top, int(0.98 * width()), std::max(0, int(0.95 * height()) - top));
}

void frmBrowser2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    LayoutPopupView();
}

void frmBrowser2::WebBrowser1_BeforeNavigate2(NavigationRequest &request)
{
    // Without the main window there is no allow list to ask: nothing loads.
    if (!m_main) {
        request.cancel = true;
        return;
    }
    if (!m_main->globals().FilterOn)
        return;
    modGlobals &g = m_main->globals();
    const QString address = FilterAddress::whole(request.url);
    if (!FilterAddress::allows(g.AllowList, request.url, g.AllowScope)) {
        request.cancel = true;
        m_main->setStatbar(FilterRules::blockedStatusText(address));
        g.BlockedUrl = address;
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
    m_main->setStatbar(FilterRules::popupAllowedStatusText(address));
    if (!address.contains(QLatin1String("http:///")) && !m_closing) {
        m_shown = true;
        show();
        m_webBrowser1->widget()->show();
    }
}

void frmBrowser2::WebBrowser1_NavigateComplete2(const QUrl &url, bool)
{
    const QString caption = ExtractPopupDomain(FilterAddress::siteAddress(url));
    m_currentUrl->setText(caption);
    if (m_main)
        m_main->globals().AllowList.learn(caption);
}

void frmBrowser2::WebBrowser1_NewWindow2(NewWindowRequest &request)
{
    if (!m_main) {
        request.cancel = true;
        return;
    }
    request.newWindow = m_main->openPopup()->WebBrowser1();
}

void frmBrowser2::WebBrowser1_ProgressChange(qint32 progress, qint32 progressMax)
{
    showProgress(m_progressBar1, m_progress, progress, progressMax);
}

void frmBrowser2::Command1_Click()
{
    m_webBrowser1->GoBack();
}

void frmBrowser2::Command2_Click()
{
    m_webBrowser1->GoForward();
}

void frmBrowser2::Command4_Click()
{
    m_webBrowser1->Refresh();
}

void frmBrowser2::Command5_Click()
{
    close();
}

void frmBrowser2::Timer1_Timer()
{
    QCoreApplication::processEvents();
    m_services.closeWindows({QStringLiteral("Security Warning"), QStringLiteral("File Download")});
}

QString frmBrowser2::currentUrlText() const
{
    return m_currentUrl->text();
}
