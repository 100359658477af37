#include "parents/SiteList.h"

#include "shell/PortalClient.h"

#include <QSet>
#include <QStringView>

#include <algorithm>

namespace {

constexpr int FieldsPerRow = 9;

// Ids go into requests and into the site editor (a 32-bit integer, 0 meaning a
// new site): a row whose id is not a positive 32-bit number cannot be ticked or edited.
// The id is read as the portal writes it, in plain digits with no leading zero
// or space, so one site has one spelling and a repeat shows as one.
bool isSiteId(QStringView id)
{
    bool ok = false;
    const qint32 value = id.toInt(&ok);
    return ok && value > 0 && id.front() != u'0'
        && std::all_of(id.begin(), id.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

SiteListReply parseAvailableSites(const QByteArray &reply)
{
    SiteListReply result;
    const QString text = QString::fromUtf8(reply);
    QSet<QStringView> seen;
    QList<QStringView> fields;
    fields.reserve(FieldsPerRow + 1);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1String("\r\n"), start);
        if (end < 0)
            end = text.size();
        const QStringView row = QStringView(text).mid(start, end - start);
        start = end + 2;

        fields.clear();
        for (QStringView field : row.tokenize(u'\t')) {
            fields.append(field);
            if (fields.size() == FieldsPerRow)
                break; // further fields are not read
        }
        if (fields.size() < FieldsPerRow || !isSiteId(fields.at(0))) {
            ++result.unreadable;
            continue;
        }
        if (seen.contains(fields.at(0))) {
            ++result.repeated;
            continue;
        }
        seen.insert(fields.at(0));
        SiteRow site;
        site.id = fields.at(0).toString();
        site.shortName = fields.at(1).toString();
        site.url = fields.at(2).toString();
        site.ages = fields.at(3).toString();
        site.comments = fields.at(4).toString();
        site.type = fields.at(5).toString();
        site.ticked = fields.at(7) == u"-1";
        site.logo = fields.at(8).toString();
        result.rows.append(std::move(site));
    }
    return result;
}

QString leftOutRowsMessage(const SiteListReply &reply)
{
    QStringList parts;
    if (reply.unreadable == 1)
        parts << QStringLiteral("1 row of the site list could not be read");
    else if (reply.unreadable > 1)
        parts << QStringLiteral("%1 rows of the site list could not be read").arg(reply.unreadable);
    if (reply.repeated == 1)
        parts << QStringLiteral("1 row repeated a site already in the list");
    else if (reply.repeated > 1)
        parts << QStringLiteral("%1 rows repeated sites already in the list").arg(reply.repeated);
    if (parts.isEmpty())
        return QString();
    return parts.join(QStringLiteral(" and ")) + QStringLiteral("; they were left out and the other sites are shown.");
}

QString changeNotSavedMessage(const QString &change, const FetchResult &failed)
{
    if (failed.unsure) {
        return QStringLiteral("%1 may have reached the Tadpole portal, but no answer said whether it was made. Look at the list "
                              "before you make the change again, or it may be made twice.\r\n\r\n%2")
            .arg(change, failed.error);
    }
    return QStringLiteral("%1 was not made at the Tadpole portal: nothing was changed there.\r\n\r\n%2").arg(change, failed.error);
}
