#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// A fetch gives the body or a failure, never an empty string for both.
struct FetchResult {
    std::optional<QByteArray> body;
    QString error;
    // Failed after the request was sent, with no answer that says whether it
    // was made (none, a cut-off one, the portal's or a gateway's failure): a
    // change may have been made there all the same.
    bool unsure = false;

    bool ok() const { return body.has_value(); }
    static FetchResult success(QByteArray bytes) { return {std::move(bytes), QString()}; }
    static FetchResult failure(QString reason) { return {std::nullopt, std::move(reason)}; }
};

// One blocking GET. Implementations return only when the whole reply has
// arrived or the request failed.
class PortalTransport {
public:
    virtual ~PortalTransport() = default;
    virtual FetchResult fetch(const QString &address) = 0;
};

using QueryItems = QList<QPair<QString, QString>>;

// A site as the site editor sends it to the portal.
struct SiteFields {
    QString url, shortName, comments, ageFrom, ageTo, logo, id;
};

// The portal's pages, one call each: no window spells a page name or a query
// key. Children are counted 0 to 3 here and 1 to 4 towards the portal.
class PortalClient {
public:
    PortalClient(PortalTransport &transport, QString portalBase, QString userId = QString());

    const QString &portalBase() const { return m_portalBase; }
    void setUserId(const QString &userId) { m_userId = userId; }

    // Pages a view shows.
    QString startPageAddress() const;
    QString menuAddress(int child) const;
    QString logoAddress(const QString &logo) const;

    // True when "version.htm" answers with a number; a failure counts as
    // false, and `why` says what went wrong.
    bool checkPortal(QString *why = nullptr);
    // The log-on: this installation and its version.
    FetchResult visit(const QString &version);
    // The children's names, TAB-separated; see faceNamesFrom.
    std::optional<QString> faceNames();
    FetchResult availableSites(int child);
    FetchResult saveTick(const QString &item, bool ticked, int child);
    FetchResult saveFaceName(int child, const QString &name);
    // Saves (type "1" public, "2" private) or, with `remove`, deletes a site.
    FetchResult postSite(const SiteFields &site, bool remove, const QString &type = QString());
    FetchResult suggestSite(const QString &url, const QString &email);

    // portalBase + page + "?" + key=value pairs joined by "&", keys as given
    // and in the given order. Values are percent-encoded (UTF-8, unreserved
    // characters as they are): a name holding "&", "#", "=" or "%" would
    // otherwise cut the request short or inject keys of its own.
    QString address(const QString &page, const QueryItems &query = {}) const;

    FetchResult request(const QString &page, const QueryItems &query = {});
    // The body as text; std::nullopt on a failed request.
    std::optional<QString> requestText(const QString &page, const QueryItems &query = {});

    static bool readsAsNumber(const QString &text);
    // The four children's names from a TAB-separated reply; missing pieces
    // (a short reply, or no reply at all) become "Child 2" and so on.
    static QStringList faceNamesFrom(const std::optional<QString> &reply);

private:
    PortalTransport &m_transport;
    QString m_portalBase;
    QString m_userId;
};
