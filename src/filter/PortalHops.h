#pragma once

#include <QString>
#include <QUrl>

// The menu's tiles reach their sites through the portal's go page, which
// answers with a redirect to a site ticked for the child. That one hop is let
// through without the allow test, but only for a go link of this installation
// clicked on this installation's own menu page: anyone can make an installation
// of their own and a go link to any site, and put it on a page the child reaches.
class PortalHops {
public:
    PortalHops() = default;
    PortalHops(const QString &portalBase, const QString &userId);

    // `from` is the address the redirect leaves (the go link), `origin` the page
    // that was showing when the navigation that led to it began.
    bool exempts(bool redirect, bool mainFrame, const QUrl &from, const QUrl &origin) const;

    bool isOwnMenuPage(const QUrl &url) const;
    bool isOwnGoLink(const QUrl &url) const;

private:
    bool isOwnPortalPage(const QUrl &url, const QString &page) const;

    QUrl m_base;
    QString m_userId;
};
