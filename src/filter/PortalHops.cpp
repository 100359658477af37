#include "filter/PortalHops.h"

#include <QUrlQuery>

PortalHops::PortalHops(const QString &portalBase, const QString &userId) : m_base(portalBase), m_userId(userId) {}

bool PortalHops::exempts(bool redirect, bool mainFrame, const QUrl &from, const QUrl &origin) const
{
    return redirect && mainFrame && isOwnGoLink(from) && isOwnMenuPage(origin);
}

bool PortalHops::isOwnMenuPage(const QUrl &url) const
{
    return isOwnPortalPage(url, QStringLiteral("tad_menu.asp"));
}

bool PortalHops::isOwnGoLink(const QUrl &url) const
{
    return isOwnPortalPage(url, QStringLiteral("tad_go.asp"));
}

bool PortalHops::isOwnPortalPage(const QUrl &url, const QString &page) const
{
    if (m_userId.isEmpty() || !m_base.isValid() || !url.isValid())
        return false;
    if (url.scheme() != m_base.scheme() || url.host().compare(m_base.host(), Qt::CaseInsensitive) != 0
        || url.port(80) != m_base.port(80) || !url.userInfo().isEmpty())
        return false;
    if (url.path().compare(m_base.path() + page, Qt::CaseInsensitive) != 0)
        return false;
    // One "userid", and it is ours: a second one could be the one the portal reads.
    const QStringList ids = QUrlQuery(url).allQueryItemValues(QStringLiteral("userid"), QUrl::FullyDecoded);
    return ids.size() == 1 && ids.first() == m_userId;
}
