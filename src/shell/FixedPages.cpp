#include "shell/FixedPages.h"

namespace FixedPages {

QString radio(const AppConfig &config)
{
    return QStringLiteral("http://") + config.portalPublic + QStringLiteral("/tad/radiodis.htm");
}

QString help(const AppConfig &config)
{
    return QStringLiteral("http://www.") + config.productSite + QStringLiteral("/");
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
    return QStringLiteral("http://") + config.portalPublic + QStringLiteral("/tad/tadpole.asp?userid=") + userId;
}

} // namespace FixedPages
