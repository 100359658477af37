#include "browserview/WebEngineBrowserView.h"

#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace {

// Off the record: a child's browsing leaves no cookies or cache behind, and
// several copies of the program never fight over one profile folder.
QWebEngineProfile *childProfile()
{
    static QWebEngineProfile *profile = [] {
        auto *p = new QWebEngineProfile(QCoreApplication::instance());
        prepareChildProfile(p);
        return p;
    }();
    return profile;
}

// The page's menu offers only moving in history, reloading, copy and paste:
// nothing that opens, saves or inspects outside the filter's reach.
class ChildWebView : public QWebEngineView {
public:
    using QWebEngineView::QWebEngineView;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        QMenu menu(this);
        for (QWebEnginePage::WebAction action :
             {QWebEnginePage::Back, QWebEnginePage::Forward, QWebEnginePage::Reload, QWebEnginePage::Copy,
              QWebEnginePage::Paste}) {
            menu.addAction(page()->action(action));
        }
        menu.exec(event->globalPos());
    }
};

} // namespace

void prepareChildProfile(QWebEngineProfile *profile)
{
    // Downloads are refused silently: a child cannot save or run files.
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest *download) { download->cancel(); });
    QWebEngineSettings *settings = profile->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
}

FilteringPage::FilteringPage(QWebEngineProfile *profile, BrowserView *owner)
    : QWebEnginePage(profile, owner), m_owner(owner)
{
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

bool FilteringPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    NavigationRequest request;
    request.url = url;
    request.mainFrame = isMainFrame;
    request.redirect = type == NavigationTypeRedirect;
    request.redirectedFrom = m_lastAllowedMainFrameUrl;
    emit m_owner->BeforeNavigate2(request);
    if (request.cancel)
        return false;

    if (isMainFrame) {
        m_lastAllowedMainFrameUrl = url;
    } else {
        // Frames report no completion of their own; an allowed frame counts as
        // complete once its navigation has been let through.
        QPointer<BrowserView> owner(m_owner);
        QTimer::singleShot(0, m_owner, [owner, url] {
            if (owner)
                emit owner->NavigateComplete2(url, false);
        });
    }
    return true;
}

QWebEnginePage *FilteringPage::createWindow(WebWindowType)
{
    NewWindowRequest request;
    emit m_owner->NewWindow2(request);
    if (request.cancel || !request.newWindow)
        return nullptr;
    auto *view = qobject_cast<WebEngineBrowserView *>(request.newWindow);
    return view ? view->page() : nullptr;
}

void FilteringPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                             int lineNumber, const QString &sourceID)
{
    // Swallowed: script errors reach the window as an event, never the console.
    if (level == ErrorMessageLevel)
        emit m_owner->ScriptError(message, sourceID, lineNumber);
}

WebEngineBrowserView::WebEngineBrowserView(QWidget *parent)
    : BrowserView(parent), m_view(new ChildWebView(parent)), m_page(new FilteringPage(childProfile(), this))
{
    m_view->setPage(m_page);
    connect(m_page, &QWebEnginePage::loadProgress, this, [this](int percent) { emit ProgressChange(percent, 100); });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        emit ProgressChange(0, 0);
        // A failed or cancelled load completes nothing: a blocked address must
        // never be learned.
        if (ok)
            emit NavigateComplete2(m_page->url(), true);
        emit loadFinished(ok);
    });
}

void WebEngineBrowserView::Navigate(const QString &address)
{
    m_page->load(QUrl(address));
}

void WebEngineBrowserView::GoBack()
{
    m_page->triggerAction(QWebEnginePage::Back);
}

void WebEngineBrowserView::GoForward()
{
    m_page->triggerAction(QWebEnginePage::Forward);
}

void WebEngineBrowserView::Refresh()
{
    m_page->triggerAction(QWebEnginePage::Reload);
}

QString WebEngineBrowserView::title() const
{
    const QString t = m_page->title();
    // QtWebEngine reports the address as the title of a page without one.
    return t == m_page->url().toString() || t == m_page->url().toDisplayString() ? QString() : t;
}

QString WebEngineBrowserView::LocationName() const
{
    const QString t = title();
    return t.isEmpty() ? m_page->url().toString() : t;
}

QUrl WebEngineBrowserView::currentUrl() const
{
    return m_page->url();
}
