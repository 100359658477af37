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

ParentBrowserView::ParentBrowserView(QWidget *parent) : EngineView(parent, new QWebEngineView(parent))
{
    showPage(new ParentPage(this));
}
