#include "shell/AppConfig.h"

#include "system/BrowserNames.h"

#include <QFileInfo>
#include <QSettings>

namespace {

void readInto(QSettings &ini, const char *key, QString &value)
{
    const QVariant v = ini.value(QLatin1String(key));
    if (!v.isValid())
        return;
    // QSettings splits an unquoted value at commas; a host never holds one, so
    // joining back is only a guard against a hand-edited file.
    const QString text = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
    if (!text.trimmed().isEmpty())
        value = text.trimmed();
}

void readFile(const QString &path, AppConfig &config)
{
    if (path.isEmpty() || !QFileInfo(path).isReadable())
        return;
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return;

    readInto(ini, "portal/public", config.portalPublic);
    readInto(ini, "portal/loopback", config.portalLoopback);
    readInto(ini, "portal/lan", config.portalLan);
    readInto(ini, "site/product", config.productSite);
    readInto(ini, "site/dyndns_label", config.dyndnsLabel);
    readInto(ini, "site/dyndns_domain", config.dyndnsDomain);
    readInto(ini, "allow/portal", config.allowPortal);
    readInto(ini, "allow/entertainment", config.allowEntertainment);
    readInto(ini, "allow/preschool", config.allowPreschool);
    readInto(ini, "allow/match", config.allowMatch);
    readInto(ini, "popups/toymaker", config.popupToymaker);
    readInto(ini, "popups/preschool", config.popupPreschool);
}

} // namespace

AppConfig AppConfig::load(const QStringList &files)
{
    AppConfig config;
    for (const QString &file : files)
        readFile(file, config);
    config.browserNames = readBrowserNames(files);
    // The dynamic-host label and the special sites are compared with upper-case text.
    config.dyndnsLabel = config.dyndnsLabel.toUpper();
    config.dyndnsDomain = config.dyndnsDomain.toUpper();
    config.popupToymaker = config.popupToymaker.toUpper();
    config.popupPreschool = config.popupPreschool.toUpper();
    return config;
}
