#include "filter/SiteNames.h"

#include "filter/AllowMatcher.h"

#include <QUrl>

namespace {

// One left-to-right pass, so a long address full of the pattern stays linear
// (repeated in-place removal moves the tail once per occurrence).
QString removeEvery(const QString &text, QStringView pattern)
{
    qsizetype found = text.indexOf(pattern);
    if (found < 0)
        return text;
    QString result;
    result.reserve(text.size());
    qsizetype from = 0;
    while (found >= 0) {
        result += QStringView(text).mid(from, found - from);
        from = found + pattern.size();
        found = text.indexOf(pattern, from);
    }
    result += QStringView(text).mid(from);
    return result;
}

QString siteOf(const QString &address, SiteForm form)
{
    // The filter's upper-casing, not the full Unicode one: an entry made from
    // an address must be found again in that address by the allow test.
    QString site = filterUpper(address);
    if (form == SiteForm::EveryWwwDropped)
        site = removeEvery(site, u"WWW.");
    site = removeEvery(site, u"HTTPS://");
    site = removeEvery(site, u"HTTP://");
    const qsizetype slash = site.indexOf(u'/');
    if (slash >= 0)
        site.truncate(slash);
    if (form == SiteForm::WholeHost && site.startsWith(u"WWW."))
        site.remove(0, 4);
    return site;
}

} // namespace

QString ExtractDomain(const QString &address, const DynamicHostRule &rule, SiteForm form)
{
    QString site = siteOf(address, form);
    // An empty label would be "contained" in every site and turn them all into
    // the product's domain; it means the rule is not configured. Only a host
    // under the service counts: in a query, or in an about: or data: address,
    // the label names no page there.
    if (!rule.label.isEmpty() && site.contains(rule.label) && filterUpper(QUrl(address).host()).contains(rule.label))
        site = rule.productDomain;
    return site;
}

QString ExtractPopupDomain(const QString &address, SiteForm form)
{
    return siteOf(address, form);
}
