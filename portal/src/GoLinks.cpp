#include "GoLinks.h"

#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

QByteArray goLinkSignature(const QByteArray &key, const QString &userid, int child, qint64 site,
                           const QString &storedUrl)
{
    // The installation's id is digits or empty, the child one digit and the site a number,
    // so the newline-joined message names exactly one link.
    const QByteArray message = userid.toUtf8() + '\n' + QByteArray::number(child) + '\n' + QByteArray::number(site)
                               + '\n' + storedUrl.toUtf8();
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).left(16).toHex();
}

bool isGoLinkSignature(const QByteArray &signature, const QByteArray &key, const QString &userid, int child,
                       qint64 site, const QString &storedUrl)
{
    const QByteArray expected = goLinkSignature(key, userid, child, site, storedUrl);
    if (signature.size() != expected.size())
        return false;
    // Every byte compared, so the time taken tells nothing of how much of a guess was right.
    uchar difference = 0;
    for (qsizetype i = 0; i < signature.size(); ++i)
        difference |= uchar(signature[i]) ^ uchar(expected[i]);
    return difference == 0;
}

// Parents type addresses without a scheme ("www.zoo.example", "zoo.example:8080/x", where
// the port is no scheme): a relative Location would land on the portal itself, so they get
// "http://". Stored "http:evil.example", "http:/evil.example" or "//evil.example/" name no
// host of their own: browsers resolve them against the portal or read the host out of the
// path, so they are refused.
std::optional<QByteArray> redirectTarget(const QString &stored)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9]+([/?#]|$))"));
    QString address = stored;
    if (!scheme.match(address).hasMatch())
        address.prepend(QLatin1String("http://"));
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    if (url.host().isEmpty() || !address.mid(url.scheme().size()).startsWith(QLatin1String("://")))
        return std::nullopt;
    return url.toEncoded();
}

bool isOwnMenuReferer(const QByteArray &referer, const QByteArray &host, const QString &userid, int child)
{
    const QUrl from = QUrl::fromEncoded(referer, QUrl::StrictMode);
    const QUrl to = QUrl::fromEncoded("http://" + host, QUrl::StrictMode);
    if (!from.isValid() || !to.isValid() || to.host().isEmpty() || !from.userInfo().isEmpty()
        || (from.scheme() != QLatin1String("http") && from.scheme() != QLatin1String("https")))
        return false;
    if (from.host().compare(to.host(), Qt::CaseInsensitive) != 0
        || !from.path().endsWith(QLatin1String("/tad_menu.asp"), Qt::CaseInsensitive))
        return false;
    // One of each, as a menu's address has them: with two, which one counts is anyone's guess.
    const QUrlQuery query(from);
    const QStringList ids = query.allQueryItemValues(QStringLiteral("userid"), QUrl::FullyDecoded);
    const QStringList children = query.allQueryItemValues(QStringLiteral("t"), QUrl::FullyDecoded);
    return ids == QStringList{userid} && children == QStringList{QString::number(child)};
}

HttpReply leavingPortalPage(const QByteArray &location)
{
    // The host as ASCII (punycode), so that letters from other scripts cannot pass for a
    // name the reader knows.
    const QString host = QUrl::fromEncoded(location).host(QUrl::FullyEncoded).toHtmlEscaped();
    HttpReply r;
    r.contentType = "text/html; charset=utf-8";
    r.addHeader("Cache-Control", "no-store");
    r.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>This link leads away from the portal</title>"
             "</head>\n<body style=\"font-family:sans-serif\">\n<h1>This link leads away from the portal</h1>\n<p>It goes to <b>"
             + host.toUtf8()
             + "</b>, a site that one family added for itself. The portal sends a browser there only from that "
               "family's own menu.</p>\n</body></html>\n";
    return r;
}
