#include "QueryString.h"

#include <QStringDecoder>

#include <algorithm>

namespace {
int hexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}
} // namespace

QByteArray percentDecode(const QByteArray &encoded)
{
    QByteArray out;
    out.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char ch = encoded[i];
        if (ch == '%' && i + 2 < encoded.size()) {
            const int hi = hexValue(encoded[i + 1]);
            const int lo = hexValue(encoded[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.append(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.append(ch);
    }
    return out;
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isControlCharacter(QChar ch)
{
    const char16_t u = ch.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 || u == 0xfeff || u == 0xfffe || u == 0xffff;
}

bool holdsControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isControlCharacter);
}

std::optional<QueryString> QueryString::parse(const QByteArray &raw, QString *error)
{
    QueryString q;
    if (raw.isEmpty())
        return q;
    for (const QByteArray &pair : raw.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        const QByteArray rawKey = eq < 0 ? pair : pair.left(eq);
        const QByteArray rawValue = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        const std::optional<QString> key = decodeUtf8(percentDecode(rawKey));
        const std::optional<QString> value = decodeUtf8(percentDecode(rawValue));
        if (!key || !value) {
            *error = QStringLiteral("query is not valid UTF-8");
            return std::nullopt;
        }
        // Never null: a null QString would be bound as SQL NULL.
        q.m_items.append({key->isNull() ? QStringLiteral("") : *key, value->isNull() ? QStringLiteral("") : *value});
    }
    return q;
}

bool QueryString::contains(const QString &key) const
{
    for (const auto &item : m_items) {
        if (item.first == key)
            return true;
    }
    return false;
}

QString QueryString::value(const QString &key) const
{
    for (const auto &item : m_items) {
        if (item.first == key)
            return item.second;
    }
    return {};
}
