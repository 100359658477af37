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

    bool ok() const { return body.has_value(); }
    static FetchResult success(QByteArray bytes) { return {std::move(bytes), QString()}; }
    static FetchResult failure(QString reason) { return {std::nullopt, std::move(reason)}; }
};

// One blocking GET. Implementations return only when the whole reply has
// arrived or the request failed.
class PortalTransport {
public:
    virtual ~PortalTransport() = default;
    virtual FetchResult OpenURL(const QString &address) = 0;
};

using QueryItems = QList<QPair<QString, QString>>;

// Builds portal addresses and reads the replies' shared conventions.
class PortalClient {
public:
    PortalClient(PortalTransport &transport, QString portalBase);

    const QString &portalBase() const { return m_portalBase; }

    // PortalBase + page + "?" + key=value pairs joined by "&", keys as given
    // and in the given order. Values are percent-encoded (UTF-8, unreserved
    // characters as they are): a name holding "&", "#", "=" or "%" would
    // otherwise cut the request short or inject keys of its own.
    QString address(const QString &page, const QueryItems &query = {}) const;
    static QString withQuery(const QString &base, const QueryItems &query);

    FetchResult request(const QString &page, const QueryItems &query = {});
    // The body as text; std::nullopt on a failed request.
    std::optional<QString> requestText(const QString &page, const QueryItems &query = {});

    // True when "version.htm" answers with a number; a failure counts as false.
    bool CheckPortal();

    static bool readsAsNumber(const QString &text);
    // The four children's names from a TAB-separated reply; missing pieces
    // (a short reply, or no reply at all) become "Child 2" and so on.
    static QStringList faceNamesFrom(const std::optional<QString> &reply);

private:
    PortalTransport &m_transport;
    QString m_portalBase;
};
