#include "shell/PortalClient.h"

#include <QRegularExpression>
#include <QUrl>

PortalClient::PortalClient(PortalTransport &transport, QString portalBase, QString userId)
    : m_transport(transport), m_portalBase(std::move(portalBase)), m_userId(std::move(userId))
{
}

namespace {
QString childKey(int child)
{
    return QString::number(child + 1);
}
} // namespace

QString PortalClient::startPageAddress() const
{
    return address(QStringLiteral("tad_start.asp"));
}

QString PortalClient::menuAddress(int child) const
{
    return address(QStringLiteral("tad_menu.asp"), {{QStringLiteral("t"), childKey(child)}, {QStringLiteral("userid"), m_userId}});
}

QString PortalClient::logoAddress(const QString &logo) const
{
    // The base ends in a slash, so two meet before "logos/"; the portal serves both.
    return m_portalBase + QStringLiteral("/logos/") + QString::fromLatin1(QUrl::toPercentEncoding(logo));
}

FetchResult PortalClient::visit(const QString &version)
{
    return request(QStringLiteral("tad_visit.asp"), {{QStringLiteral("userid"), m_userId}, {QStringLiteral("ver"), version}});
}

std::optional<QString> PortalClient::faceNames()
{
    return requestText(QStringLiteral("tad_getface.asp"), {{QStringLiteral("userid"), m_userId}});
}

FetchResult PortalClient::availableSites(int child)
{
    return request(QStringLiteral("tad_available.asp"), {{QStringLiteral("t"), childKey(child)}, {QStringLiteral("userid"), m_userId}});
}

FetchResult PortalClient::saveTick(const QString &item, bool ticked, int child)
{
    return request(QStringLiteral("tad_saveitem.asp"),
                   {{QStringLiteral("item"), item},
                    {QStringLiteral("checked"), ticked ? QStringLiteral("True") : QStringLiteral("False")},
                    {QStringLiteral("t"), childKey(child)},
                    {QStringLiteral("userid"), m_userId}});
}

FetchResult PortalClient::saveFaceName(int child, const QString &name)
{
    return request(QStringLiteral("tad_saveface.asp"),
                   {{QStringLiteral("userid"), m_userId}, {QStringLiteral("tface"), childKey(child)}, {QStringLiteral("newname"), name}});
}

FetchResult PortalClient::postSite(const SiteFields &site, bool remove, const QString &type)
{
    QueryItems query = {{QStringLiteral("url"), site.url},         {QStringLiteral("shortname"), site.shortName},
                        {QStringLiteral("comments"), site.comments}, {QStringLiteral("AgeFrom"), site.ageFrom},
                        {QStringLiteral("AgeTo"), site.ageTo},       {QStringLiteral("LogoLoc"), site.logo},
                        {QStringLiteral("id"), site.id},             {QStringLiteral("userid"), m_userId},
                        {QStringLiteral("Delete"), remove ? QStringLiteral("1") : QStringLiteral("0")}};
    if (!remove)
        query.append({QStringLiteral("Type"), type});
    return request(QStringLiteral("tad_postsite.asp"), query);
}

FetchResult PortalClient::suggestSite(const QString &url, const QString &email)
{
    return request(QStringLiteral("tad_suggestsite.asp"),
                   {{QStringLiteral("userid"), m_userId}, {QStringLiteral("url"), url}, {QStringLiteral("email"), email}});
}

static QString withQuery(const QString &base, const QueryItems &query)
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
    return m_transport.fetch(address(page, query));
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
    // Each part can be read only one way, so a long reply that is no number
    // is refused in time that grows with its length, not with its square.
    static const QRegularExpression number(
        QStringLiteral(R"(^[ \t\r\n]*[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?[ \t\r\n]*$)"));
    return number.match(text).hasMatch();
}

bool PortalClient::checkPortal(QString *why)
{
    const FetchResult reply = request(QStringLiteral("version.htm"));
    const bool answered = reply.ok() && readsAsNumber(QString::fromUtf8(*reply.body));
    if (why)
        *why = answered ? QString() : reply.ok() ? QStringLiteral("its version.htm holds no version number") : reply.error;
    return answered;
}

QStringList PortalClient::faceNamesFrom(const std::optional<QString> &reply)
{
    QStringList names = reply ? reply->split(QLatin1Char('\t')) : QStringList();
    for (qsizetype i = names.size(); i < 4; ++i)
        names << QStringLiteral("Child %1").arg(i + 1);
    return names.mid(0, 4);
}
