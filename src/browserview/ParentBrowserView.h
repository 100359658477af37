#pragma once

#include "browserview/BrowserView.h"

class QWebEnginePage;
class QWebEngineView;

// A view for the parent's own look at a site ("Preview this Site"). Its pages
// run on a profile of their own: the child's request filter and restrictions
// never reach it, and it raises no navigation events, so nothing it shows is
// put to the allow test or learned. A page's request for a new window loads in
// this same view, and an address of a scheme that only a program outside ours
// could show is refused: nothing escapes it.
class ParentBrowserView : public BrowserView {
    Q_OBJECT
public:
    explicit ParentBrowserView(QWidget *parent);

    QWidget *widget() override;
    void navigate(const QString &address) override;
    void back() override;
    void forward() override;
    void reload() override;
    QString title() const override;
    QUrl currentUrl() const override;

    QWebEngineView *webView() const { return m_view; }
    QWebEnginePage *page() const { return m_page; }

private:
    QWebEngineView *m_view;
    QWebEnginePage *m_page;
};
