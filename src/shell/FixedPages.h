#pragma once

#include "shell/AppConfig.h"

#include <QString>

// The fixed pages the toolbar and the message line open: on the public
// portal's host and on the product's web site, whichever portal is in use;
// only the radio's comes from the portal in use.
namespace FixedPages {

// The hidden player's page on the portal in use: the public host is in no
// allow list of a loopback or local-network installation.
QString radio(const QString &portalBase);
// Our own help page, from the program's resources: the product's site is in
// no child's allow list.
QString help();
QString mail(const AppConfig &config);
QString donation(const AppConfig &config);
QString tellAFriend(const AppConfig &config, const QString &userId);

} // namespace FixedPages
