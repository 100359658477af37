#include "browserview/ParentBrowserView.h"

#include "filter/FilterAddress.h"

#include <QCoreApplication>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

// Off the record, and apart from the child's: no request interceptor, and
// nothing the parent's pages leave behind (cookies, cache) is the child's.
QWebEngineProfile *parentProfile()
{
    static QWebEngineProfile *profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}

class ParentPage : public QWebEnginePage {
public:
    explicit ParentPage(QObject *parent) : QWebEnginePage(parentProfile(), parent)
    {
        // No page of another window is made: the address asked for loads here.
        connect(this, &QWebEnginePage::newWindowRequested, this,
                [this](QWebEngineNewWindowRequest &request) { load(request.requestedUrl()); });
    }

protected:
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    // Any other scheme (mailto:, ftp:) the engine would hand to a program
    // outside ours, perhaps another web browser, which the watchdog then ends.
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        return FilterAddress::isBrowsableScheme(url);
    }
};

} // namespace

ParentBrowserView::ParentBrowserView(QWidget *parent)
    : BrowserView(parent), m_view(new QWebEngineView(parent)), m_page(new ParentPage(this))
{
    m_view->setPage(m_page);
    connect(m_page, &QWebEnginePage::loadProgress, this, [this](int percent) { emit loadProgress(percent, 100); });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        emit loadProgress(0, 0);
        emit loadFinished(ok);
    });
}

QWidget *ParentBrowserView::widget()
{
    return m_view;
}

void ParentBrowserView::navigate(const QString &address)
{
    m_page->load(QUrl(address));
}

void ParentBrowserView::back()
{
    m_page->triggerAction(QWebEnginePage::Back);
}

void ParentBrowserView::forward()
{
    m_page->triggerAction(QWebEnginePage::Forward);
}

void ParentBrowserView::reload()
{
    m_page->triggerAction(QWebEnginePage::Reload);
}

QString ParentBrowserView::title() const
{
    return m_page->title();
}

QUrl ParentBrowserView::currentUrl() const
{
    return m_page->url();
}
