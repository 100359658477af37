#include "shell/FixedPages.h"

#include "shell/StartupPaths.h"

#include <QUrl>

namespace FixedPages {

QString radio(const QString &portalBase)
{
    return QUrl(portalBase).resolved(QUrl(QStringLiteral("/tad/radiodis.htm"))).toString();
}

QString help()
{
    return QStringLiteral("qrc:/help/help.html");
}

QString mail(const AppConfig &config)
{
    return QStringLiteral("http://") + config.productSite + QStringLiteral("/mail/mail.asp");
}

QString donation(const AppConfig &config)
{
    return QStringLiteral("http://www.") + config.productSite + QStringLiteral("/donate.htm");
}

QString tellAFriend(const AppConfig &config, const QString &userId)
{
    return portalOrigin(config.portalPublic) + QStringLiteral("/tad/tadpole.asp?userid=") + userId;
}

} // namespace FixedPages
