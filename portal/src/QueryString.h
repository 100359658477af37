#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The browser sends values percent-encoded as UTF-8 and never encodes a space as "+",
// so "+" is taken as a literal plus. A "%" not followed by two hex digits is kept as it
// stands rather than refused: older clients send "100%" unencoded.
QByteArray percentDecode(const QByteArray &encoded);

// Decodes UTF-8 strictly: invalid input gives nothing rather than replacement characters,
// so a stored name can never differ from what was sent. A leading byte-order mark is kept
// as U+FEFF: stripping it made "%EF%BB%BF77" the user id 77.
std::optional<QString> decodeUtf8(const QByteArray &bytes);

// C0 and C1 controls, DEL, and the line and paragraph separators: characters that end a
// line or a row for some reader of a reply (U+0085, U+2028 and U+2029 do in JavaScript and
// several text readers), so text holding one is never stored or served. So are the
// byte-order marks U+FEFF and U+FFFE and the non-character U+FFFF: SQLite reads a text that
// starts with one as a byte order, dropping it or storing the rest byte-swapped, where a
// swapped character may be a TAB or a line end.
bool isControlCharacter(QChar ch);
bool holdsControlCharacter(const QString &text);

class QueryString {
public:
    static std::optional<QueryString> parse(const QByteArray &raw, QString *error);

    bool contains(const QString &key) const;
    // The first value given for the key; empty when absent.
    QString value(const QString &key) const;

private:
    QList<QPair<QString, QString>> m_items;
};
