#pragma once

#include <QString>
#include <QStringList>

// Host names and site domains are configuration values: compiled-in defaults,
// overridden by an optional "tadpole.conf" (INI) in the program folder.
struct AppConfig {
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

    // A missing or unreadable file gives the defaults; a key that is absent
    // keeps its default.
    static AppConfig load(const QString &appFolder);
};
