#include "shell/PortalClient.h"

#include <QRegularExpression>
#include <QUrl>

PortalClient::PortalClient(PortalTransport &transport, QString portalBase)
    : m_transport(transport), m_portalBase(std::move(portalBase))
{
}

QString PortalClient::withQuery(const QString &base, const QueryItems &query)
{
    QString result = base;
    for (qsizetype i = 0; i < query.size(); ++i) {
        result += i == 0 ? QLatin1Char('?') : QLatin1Char('&');
        result += query.at(i).first + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(query.at(i).second));
    }
    return result;
}

QString PortalClient::address(const QString &page, const QueryItems &query) const
{
    return withQuery(m_portalBase + page, query);
}

FetchResult PortalClient::request(const QString &page, const QueryItems &query)
{
    return m_transport.OpenURL(address(page, query));
}

std::optional<QString> PortalClient::requestText(const QString &page, const QueryItems &query)
{
    const FetchResult result = request(page, query);
    if (!result.ok())
        return std::nullopt;
    return QString::fromUtf8(*result.body);
}

bool PortalClient::readsAsNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^[ \t\r\n]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t\r\n]*$)"));
    return number.match(text).hasMatch();
}

bool PortalClient::CheckPortal()
{
    const std::optional<QString> reply = requestText(QStringLiteral("version.htm"));
    return reply && readsAsNumber(*reply);
}

QStringList PortalClient::faceNamesFrom(const std::optional<QString> &reply)
{
    QStringList names = reply ? reply->split(QLatin1Char('\t')) : QStringList();
    for (qsizetype i = names.size(); i < 4; ++i)
        names << QStringLiteral("Child %1").arg(i + 1);
    return names.mid(0, 4);
}
