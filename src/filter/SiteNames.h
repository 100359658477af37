#pragma once

#include <QString>

// The product's own web site is also reached under a dynamic host-name
// service; pages whose host is under it are shown, and learned, as the
// product's domain.
// Both values are configuration, written in upper case.
struct DynamicHostRule
{
    QString label;          // e.g. the service's domain; empty disables the rule
    QString productDomain;
};

// Which "WWW." a site drops: every one, wherever it stands, where entries are
// looked for anywhere in an address; only the host's first label, where
// entries match whole hosts and must name the host they were made from (with
// every one dropped, "evilwww.kids.example" would teach "EVILKIDS.EXAMPLE").
enum class SiteForm { EveryWwwDropped, WholeHost };

// The upper-case site part of an address, as the site line shows it and as
// learned and unblocked entries are made: "WWW." dropped as `form` says, then
// every "HTTPS://" and every "HTTP://" removed, cut before the first "/". The
// port stays, and other schemes keep their name ("ABOUT:BLANK", "FTP:").
QString ExtractDomain(const QString &address, const DynamicHostRule &rule, SiteForm form = SiteForm::EveryWwwDropped);

// The pop-up window's variant: the same without the dynamic host-name rule,
// so a page under that service keeps its own host name.
QString ExtractPopupDomain(const QString &address, SiteForm form = SiteForm::EveryWwwDropped);
