#pragma once

// The links a child's menu sends the browser through (tad_go.asp): signed by the portal, so
// that nobody can publish a portal address that sends browsers anywhere.
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
