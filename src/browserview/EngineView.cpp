#include "browserview/EngineView.h"

#include <QWebEnginePage>
#include <QWebEngineView>

EngineView::EngineView(QWidget *parent, QWebEngineView *view) : BrowserView(parent), m_view(view) {}

void EngineView::showPage(QWebEnginePage *page)
{
    m_page = page;
    m_view->setPage(page);
    connect(page, &QWebEnginePage::loadProgress, this, [this](int percent) { emit loadProgress(percent, 100); });
    connect(page, &QWebEnginePage::urlChanged, this, &BrowserView::urlChanged);
    connect(page, &QWebEnginePage::windowCloseRequested, this, &BrowserView::closeRequested);
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        emit loadProgress(0, 0);
        // A failed or cancelled load completes nothing: a blocked address must
        // never be learned.
        if (ok)
            pageLoaded();
        emit loadFinished(ok);
    });
}

QWidget *EngineView::widget()
{
    return m_view;
}

void EngineView::navigate(const QString &address)
{
    m_page->load(QUrl(address));
}

void EngineView::back()
{
    m_page->triggerAction(QWebEnginePage::Back);
}

void EngineView::forward()
{
    m_page->triggerAction(QWebEnginePage::Forward);
}

void EngineView::reload()
{
    m_page->triggerAction(QWebEnginePage::Reload);
}

QString EngineView::title() const
{
    const QString t = m_page->title();
    // QtWebEngine reports the address as the title of a page without one.
    return t == m_page->url().toString() || t == m_page->url().toDisplayString() ? QString() : t;
}

QUrl EngineView::currentUrl() const
{
    return m_page->url();
}

void EngineView::setAudioMuted(bool muted)
{
    m_page->setAudioMuted(muted);
}
