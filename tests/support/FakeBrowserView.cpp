#include "support/FakeBrowserView.h"

#include <QWidget>

FakeBrowserView::FakeBrowserView(QWidget *parent) : BrowserView(parent), m_widget(new QWidget(parent)) {}

void FakeBrowserView::navigate(const QString &address)
{
    navigated << address;
    simulateNavigation(address);
}

bool FakeBrowserView::simulateNavigation(const QString &address, bool mainFrame)
{
    NavigationRequest request{.url = QUrl(address), .mainFrame = mainFrame, .redirectedFrom = m_url, .origin = m_url};
    emit navigationRequested(request);
    if (request.cancel) {
        if (mainFrame)
            emit loadFinished(false);
        return false;
    }
    if (mainFrame && m_url != request.url)
        emit urlChanged(m_url = request.url);
    emit documentLoaded(request.url, mainFrame);
    if (mainFrame)
        emit loadFinished(true);
    return true;
}

NewWindowRequest FakeBrowserView::simulateNewWindow()
{
    NewWindowRequest request;
    emit newWindowRequested(request);
    return request;
}
