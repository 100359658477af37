#include "filter/HostIndex.h"

#include "filter/AllowEntry.h"

#include <algorithm>

namespace {

QString lowerAZ(QStringView text)
{
    QString lower(text.size(), Qt::Uninitialized);
    QChar *out = lower.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *out++ = QChar((u >= u'A' && u <= u'Z') ? char16_t(u + 32) : u);
    }
    return lower;
}

// A piece of `text` as a QString without copying it, for hash look-ups;
// `text` must outlive it.
QString piece(const QString &text, qsizetype from, qsizetype length)
{
    return QString::fromRawData(text.constData() + from, length);
}

// Dotted digits or an IPv6 address: a host that is never a name under another.
bool isIpLiteral(QStringView host)
{
    if (host.contains(u':'))
        return true;
    const qsizetype lastLabel = host.lastIndexOf(u'.') + 1;
    if (lastLabel >= host.size())
        return false;
    for (const QChar c : host.sliced(lastLabel)) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

} // namespace

void HostIndex::add(QStringView entry)
{
    const QString lower = lowerAZ(entry);
    if (lower.startsWith(QLatin1String("about:")) || lower == QLatin1String("javascript"))
        m_hostless.insert(lower);
    HostEntry read;
    if (!readHostEntry(lower, &read))
        return;
    const QString host = read.host.toString();
    if (!read.bracketed && read.dots == 0 && read.port < 0) {
        m_names.insert(host);
        return;
    }
    Ports &ports = m_hosts[host];
    if (read.port < 0)
        ports.any = true;
    else if (!ports.only.contains(read.port))
        ports.only.append(read.port);
    m_longestHost = std::max(m_longestHost, host.size());
}

bool HostIndex::hostMatches(const QString &lowerHost, qsizetype from, int port) const
{
    const auto found = m_hosts.constFind(piece(lowerHost, from, lowerHost.size() - from));
    return found != m_hosts.cend() && (found->any || (port >= 0 && found->only.contains(port)));
}

bool HostIndex::allowsHost(QStringView host, int port) const
{
    if (host.endsWith(u'.')) // the fully qualified form of the same host
        host.chop(1);
    if (host.isEmpty())
        return false;
    // Addresses hold their hosts in lower case already; only other text is copied.
    const bool upper = std::any_of(host.begin(), host.end(), [](QChar c) { return c >= u'A' && c <= u'Z'; });
    const QString lower = upper ? lowerAZ(host) : QString::fromRawData(host.data(), host.size());
    if (isIpLiteral(lower))
        return hostMatches(lower, 0, port);
    // Whole labels from the right, never longer than the longest indexed host.
    const qsizetype size = lower.size();
    qsizetype dot = size;
    qsizetype lastDot = -1;
    qsizetype labels = 0;
    while (dot > 0 && size - dot <= m_longestHost) {
        dot = lower.lastIndexOf(u'.', dot - 1);
        if (hostMatches(lower, dot + 1, port))
            return true;
        if (++labels == 1)
            lastDot = dot;
    }
    // The label before the top-level one, for the names without a dot. Not
    // under a top-level label that names this machine (any service on it) or
    // the devices of the local network: never the site meant.
    if (lastDot <= 0 || m_names.isEmpty())
        return false;
    static const QStringList local = {QStringLiteral("localhost"), QStringLiteral("localdomain"), QStringLiteral("local"),
                                      QStringLiteral("lan"), QStringLiteral("home"), QStringLiteral("internal")};
    if (local.contains(QStringView(lower).mid(lastDot + 1)))
        return false;
    const qsizetype nameStart = lower.lastIndexOf(u'.', lastDot - 1) + 1;
    return m_names.contains(piece(lower, nameStart, lastDot - nameStart));
}

bool HostIndex::holdsHostless(QStringView text) const
{
    return !m_hostless.isEmpty() && m_hostless.contains(lowerAZ(text));
}
