#include "filter/FilterAddress.h"

#include <QStringList>

namespace FilterAddress {

namespace {

constexpr QUrl::ComponentFormattingOptions Encoded = QUrl::FullyEncoded;
constexpr qsizetype QuestionLength = 120;
constexpr qsizetype UserInfoShown = 16;

// about:blank is a page, not a place: read without its query and fragment.
QString hostless(const QUrl &url)
{
    return url.toString(Encoded | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// What host mode reads of an address. The path of a blob: or filesystem:
// address is the address of the origin that made it; `prefix` keeps the
// schemes read on the way ("blob:"). A real one names its origin at once; one
// nested deeper is not readable. The prefixes are read off the text, and the
// origin parsed once: the cost stays the address's length however deep it goes.
struct Origin
{
    QString prefix;
    QUrl url;
    bool readable = true;
};

constexpr int MaxNesting = 2;

bool isNesting(QStringView scheme)
{
    return scheme.compare(QLatin1String("blob"), Qt::CaseInsensitive) == 0
            || scheme.compare(QLatin1String("filesystem"), Qt::CaseInsensitive) == 0;
}

// The scheme at the start of the text, before its ":"; empty when there is none.
QStringView leadingScheme(QStringView text)
{
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        const bool letter = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
        if (!(letter || (i > 0 && ((u >= u'0' && u <= u'9') || u == u'+' || u == u'-' || u == u'.'))))
            break;
    }
    return i > 0 && i < text.size() && text[i] == u':' ? text.first(i) : QStringView();
}

Origin originOf(const QUrl &url)
{
    Origin origin;
    if (!isNesting(url.scheme())) {
        origin.url = url;
        return origin;
    }
    origin.prefix = url.scheme().toLower() + u':';
    const QString path = url.path(Encoded);
    QStringView rest = path;
    int depth = 1;
    for (QStringView scheme = leadingScheme(rest); isNesting(scheme); scheme = leadingScheme(rest)) {
        if (++depth > MaxNesting) {
            origin.readable = false;
            return origin;
        }
        origin.prefix += scheme.toString().toLower() + u':';
        rest = rest.sliced(scheme.size() + 1);
    }
    origin.url = QUrl(rest.toString());
    return origin;
}

QString elideMiddle(const QString &text, qsizetype length)
{
    if (text.size() <= length)
        return text;
    const qsizetype side = std::max<qsizetype>(1, (length - 1) / 2);
    return text.left(side) + QChar(0x2026) + text.right(side);
}

} // namespace

MatchScope matchScopeFrom(const QString &setting)
{
    return setting.trimmed().compare(QLatin1String("host"), Qt::CaseInsensitive) == 0 ? MatchScope::Host
                                                                                       : MatchScope::Address;
}

QString whole(const QUrl &url)
{
    return url.toString(Encoded);
}

QString siteAddress(const QUrl &url)
{
    return url.toString(Encoded | QUrl::RemoveUserInfo | QUrl::RemoveFragment);
}

QString tested(const QUrl &url, MatchScope scope)
{
    if (scope == MatchScope::Address)
        return siteAddress(url);
    const Origin origin = originOf(url);
    if (!origin.readable || origin.url.scheme().isEmpty())
        return origin.prefix;
    const QString scheme = origin.url.scheme().toLower();
    if (scheme == QLatin1String("about"))
        return origin.prefix + hostless(origin.url);
    if (origin.url.host().isEmpty())
        return origin.prefix + scheme + u':';
    return origin.prefix + scheme + QStringLiteral("://") + hostAndPort(origin.url);
}

QString hostAndPort(const QUrl &url)
{
    QString text = url.host(Encoded);
    if (text.contains(u':'))
        text = u'[' + text + u']';
    if (url.port() >= 0)
        text += u':' + QString::number(url.port());
    return text;
}

bool isBrowsableScheme(const QUrl &url)
{
    static const QStringList browsable = {
        QStringLiteral("http"),       QStringLiteral("https"), QStringLiteral("about"),     QStringLiteral("javascript"),
        QStringLiteral("data"),       QStringLiteral("blob"),  QStringLiteral("filesystem"),
    };
    return browsable.contains(url.scheme(), Qt::CaseInsensitive);
}

bool allows(const AllowList &list, const QUrl &url, MatchScope scope)
{
    if (!isBrowsableScheme(url))
        return false;
    if (scope == MatchScope::Address)
        return list.allows(siteAddress(url));
    const Origin origin = originOf(url);
    if (!origin.readable)
        return false;
    const QString scheme = origin.url.scheme(); // QUrl keeps it in lower case
    const QString host = origin.url.host(Encoded);
    if (!host.isEmpty()) {
        const int defaultPort = scheme == QLatin1String("https") || scheme == QLatin1String("wss") ? 443
                : scheme == QLatin1String("http") || scheme == QLatin1String("ws")                 ? 80
                                                                                                    : -1;
        return list.hosts().allowsHost(host, origin.url.port(defaultPort));
    }
    if (scheme == QLatin1String("about"))
        return list.hosts().holdsHostless(hostless(origin.url));
    if (scheme == QLatin1String("javascript"))
        return list.hosts().holdsHostless(u"javascript");
    return false; // data: pages, and anything else without a host
}

QString forQuestion(const QString &address)
{
    if (address.size() <= QuestionLength)
        return address;
    const QUrl url(address);
    if (url.host().isEmpty())
        return elideMiddle(address, QuestionLength);
    QString head = url.scheme() + QStringLiteral("://");
    const QString userInfo = url.userInfo(Encoded);
    if (!userInfo.isEmpty())
        head += elideMiddle(userInfo, UserInfoShown) + u'@';
    head += hostAndPort(url);
    const QString rest = url.toString(Encoded | QUrl::RemoveScheme | QUrl::RemoveAuthority);
    return head + elideMiddle(rest, std::max<qsizetype>(24, QuestionLength - head.size()));
}

} // namespace FilterAddress
