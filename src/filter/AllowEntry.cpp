#include "filter/AllowEntry.h"

namespace {

bool isLabelCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
}

// Labels of letters, digits, "-" and "_", none empty; `dots` counts the separators.
bool isHostName(QStringView host, qsizetype *dots)
{
    *dots = 0;
    qsizetype labelLength = 0;
    for (const QChar c : host) {
        if (c == u'.') {
            if (labelLength == 0)
                return false;
            ++*dots;
            labelLength = 0;
        } else if (isLabelCharacter(c)) {
            ++labelLength;
        } else {
            return false;
        }
    }
    return labelLength > 0 && host.size() <= 253;
}

bool isBracketedAddress(QStringView host)
{
    if (host.size() < 3 || host.front() != u'[' || host.back() != u']')
        return false;
    for (const QChar c : host.sliced(1, host.size() - 2)) {
        if (!(c.isDigit() || c == u':' || c == u'.' || (c.toLower() >= u'a' && c.toLower() <= u'f')))
            return false;
    }
    return true;
}

bool isPort(QStringView port)
{
    if (port.isEmpty() || port.size() > 5)
        return false;
    for (const QChar c : port) {
        if (!c.isDigit() || c.unicode() > u'9')
            return false;
    }
    return port.toInt() <= 65535;
}

} // namespace

bool readHostEntry(QStringView entry, HostEntry *read)
{
    *read = HostEntry();
    // A port follows the last ":" after any bracketed address.
    const qsizetype bracketEnd = entry.lastIndexOf(u']');
    const qsizetype colon = entry.lastIndexOf(u':');
    QStringView host = entry;
    if (colon > bracketEnd) {
        if (!isPort(entry.sliced(colon + 1)))
            return false;
        read->port = entry.sliced(colon + 1).toInt();
        host = entry.first(colon);
    }
    if (isBracketedAddress(host)) {
        read->host = host.sliced(1, host.size() - 2);
        read->bracketed = true;
        return true;
    }
    read->host = host;
    return isHostName(host, &read->dots);
}

bool isAcceptableEntry(QStringView entry, const QStringList &defaults)
{
    if (entry.isEmpty() || entry.contains(u','))
        return false;
    for (const QString &d : defaults) {
        if (!d.isEmpty() && entry.compare(d, Qt::CaseInsensitive) == 0)
            return true;
    }
    HostEntry read;
    if (!readHostEntry(entry, &read))
        return false;
    if (read.bracketed)
        return read.port >= 0 || read.host.contains(u':');
    return read.dots > 0 || read.port >= 0;
}
