#pragma once

// The rules the values of a page's query must meet. A value that breaks one throws
// BadRequest, which the page answers 400 with the reason.
#include "QueryString.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>

namespace pagequery {

// A malformed request: the reason goes back as one line.
struct BadRequest {
    QByteArray reason;
};

// Every value must be present; the userid may be empty (the public defaults).
void requireKeys(const QueryString &q, std::initializer_list<const char *> keys);

// A stored text that goes into a TAB-separated reply: a TAB, CR, LF, or a character some
// readers take as a line break (U+0085, U+2028, U+2029), would split the row or the name
// list, so such text is refused instead of stored.
QString text(const QueryString &q, const char *key, int maxLength, bool required);

// A child, 1 to 4.
int child(const QueryString &q, const char *key);

// A site's id: up to 15 digits.
qint64 number(const QueryString &q, const char *key);

// An installation's id as its requests carry it: 1 to 40 digits.
bool isInstallationId(const QString &id);

// The installation's id for a read: an empty or malformed id reads the public defaults.
QString readerId(const QueryString &q);

// The installation's id for a change: digits, or the request is refused.
QString writerId(const QueryString &q);

} // namespace pagequery
