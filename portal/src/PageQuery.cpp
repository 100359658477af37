#include "PageQuery.h"

namespace pagequery {

namespace {

bool allDigits(const QString &s, int maxLength)
{
    if (s.isEmpty() || s.size() > maxLength)
        return false;
    for (QChar ch : s) {
        if (ch < u'0' || ch > u'9')
            return false;
    }
    return true;
}

} // namespace

void requireKeys(const QueryString &q, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        if (!q.contains(QLatin1String(key)))
            throw BadRequest{QByteArray("missing key \"") + key + '"'};
    }
}

QString text(const QueryString &q, const char *key, int maxLength, bool required)
{
    const QString value = q.value(QLatin1String(key));
    if (value.size() > maxLength)
        throw BadRequest{QByteArray(key) + " is longer than " + QByteArray::number(maxLength) + " characters"};
    if (required && value.isEmpty())
        throw BadRequest{QByteArray(key) + " is empty"};
    if (holdsControlCharacter(value))
        throw BadRequest{QByteArray(key) + " holds a control character"};
    return value;
}

int child(const QueryString &q, const char *key)
{
    const QString t = q.value(QLatin1String(key));
    if (t.size() != 1 || t[0] < u'1' || t[0] > u'4')
        throw BadRequest{QByteArray(key) + " must be 1 to 4"};
    return t[0].unicode() - '0';
}

qint64 number(const QueryString &q, const char *key)
{
    const QString v = q.value(QLatin1String(key));
    if (!allDigits(v, 15))
        throw BadRequest{QByteArray(key) + " must be a number"};
    return v.toLongLong();
}

bool isInstallationId(const QString &id)
{
    return allDigits(id, 40);
}

QString readerId(const QueryString &q)
{
    const QString userid = q.value(QStringLiteral("userid"));
    return isInstallationId(userid) ? userid : QStringLiteral("");
}

QString writerId(const QueryString &q)
{
    const QString userid = q.value(QStringLiteral("userid"));
    if (!isInstallationId(userid))
        throw BadRequest{"userid must be digits"};
    return userid;
}

} // namespace pagequery
