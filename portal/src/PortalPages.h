#pragma once

#include "HttpMessage.h"
#include "PortalStore.h"
#include "QueryString.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

struct PortalConfig {
    QSet<QString> maintainers;
    bool demo = false;
    quint16 port = 0;          // put in place of the port placeholder in stored addresses
    QString radioStream;       // empty: the radio page plays nothing
    QByteArray version = "2.04";
};

// Answers every page of the portal for one worker thread, on that thread's own store.
class PortalPages : public RequestHandler {
public:
    using StoreFactory = std::function<std::unique_ptr<PortalStore>()>;

    PortalPages(const PortalConfig &config, StoreFactory storeFactory);
    HttpReply handle(const HttpRequest &request) override;

private:
    HttpReply portalPage(const QByteArray &page, const QueryString &query);
    HttpReply logo(const QByteArray &encodedName);
    HttpReply visit(const QueryString &q);
    HttpReply getFace(const QueryString &q);
    HttpReply menu(const QueryString &q);
    HttpReply go(const QueryString &q);
    HttpReply available(const QueryString &q);
    HttpReply saveItem(const QueryString &q);
    HttpReply saveFace(const QueryString &q);
    HttpReply postSite(const QueryString &q);
    HttpReply suggestSite(const QueryString &q);

    PortalStore *store();
    HttpReply fromOutcome(Outcome outcome, const QByteArray &okBody = "OK");
    HttpReply storeFailure();
    QString resolveAddress(const QString &stored) const;
    bool isMaintainer(const QString &userid) const;

    // A reply built from the site list, kept per worker while the database's change
    // generation stays the same.
    struct CachedBody {
        qint64 generation = -1;
        QByteArray body;
    };
    std::optional<QByteArray> cached(const QString &key, qint64 *generation);
    void remember(const QString &key, qint64 generation, const QByteArray &body);

    PortalConfig m_config;
    QHash<QString, CachedBody> m_cache;
    StoreFactory m_storeFactory;
    std::unique_ptr<PortalStore> m_store;
};
