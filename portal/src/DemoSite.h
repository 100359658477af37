#pragma once

#include "HttpMessage.h"
#include "PortalStore.h"

#include <QList>
#include <QString>

#include <optional>

// Stored site addresses may hold this placeholder; replies put the portal's port in its
// place, so the demo sites keep working when the port changes between runs (--port 0).
inline constexpr char PortPlaceholder[] = "%PORT%";

// The demo sites live on 127.0.0.2 ... 127.0.0.9, served by the portal itself.
inline constexpr int FirstDemoHost = 2;
inline constexpr int LastDemoHost = 9;

struct DemoSiteEntry {
    SiteFields fields;
    QString owner;             // empty: public
    QList<int> tickedFor;      // children 1..4 of the demo family
};

struct DemoFamily {
    QString names[4];
    QList<DemoSiteEntry> sites;
    QString privateOwner;      // the demo installation that owns the private site
};

DemoFamily demoFamily();

// 127.0.0.N -> N when N is a demo host, else 0.
int demoHostNumber(const QByteArray &localAddress);

// A page of demo site N, or a 404 page.
HttpReply demoSitePage(int host, const QByteArray &path, quint16 port);

// The product web site's pages (home, mail, donation) for a local installation.
std::optional<HttpReply> productSitePage(const QByteArray &path);
