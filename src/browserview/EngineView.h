#pragma once

#include "browserview/BrowserView.h"

class QWebEnginePage;
class QWebEngineView;

// A QtWebEngine page in a view, moved in its history: what the child's views
// and the parent's preview share. Each makes its own page; a completed load
// is handed to pageLoaded before loadFinished goes out.
class EngineView : public BrowserView {
    Q_OBJECT
public:
    QWidget *widget() override;
    void navigate(const QString &address) override;
    void back() override;
    void forward() override;
    void reload() override;
    QString title() const override;
    QUrl currentUrl() const override;
    void setAudioMuted(bool muted) override;

    QWebEngineView *webView() const { return m_view; }

protected:
    EngineView(QWidget *parent, QWebEngineView *view);
    // Shows `page` in the view and passes its progress and its load's end on.
    void showPage(QWebEnginePage *page);
    virtual void pageLoaded() {}

private:
    QWebEngineView *m_view;
    QWebEnginePage *m_page = nullptr;
};
