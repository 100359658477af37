#include "filter/FilterAddress.h"

#include <QStringList>

namespace FilterAddress {

namespace {

constexpr QUrl::ComponentFormattingOptions Encoded = QUrl::FullyEncoded;
constexpr qsizetype QuestionLength = 120;
constexpr qsizetype UserInfoShown = 16;

QString hostAndPort(const QUrl &url)
{
    QString text = url.host(Encoded);
    if (text.contains(u':'))
        text = u'[' + text + u']';
    if (url.port() >= 0)
        text += u':' + QString::number(url.port());
    return text;
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
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("blob") || scheme == QLatin1String("filesystem")) {
        // Their path is the address of the origin that made them.
        const QUrl inner(url.path(Encoded));
        return scheme + u':' + (inner.scheme().isEmpty() ? QString() : tested(inner, scope));
    }
    if (scheme == QLatin1String("about"))
        return url.toString(Encoded | QUrl::RemoveQuery | QUrl::RemoveFragment); // about:blank is a page, not a place
    if (url.host().isEmpty())
        return scheme + u':';
    return scheme + QStringLiteral("://") + hostAndPort(url);
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
    return isBrowsableScheme(url) && list.allows(tested(url, scope));
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
