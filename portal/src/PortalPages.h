#pragma once

#include "ChangeFeed.h"
#include "HttpMessage.h"
#include "PortalBounds.h"
#include "PortalStore.h"
#include "QueryString.h"
#include "ReplyCache.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

struct PortalConfig {
    QSet<QString> maintainers;
    bool demo = false;
    quint16 port = 0;          // put in place of the port placeholder in stored addresses
    QString radioStream;       // empty: the radio page plays nothing
    QByteArray version = "2.04";
    QByteArray goLinkKey;                 // signs the menu's go links; kept in the database
    std::shared_ptr<ReplyCache> cache;    // shared by every worker
    std::shared_ptr<ChangeFeed> changes;  // tells when kept replies may be stale
    PortalBounds bounds;
    std::shared_ptr<WriteRate> writeRate; // shared by every worker; made from `bounds` when missing
};

// Answers every page of the portal for one worker thread, on that thread's own store.
class PortalPages : public RequestHandler {
public:
    using StoreFactory = std::function<std::unique_ptr<PortalStore>()>;

    PortalPages(const PortalConfig &config, StoreFactory storeFactory);
    HttpReply handle(const HttpRequest &request) override;

private:
    HttpReply portalPage(const QByteArray &page, const QueryString &query, const HttpRequest &request);
    HttpReply logo(const QByteArray &encodedName);
    HttpReply visit(const QueryString &q);
    HttpReply getFace(const QueryString &q);
    HttpReply menu(const QueryString &q);
    HttpReply go(const QueryString &q, const HttpRequest &request);
    HttpReply available(const QueryString &q);
    HttpReply saveItem(const QueryString &q);
    HttpReply saveFace(const QueryString &q);
    HttpReply postSite(const QueryString &q);
    HttpReply suggestSite(const QueryString &q);

    PortalStore *store();
    HttpReply fromOutcome(Outcome outcome, const QByteArray &okBody = "OK");
    // The same, after a change: replies kept until now may be stale.
    HttpReply afterChange(Outcome outcome, const QByteArray &okBody = "OK");
    HttpReply storeFailure();
    QString resolveAddress(const QString &stored) const;
    bool isMaintainer(const QString &userid) const;

    // A reply built from the rows `owner` reads; nothing when the database failed.
    using Builder = std::function<std::optional<CachedReply>(const QString &owner)>;
    std::shared_ptr<const CachedReply> reply(const char *page, int child, const QString &userid, const Builder &build);
    std::optional<QString> rowsOwner(const QString &userid, quint64 generation);
    std::optional<CachedReply> buildFaces(const QString &owner);
    std::optional<CachedReply> buildAvailable(const QString &owner, int child);
    std::optional<CachedReply> buildMenu(const QString &owner, int child);
    QByteArray withGoLinks(const CachedReply &menu, int child, const QString &userid) const;

    PortalConfig m_config;
    StoreFactory m_storeFactory;
    std::unique_ptr<PortalStore> m_store;
    bool m_writing = false;  // the request being answered writes
};
