#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

// Host mode's reading of the allow list: each entry indexed once as what it
// names, so that testing a host costs a few look-ups, one per label of the
// host, however many entries there are.
//  - a host name with a dot ("KIDS.EXAMPLE"): that host and every host under
//    it ("www.kids.example"), on any port;
//  - a host with a port ("LOCALHOST:8080", "[::1]:8642"): the same, on that port only;
//  - a name without a dot ("PAYPAL"): that name under any one top-level label
//    ("paypal.com", "www.paypal.de"), on any port, but not under one that
//    names this machine or the local network ("paypal.localhost", "paypal.lan");
//  - "about:..." and "javascript": those addresses without a host.
// Anything else ("http:///") names nothing here. Case never counts.
class HostIndex
{
public:
    void add(QStringView entry);

    // `host` as an address holds it (an IP literal without brackets); `port` the
    // one it is reached on, -1 when unknown. An IP literal matches only whole.
    bool allowsHost(QStringView host, int port) const;

    // True when some entry, any case, is exactly this text ("about:blank", "javascript").
    bool holdsHostless(QStringView text) const;

private:
    struct Ports
    {
        bool any = false;
        QList<int> only;
    };
    bool hostMatches(const QString &lowerHost, qsizetype from, int port) const;

    QHash<QString, Ports> m_hosts; // lower case, without brackets
    QSet<QString> m_names;         // names without a dot, lower case
    QSet<QString> m_hostless;      // lower case
    qsizetype m_longestHost = 0;
};
