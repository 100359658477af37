#include "filter/BlockedJournal.h"

#include "filter/FilterAddress.h"
#include "shell/LocalTextFile.h"

#include <QFile>
#include <QUrl>
#include <algorithm>

namespace {

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

// Empty when the text holds an escape we never write: the line is damaged.
std::optional<QString> unescaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('\\')) {
            out += text.at(i);
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text.at(i).unicode()) {
        case '\\': out += QLatin1Char('\\'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        default: return std::nullopt;
        }
    }
    return out;
}

QString cutShort(const QString &address)
{
    if (address.size() <= BlockedJournal::MaxAddress)
        return address;
    const QUrl url(address);
    const QString shown = url.userInfo().isEmpty() ? address : url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
    return shown.left(BlockedJournal::MaxAddress) + QChar(0x2026);
}

} // namespace

QString BlockedJournal::line(const Attempt &attempt)
{
    // Local time with its offset, so a line still says when it was after a change of time zone.
    const QDateTime local = attempt.time.toLocalTime();
    const QString time = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
    return time + QLatin1Char('\t') + escaped(attempt.child) + QLatin1Char('\t') + escaped(cutShort(attempt.address));
}

std::optional<BlockedJournal::Attempt> BlockedJournal::parse(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() != 3)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODate);
    const std::optional<QString> child = unescaped(fields[1]);
    const std::optional<QString> address = unescaped(fields[2]);
    if (!time.isValid() || !child || !address || address->isEmpty())
        return std::nullopt;
    return Attempt{time, *child, *address};
}

QString BlockedJournal::hostOf(const QString &address)
{
    // As the filter reads the address and Allow saves it: an international
    // name in its encoded form, so that a look-alike of a known name shows as
    // what it is, a port of its own, which the saved entry names too, and an
    // IPv6 address in brackets, so that its port stays apart from it.
    const QUrl url(address);
    return url.host().isEmpty() ? address : FilterAddress::hostAndPort(url);
}

bool BlockedJournal::record(const Attempt &attempt, QString *error)
{
    QByteArray bytes;
    if (m_lines < 0) {
        // Once a run: the lines there are, and whether the last one was cut
        // short by a crash. It gets its end here, or this one would be glued to it.
        QFile old(m_path);
        const QByteArray text = old.open(QIODevice::ReadOnly) ? old.readAll() : QByteArray();
        m_lines = int(text.count('\n'));
        if (!text.isEmpty() && !text.endsWith('\n'))
            bytes = "\r\n";
    }
    bytes += line(attempt).toUtf8() + "\r\n";
    QFile file(m_path);
    // One write: when the program dies, the kernel has the whole line or none
    // of it, or, killed as the line crosses a page of the file, its first part,
    // which the next run ends before its own and readers pass over.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) || file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.close();
    if (++m_lines <= Bound + Slack)
        return true;
    return rewrite(read(), error);
}

QList<BlockedJournal::Attempt> BlockedJournal::read() const
{
    QList<Attempt> attempts;
    for (const QString &text : LocalTextFile::readLines(m_path)) {
        if (const std::optional<Attempt> attempt = parse(text))
            attempts << *attempt;
    }
    if (attempts.size() > Bound)
        attempts.remove(0, attempts.size() - Bound);
    return attempts;
}

bool BlockedJournal::rewrite(const QList<Attempt> &attempts, QString *error)
{
    QStringList lines;
    for (const Attempt &attempt : attempts)
        lines << line(attempt);
    if (!LocalTextFile::writeLines(m_path, lines, error))
        return false;
    m_lines = int(lines.size());
    return true;
}

bool BlockedJournal::forget(const QString &host, QString *error)
{
    QList<Attempt> kept = read();
    kept.removeIf([&](const Attempt &attempt) { return hostOf(attempt.address) == host; });
    return rewrite(kept, error);
}

QList<BlockedJournal::Host> BlockedJournal::byHost(const QList<Attempt> &attempts)
{
    QList<Host> hosts;
    for (const Attempt &attempt : attempts) {
        const QString host = hostOf(attempt.address);
        auto it = std::find_if(hosts.begin(), hosts.end(), [&](const Host &h) { return h.host == host; });
        if (it == hosts.end())
            it = hosts.insert(hosts.end(), Host{host, 0, {}, {}, {}});
        ++it->count;
        if (!it->children.contains(attempt.child))
            it->children << attempt.child;
        if (!it->lastTime.isValid() || attempt.time >= it->lastTime) {
            it->lastTime = attempt.time;
            it->lastAddress = attempt.address;
        }
    }
    std::stable_sort(hosts.begin(), hosts.end(), [](const Host &a, const Host &b) { return a.lastTime > b.lastTime; });
    return hosts;
}
