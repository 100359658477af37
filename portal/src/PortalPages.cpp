#include "PortalPages.h"

#include "DatabaseErrors.h"
#include "DemoSite.h"
#include "GoLinks.h"
#include "Logos.h"
#include "PageQuery.h"

#include <QUrl>

using namespace pagequery;

namespace {

HttpReply bad(const QByteArray &reason)
{
    return HttpReply::text(400, "bad request: " + reason + '\n');
}

QByteArray htmlHead(const QString &title, bool withTitle = true)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           + (withTitle ? "<title>" + title.toHtmlEscaped().toUtf8() + "</title>" : QByteArray())
           + "</head>\n<body style=\"font-family:sans-serif\">\n";
}

constexpr char HtmlTail[] = "\n</body></html>\n";

HttpReply htmlReply(const QByteArray &document)
{
    HttpReply r;
    r.contentType = "text/html; charset=utf-8";
    r.addHeader("Cache-Control", "no-cache");
    r.body = document;
    return r;
}

HttpReply html(const QString &title, const QString &body, bool withTitle = true)
{
    return htmlReply(htmlHead(title, withTitle) + body.toUtf8() + HtmlTail);
}

QByteArray urlEncoded(const QString &s)
{
    return QUrl::toPercentEncoding(s);
}

} // namespace

PortalPages::PortalPages(const PortalConfig &config, StoreFactory storeFactory)
    : m_config(config), m_storeFactory(std::move(storeFactory))
{
    // Without a shared cache and feed (preparePortal makes them), nothing is kept.
    if (!m_config.cache)
        m_config.cache = std::make_shared<ReplyCache>(0);
    if (!m_config.changes)
        m_config.changes = std::make_shared<ChangeFeed>();
    if (!m_config.writeRate)
        m_config.writeRate = std::make_shared<WriteRate>(m_config.bounds.writesPerAddressPerMinute);
}

PortalStore *PortalPages::store()
{
    // A store opened read-only serves reads; a write first tries to open it read-write again.
    if (m_store && m_writing && m_store->readOnly())
        m_store.reset();
    if (!m_store)
        m_store = m_storeFactory();
    return m_store && m_writing && m_store->readOnly() ? nullptr : m_store.get();
}

HttpReply PortalPages::storeFailure()
{
    if (m_store && m_store->readOnly() && m_writing) {  // kept for reads; a write reopens it (store())
        const QString why = m_store->lastError(); // SQLite may open a file it cannot write read-only without a word
        reportDatabaseError(why.isEmpty() ? QStringLiteral("the database can be read but not written: a change was refused") : why);
        return databaseReadOnly();
    }
    // No store: opening it failed, and that was told already.
    if (m_store)
        reportDatabaseError(m_store->lastError());
    // The connection may be gone (a restarted database server): the next request opens
    // a fresh one rather than failing for ever.
    m_store.reset();
    return HttpReply::text(503, "database unavailable, nothing was changed\n");
}

HttpReply PortalPages::fromOutcome(Outcome outcome, const QByteArray &okBody)
{
    switch (outcome) {
    case Outcome::Ok: return HttpReply::text(200, okBody);
    case Outcome::NotFound: return HttpReply::text(404, "no such site\n");
    case Outcome::Forbidden: return HttpReply::text(403, "this installation may not change that site\n");
    case Outcome::Full:
    case Outcome::Failed: break;
    }
    return storeFailure();
}

HttpReply PortalPages::afterChange(Outcome outcome, const QByteArray &okBody)
{
    // A failed commit may still have landed; refused changes touched nothing.
    if (outcome == Outcome::Ok || outcome == Outcome::Failed)
        m_config.changes->changed();
    return fromOutcome(outcome, okBody);
}

// Which rows a reader's replies are built from: its own, or the defaults' ("") when it has
// none (no change made, no site added) and is no maintainer. Readers with ids of their own
// making then share the defaults' replies instead of each filling the cache with a copy;
// what is kept per reader is only this answer.
std::optional<QString> PortalPages::rowsOwner(const QString &userid, quint64 generation)
{
    if (userid.isEmpty() || isMaintainer(userid))
        return userid;
    const QString key = QStringLiteral("reader ") + userid;
    if (const std::shared_ptr<const CachedReply> known = m_config.cache->find(key, generation))
        return known->body.isEmpty() ? QStringLiteral("") : userid;
    PortalStore *s = store();
    const std::optional<bool> own = s ? s->hasOwnRows(userid) : std::nullopt;
    if (!own)
        return std::nullopt;
    m_config.cache->insert(key, generation, std::make_shared<const CachedReply>(CachedReply{*own ? "own" : "", {}}));
    return *own ? userid : QStringLiteral("");
}

std::shared_ptr<const CachedReply> PortalPages::reply(const char *page, int child, const QString &userid,
                                                      const Builder &build)
{
    const std::optional<quint64> generation = m_config.changes->generation();
    if (!generation) {
        std::optional<CachedReply> built = build(userid);
        return built ? std::make_shared<const CachedReply>(std::move(*built)) : nullptr;
    }
    const std::optional<QString> owner = rowsOwner(userid, *generation);
    if (!owner)
        return nullptr;
    const QString key = QLatin1String(page) + u' ' + QString::number(child) + u' ' + *owner;
    if (std::shared_ptr<const CachedReply> kept = m_config.cache->find(key, *generation))
        return kept;
    std::optional<CachedReply> built = build(*owner);
    if (!built)
        return nullptr;
    // Kept in the room it needs, not in what building it set aside.
    built->body.squeeze();
    built->links.squeeze();
    auto made = std::make_shared<const CachedReply>(std::move(*built));
    m_config.cache->insert(key, *generation, made);
    return made;
}

bool PortalPages::isMaintainer(const QString &userid) const
{
    return !userid.isEmpty() && m_config.maintainers.contains(userid);
}

QString PortalPages::resolveAddress(const QString &stored) const
{
    if (!stored.contains(QLatin1String(PortPlaceholder)))
        return stored;
    QString resolved = stored;
    return resolved.replace(QLatin1String(PortPlaceholder), QString::number(m_config.port));
}

HttpReply PortalPages::handle(const HttpRequest &request)
{
    if (m_config.demo) {
        if (const int host = demoHostNumber(request.localAddress))
            return demoSitePage(host, request.path, request.localPort);
    }
    const QByteArray path = request.path;
    if (path.startsWith("/tad//logos/"))
        return logo(path.mid(12));
    if (path.startsWith("/tad/logos/"))
        return logo(path.mid(11));
    if (path.startsWith("/tad/")) {
        m_writing = isWritePage(path.mid(5).toLower());
        if (m_writing && !m_config.writeRate->admit(request.peerAddress))
            return tooManyWrites();
        QString error;
        const std::optional<QueryString> query = QueryString::parse(request.rawQuery, &error);
        if (!query)
            return bad(error.toUtf8());
        try {
            return portalPage(path.mid(5).toLower(), *query, request);
        } catch (const BadRequest &e) {
            return bad(e.reason);
        }
    }
    if (m_config.demo) {
        if (std::optional<HttpReply> page = productSitePage(path))
            return *page;
    }
    return HttpReply::text(404, "no such page\n");
}

HttpReply PortalPages::portalPage(const QByteArray &page, const QueryString &q, const HttpRequest &request)
{
    if (page == "version.htm")
        return HttpReply::text(200, m_config.version);
    if (page == "tad_visit.asp")
        return visit(q);
    if (page == "tad_getface.asp")
        return getFace(q);
    if (page == "tad_menu.asp")
        return menu(q);
    if (page == "tad_go.asp")
        return go(q, request);
    if (page == "tad_available.asp")
        return available(q);
    if (page == "tad_saveitem.asp")
        return saveItem(q);
    if (page == "tad_saveface.asp")
        return saveFace(q);
    if (page == "tad_postsite.asp")
        return postSite(q);
    if (page == "tad_suggestsite.asp")
        return suggestSite(q);
    if (page == "tad_start.asp")
        return html(QStringLiteral("Tadpole"), QStringLiteral("<h1>Tadpole is starting&hellip;</h1>"));
    if (page == "tadpole.asp")
        return html(QStringLiteral("About Tadpole"),
                    QStringLiteral("<h1>Tadpole</h1><p>A web browser for young children: each child sees a menu of "
                                   "sites a parent has chosen, and nothing else.</p>"));
    if (page == "radiodis.htm") {
        // No title: the browser tells the radio is on by the page's name being its address.
        const QString player = m_config.radioStream.isEmpty()
            ? QStringLiteral("<p>No radio stream is configured.</p>")
            : QStringLiteral("<audio autoplay src=\"%1\"></audio>").arg(m_config.radioStream.toHtmlEscaped());
        return html(QString(), player, false);
    }
    return HttpReply::text(404, "no such page\n");
}

HttpReply PortalPages::logo(const QByteArray &encodedName)
{
    const std::optional<QString> name = decodeUtf8(percentDecode(encodedName));
    const std::optional<LogoImage> image = name ? logoFor(*name) : std::nullopt;
    if (!image)
        return HttpReply::text(404, "no such logo\n");
    HttpReply r;
    r.contentType = image->contentType;
    r.body = image->data;
    r.addHeader("Cache-Control", "max-age=86400");
    return r;
}

HttpReply PortalPages::visit(const QueryString &q)
{
    requireKeys(q, {"userid", "ver"});
    const QString userid = writerId(q);
    const QString version = text(q, "ver", 40, false);
    PortalStore *s = store();
    return s ? fromOutcome(s->recordVisit(userid, version), "Welcome") : storeFailure();
}

std::optional<CachedReply> PortalPages::buildFaces(const QString &owner)
{
    PortalStore *s = store();
    const std::optional<std::array<QString, 4>> names = s ? s->faceNames(owner) : std::nullopt;
    if (!names)
        return std::nullopt;
    return CachedReply{QStringList{(*names)[0], (*names)[1], (*names)[2], (*names)[3]}.join(u'\t').toUtf8(), {}};
}

HttpReply PortalPages::getFace(const QueryString &q)
{
    requireKeys(q, {"userid"});
    const std::shared_ptr<const CachedReply> faces =
        reply("faces", 0, readerId(q), [this](const QString &owner) { return buildFaces(owner); });
    if (!faces)
        return storeFailure();
    HttpReply r;
    r.body = faces->body;
    return r;
}

std::optional<CachedReply> PortalPages::buildAvailable(const QString &owner, int t)
{
    PortalStore *s = store();
    const std::optional<QList<SiteRow>> rows = s ? s->sites(owner, t) : std::nullopt;
    if (!rows)
        return std::nullopt;
    const bool maintainer = isMaintainer(owner);
    QString body;
    body.reserve(rows->size() * 160);
    for (const SiteRow &row : *rows) {
        const bool mayChange = row.owner.isEmpty() ? maintainer : true;
        body += QString::number(row.id) + u'\t' + row.fields.shortname + u'\t' + resolveAddress(row.fields.url)
                + u'\t' + row.fields.ageFrom + QLatin1String(" to ") + row.fields.ageTo + u'\t'
                + row.fields.comments + u'\t' + (row.owner.isEmpty() ? u'1' : u'2') + u'\t'
                + (mayChange ? u'1' : u'0') + u'\t' + (row.ticked ? QLatin1String("-1") : QLatin1String("0"))
                + u'\t' + row.fields.logo + QLatin1String("\r\n");
    }
    return CachedReply{body.toUtf8(), {}};
}

HttpReply PortalPages::available(const QueryString &q)
{
    requireKeys(q, {"t", "userid"});
    const int t = child(q, "t");
    const std::shared_ptr<const CachedReply> sites =
        reply("available", t, readerId(q), [this, t](const QString &owner) { return buildAvailable(owner, t); });
    if (!sites)
        return storeFailure();
    HttpReply r;
    r.addHeader("Cache-Control", "no-cache");
    r.body = sites->body;
    return r;
}

std::optional<CachedReply> PortalPages::buildMenu(const QString &owner, int t)
{
    PortalStore *s = store();
    const std::optional<std::array<QString, 4>> names = s ? s->faceNames(owner) : std::nullopt;
    const std::optional<QList<SiteRow>> rows = names ? s->sites(owner, t) : std::nullopt;
    if (!rows)
        return std::nullopt;
    const QString title = (*names)[t - 1] + QStringLiteral("'s menu");
    CachedReply menu;
    QByteArray &body = menu.body;
    body = htmlHead(title)
           + QStringLiteral(
                 "<style>body{background:#eaf7ee}h1{color:#1e6b3a}.tiles{display:flex;flex-wrap:wrap;gap:16px}"
                 ".tile{display:block;width:120px;padding:12px;background:#fff;border-radius:12px;text-align:center;"
                 "text-decoration:none;color:#123}.tile img{width:64px;height:64px}.tile span{display:block;margin-top:8px}"
                 "</style>\n<h1>%1</h1>\n<div class=\"tiles\">\n").arg(title.toHtmlEscaped()).toUtf8();
    for (const SiteRow &row : *rows) {
        if (!row.ticked)
            continue;
        body += "<a class=\"tile\" href=\"";
        menu.links.append({body.size(), row.id, row.fields.url});
        body += QStringLiteral("\"><img src=\"logos/%1\" alt=\"\"><span>%2</span></a>\n")
                    .arg(QString::fromLatin1(urlEncoded(row.fields.logo)).toHtmlEscaped(),
                         row.fields.shortname.toHtmlEscaped()).toUtf8();
    }
    if (menu.links.isEmpty())
        body += "<p>No sites yet: a parent can tick some in the parents' area.</p>\n";
    body += "</div>";
    body += HtmlTail;
    return menu;
}

// The menu with each tile's go link put in: the signature that lets tad_go.asp tell the
// link was made here, then the child, the reader's own id and the site. The signature
// leads so that the link still ends in "item=N", as pages and tests that pick a tile by
// its site read it.
QByteArray PortalPages::withGoLinks(const CachedReply &menu, int t, const QString &userid) const
{
    const QByteArray query = "&amp;t=" + QByteArray::number(t) + "&amp;userid=" + urlEncoded(userid) + "&amp;item=";
    QByteArray out;
    out.reserve(menu.body.size() + menu.links.size() * (query.size() + 60));
    qsizetype from = 0;
    for (const CachedReply::Link &link : menu.links) {
        out.append(menu.body.constData() + from, link.at - from);
        out += "tad_go.asp?sig=" + goLinkSignature(m_config.goLinkKey, userid, t, link.site, link.storedUrl) + query
               + QByteArray::number(link.site);
        from = link.at;
    }
    out.append(menu.body.constData() + from, menu.body.size() - from);
    return out;
}

HttpReply PortalPages::menu(const QueryString &q)
{
    requireKeys(q, {"t", "userid"});
    const int t = child(q, "t");
    const QString userid = readerId(q);
    const std::shared_ptr<const CachedReply> menu =
        reply("menu", t, userid, [this, t](const QString &owner) { return buildMenu(owner, t); });
    if (!menu)
        return storeFailure();
    return htmlReply(withGoLinks(*menu, t, userid));
}

HttpReply PortalPages::go(const QueryString &q, const HttpRequest &request)
{
    requireKeys(q, {"t", "userid", "item"});
    const int t = child(q, "t");
    const qint64 item = number(q, "item");
    // Only links a menu made: the installation's id as a menu writes it, and its signature.
    // Anything else would let anyone publish a portal address that sends browsers anywhere.
    const QString userid = q.value(QStringLiteral("userid"));
    const QByteArray signature = q.value(QStringLiteral("sig")).toUtf8();
    const HttpReply notOnMenu = HttpReply::text(404, "that site is not on this child's menu\n");
    if (userid != readerId(q) || signature.size() != 32)
        return notOnMenu;
    PortalStore *s = store();
    bool ownSite = false;
    const std::optional<QString> stored = s ? s->tickedSiteUrl(userid, t, item, &ownSite) : std::nullopt;
    if (!stored)
        return storeFailure();
    if (stored->isEmpty() || !isGoLinkSignature(signature, m_config.goLinkKey, userid, t, item, *stored))
        return notOnMenu;
    const std::optional<QByteArray> location = redirectTarget(resolveAddress(*stored));
    if (!location)
        return HttpReply::text(404, "that site's address is not a web address\n");
    // Anyone can add a site of their own and tick it: followed from anywhere but that
    // family's menu, its link would make the portal's address a way to anywhere.
    if (ownSite && !isOwnMenuReferer(request.referer, request.host, userid, t))
        return leavingPortalPage(*location);
    HttpReply r = HttpReply::text(302, "");
    r.contentType = "text/html; charset=utf-8";
    r.addHeader("Location", *location);
    r.addHeader("Cache-Control", "no-cache");
    r.body = "<a href=\"" + QString::fromLatin1(*location).toHtmlEscaped().toLatin1() + "\">continue</a>\n";
    return r;
}

HttpReply PortalPages::saveItem(const QueryString &q)
{
    requireKeys(q, {"item", "checked", "t", "userid"});
    const qint64 item = number(q, "item");
    const QString checked = q.value(QStringLiteral("checked")).toLower();
    if (checked != QLatin1String("true") && checked != QLatin1String("false"))
        throw BadRequest{"checked must be True or False"};
    const int t = child(q, "t");
    const QString userid = writerId(q);
    PortalStore *s = store();
    return s ? afterChange(s->setTick(userid, t, item, checked == QLatin1String("true"))) : storeFailure();
}

HttpReply PortalPages::saveFace(const QueryString &q)
{
    requireKeys(q, {"userid", "tface", "newname"});
    const QString userid = writerId(q);
    const int t = child(q, "tface");
    const QString name = text(q, "newname", 100, true);
    PortalStore *s = store();
    return s ? afterChange(s->setFaceName(userid, t, name)) : storeFailure();
}

HttpReply PortalPages::postSite(const QueryString &q)
{
    requireKeys(q, {"url", "shortname", "comments", "AgeFrom", "AgeTo", "LogoLoc", "id", "userid", "Delete"});
    const QString userid = writerId(q);
    const qint64 id = number(q, "id");
    const QString del = q.value(QStringLiteral("Delete"));
    if (del != QLatin1String("0") && del != QLatin1String("1"))
        throw BadRequest{"Delete must be 0 or 1"};
    const bool maintainer = isMaintainer(userid);
    PortalStore *s = nullptr;
    if (del == QLatin1String("1")) {
        if (id == 0)
            throw BadRequest{"id 0 names no site to delete"};
        s = store();
        return s ? afterChange(s->deleteSite(userid, maintainer, id)) : storeFailure();
    }

    SiteFields f;
    f.url = text(q, "url", 2048, true);
    f.shortname = text(q, "shortname", 200, true);
    f.comments = text(q, "comments", 2000, false);
    f.ageFrom = text(q, "AgeFrom", 20, false);
    f.ageTo = text(q, "AgeTo", 20, false);
    f.logo = text(q, "LogoLoc", 200, false);
    if (f.logo.isEmpty())
        f.logo = QStringLiteral("default_logo.gif");
    if (f.logo.contains(u'/') || f.logo.contains(u'\\') || f.logo.contains(QLatin1String("..")))
        throw BadRequest{"LogoLoc must be a plain file name"};
    const QString type = q.value(QStringLiteral("Type"));

    s = store();
    if (!s)
        return storeFailure();
    if (id == 0) {
        if (!type.isEmpty() && type != QLatin1String("1") && type != QLatin1String("2"))
            throw BadRequest{"Type must be 1, 2 or empty"};
        // Only a maintainer adds public sites; anyone else's site is private, whatever Type says.
        const QString owner = type == QLatin1String("1") && maintainer ? QString("") : userid;
        qint64 newId = 0;
        const Outcome added = s->addSite(userid, owner, f, &newId, m_config.bounds.sitesPerInstallation);
        if (added == Outcome::Full)
            return sitesBoundReached(m_config.bounds.sitesPerInstallation);
        HttpReply r = afterChange(added);
        if (r.status == 200)
            r.addHeader("X-Site-Id", QByteArray::number(newId));
        return r;
    }
    // An edit keeps the site's type: the browser sends with it the type its last add
    // command chose, for whatever site that was, or none before any add.
    return afterChange(s->updateSite(userid, maintainer, id, f));
}

HttpReply PortalPages::suggestSite(const QueryString &q)
{
    requireKeys(q, {"userid", "url", "email"});
    const QString userid = writerId(q);
    const QString url = text(q, "url", 2048, true);
    const QString email = text(q, "email", 320, true);
    PortalStore *s = store();
    const Outcome added = s ? s->addSuggestion(userid, url, email, m_config.bounds.suggestionsPerInstallation) : Outcome::Failed;
    return added == Outcome::Full ? suggestionsBoundReached() : fromOutcome(added);
}
