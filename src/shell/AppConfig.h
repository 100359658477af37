#pragma once

#include <QString>
#include <QStringList>

// Host names and site domains are configuration values: compiled-in defaults,
// overridden by the system-wide "tadpole.conf" (INI), whose keys the program
// folder's own "tadpole.conf" overrides in turn.
struct AppConfig {
    // "host[:port]", spoken to over http, or a whole "https://host[:port]".
    QString portalPublic = QStringLiteral("www.tadpoleportal.net");
    QString portalLoopback = QStringLiteral("127.0.0.1:8642");
    QString portalLan = QStringLiteral("tadpole-portal.lan:8642");

    QString productSite = QStringLiteral("tadpolekids.net");
    QString dyndnsLabel = QStringLiteral("TADPOLEKIDS.DYNDNS");
    QString dyndnsDomain = QStringLiteral("TADPOLEKIDS.NET");

    // Empty: entry 2 follows the portal host in use, without "www.".
    QString allowPortal;
    QString allowEntertainment = QStringLiteral("cartoonparade.com");
    QString allowPreschool = QStringLiteral("tinytotstv.org");
    // "address" (entries anywhere but user-info and fragment) or "host" (only
    // in the scheme, host and port).
    QString allowMatch = QStringLiteral("address");

    QString popupToymaker = QStringLiteral("BRICKTOYKIDS.COM");
    QString popupPreschool = QStringLiteral("TINYTOTSTV.ORG");

    QStringList browserNames;

    // The files in order, each key of a later one overriding an earlier one's.
    // A missing or unreadable file changes nothing; a key that is absent keeps
    // what the files before it, or the default, said.
    static AppConfig load(const QStringList &files);
};
