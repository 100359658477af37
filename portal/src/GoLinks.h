#pragma once

// The links a child's menu sends the browser through (tad_go.asp): signed by the portal, so
// that nobody can publish a portal address that sends browsers anywhere.
#include "HttpMessage.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The signature a menu's go link carries: HMAC-SHA256, under the portal's key, of the
// installation, the child, the site and the site's stored address; 128 bits in hex. A link
// made by hand, for another child or site, or before the site's address changed, fails it.
QByteArray goLinkSignature(const QByteArray &key, const QString &userid, int child, qint64 site,
                           const QString &storedUrl);

// True when `signature` is the one goLinkSignature gives for that link.
bool isGoLinkSignature(const QByteArray &signature, const QByteArray &key, const QString &userid, int child,
                       qint64 site, const QString &storedUrl);

// The Location a go link sends the browser to for a stored address: an http or https
// address with a host; nothing for any other.
std::optional<QByteArray> redirectTarget(const QString &stored);

// True when `referer` is the menu page of installation `userid`'s child `child`, on the host
// the request was sent to (`host`, the request's Host field; its port is not compared, as a
// proxy in front may pass the name alone): the address a browser sends as Referer when a
// tile of that menu is clicked. A page elsewhere cannot pass for it, whatever its path.
bool isOwnMenuReferer(const QByteArray &referer, const QByteArray &host, const QString &userid, int child);

// What a go link to a family's own site answers when it was not followed from that family's
// menu: a small page that names the destination's host and says the link leads away from
// the portal; nothing on it moves the browser on.
HttpReply leavingPortalPage(const QByteArray &location);
