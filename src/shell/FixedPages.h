#pragma once

#include "shell/AppConfig.h"

#include <QString>

// The fixed pages the toolbar and the message line open: on the public
// portal's host and on the product's web site, whichever portal is in use.
namespace FixedPages {

QString radio(const AppConfig &config);
QString help(const AppConfig &config);
QString mail(const AppConfig &config);
QString donation(const AppConfig &config);
QString tellAFriend(const AppConfig &config, const QString &userId);

} // namespace FixedPages
