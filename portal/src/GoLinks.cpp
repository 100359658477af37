#include "GoLinks.h"

#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QUrl>

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

// Parents type addresses without a scheme ("www.zoo.example"): a relative Location would
// land on the portal itself, so they get "http://". Stored "http:evil.example",
// "http:/evil.example" or "//evil.example/" name no host of their own: browsers resolve them
// against the portal or read the host out of the path, so they are refused.
std::optional<QByteArray> redirectTarget(const QString &stored)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
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
