#include "browserview/WebEngineBrowserView.h"

#include "browserview/ChildRequestGuard.h"
#include "browserview/ParentBrowserView.h"
#include "filter/FilterAddress.h"
#include "shell/FixedPages.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QContextMenuEvent>
#include <QMenu>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace {

ChildRequestGuard *requestGuard()
{
    static ChildRequestGuard *guard = new ChildRequestGuard(QCoreApplication::instance());
    return guard;
}

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
    // A window opens for the child's click or key, one for each, never for a
    // script alone: a page could open them without end over the window.
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // The radio's player is a page no one clicks: it must play unasked.
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    profile->setUrlRequestInterceptor(requestGuard());
}

BrowserView *WebEngineBrowserViewFactory::createForParent(QWidget *parent)
{
    return new ParentBrowserView(parent);
}

void WebEngineBrowserViewFactory::setFrameRequestFilter(std::function<bool(const QUrl &)> allows)
{
    requestGuard()->setFrameFilter(std::move(allows));
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
    // Refused without a dialog: a cleared authenticator cancels the request.
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator, const QString &) { *authenticator = QAuthenticator(); });
    reportLoadedFrames();
}

void FilteringPage::reportLoadedFrames()
{
    const quint64 words[2] = {QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()};
    m_frameLoadedMark = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex())
                      + QLatin1Char(' ');
    QWebEngineScript script;
    script.setName(QStringLiteral("frame-loaded"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral("if (window !== window.top) console.info('%1' + location.href);")
                             .arg(m_frameLoadedMark));
    scripts().insert(script);
}

bool FilteringPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    const bool redirect = type == NavigationTypeRedirect;
    NavigationRequest request;
    request.url = url;
    request.mainFrame = isMainFrame;
    request.redirect = redirect;
    request.redirectedFrom = m_lastAllowedMainFrameUrl;
    request.origin = isMainFrame && redirect ? m_chainOrigin : this->url();
    request.historyMove = type == NavigationTypeBackForward;
    emit m_owner->navigationRequested(request);
    // Whatever the window decided: any other scheme would be handed to a
    // program outside the browser. Our help page is the one resource of the
    // program's own that may show, where the window let it through.
    if (request.cancel || !(FilterAddress::isBrowsableScheme(url) || url == QUrl(FixedPages::help())))
        return false;

    if (isMainFrame) {
        m_lastAllowedMainFrameUrl = url;
        m_chainOrigin = request.origin;
    }
    return true;
}

QStringList FilteringPage::chooseFiles(FileSelectionMode, const QStringList &, const QStringList &)
{
    return {};
}

QWebEnginePage *FilteringPage::createWindow(WebWindowType)
{
    NewWindowRequest request;
    emit m_owner->newWindowRequested(request);
    if (request.cancel || !request.newWindow)
        return nullptr;
    auto *view = qobject_cast<WebEngineBrowserView *>(request.newWindow);
    return view ? view->page() : nullptr;
}

void FilteringPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int,
                                             const QString &)
{
    // Script errors and other console messages go nowhere: the child never sees a dialog for them.
    if (level != InfoMessageLevel || !message.startsWith(m_frameLoadedMark))
        return;
    const QString what = message.mid(m_frameLoadedMark.size());
    // A frame that failed shows the engine's own error page: nothing loaded.
    const QUrl frame(what);
    if (FilterAddress::isBrowsableScheme(frame))
        emit m_owner->documentLoaded(frame, false);
}

WebEngineBrowserView::WebEngineBrowserView(QWidget *parent)
    : EngineView(parent, new ChildWebView(parent)), m_page(new FilteringPage(childProfile(), this))
{
    showPage(m_page);
}

void WebEngineBrowserView::pageLoaded()
{
    emit documentLoaded(m_page->url(), true);
}
