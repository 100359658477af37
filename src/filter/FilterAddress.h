#pragma once

#include "filter/AllowList.h"

#include <QString>
#include <QUrl>

// How the filter reads an address. Everything it shows and keeps (the status
// line, the blocked address) is the whole address, fully encoded, and the allow
// test reads that same encoded text: "/%70aypal" is never tested as "/paypal".
namespace FilterAddress {

// Where the allow test looks for entries. `Address` (the default): the whole
// address but for the user-info before "@" and the fragment after "#", which say
// nothing about where it leads. `Host`, a stricter choice for parents: only the
// host and port, never the path or query, each entry naming a host and the
// hosts under it (see HostIndex); a blob: or filesystem: address is read as the
// origin it names, and data: pages are blocked.
enum class MatchScope { Address, Host };
MatchScope matchScopeFrom(const QString &setting); // "host", any case, or else Address

// The whole address, fully encoded: what the status line shows and blockedUrl keeps.
QString whole(const QUrl &url);

// The text the allow test looks in; in host mode, what it reads as text
// ("https://www.kids.example:81", "about:blank", "data:").
QString tested(const QUrl &url, MatchScope scope);

// The address without user-info and fragment, fully encoded: what site names
// are made from, so a learned or unblocked entry is the host the address leads to.
QString siteAddress(const QUrl &url);

// The host and port, fully encoded, an IPv6 address in brackets ("[::1]:8642").
QString hostAndPort(const QUrl &url);

// Only these schemes are loaded; any other (mailto:, ftp:, a program's own)
// would be handed to a program outside the browser, so it is refused before
// the allow test.
bool isBrowsableScheme(const QUrl &url);

// The browsable scheme and the allow test together: true when the address may load.
bool allows(const AllowList &list, const QUrl &url, MatchScope scope);

// An address for a question: whole when short enough, otherwise elided in the
// middle of its user-info and of its path, so its host always shows.
QString forQuestion(const QString &address);

} // namespace FilterAddress
