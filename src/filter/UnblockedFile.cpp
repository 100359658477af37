#include "filter/UnblockedFile.h"

#include "shell/LocalTextFile.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QStringList>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;

// Latin-1 holds only U+0000..U+00FF. A character beyond it would be written as
// "?", and a "?" entry allows every address with a query string; a CR or LF
// would end the line early and cut off the entries after it.
bool fitsOneLatin1Line(const QString &entry)
{
    for (const QChar c : entry) {
        if (c.unicode() > 0xff || c == u'\r' || c == u'\n')
            return false;
    }
    return true;
}
} // namespace

QString UnblockedFile::readFirstLine(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray line;
    while (true) {
        const QByteArray chunk = file.read(ReadChunk);
        if (chunk.isEmpty())
            break;
        qsizetype end = -1;
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            if (chunk[i] == '\n' || chunk[i] == '\r') {
                end = i;
                break;
            }
        }
        if (end >= 0) {
            line += chunk.left(end);
            break;
        }
        line += chunk;
    }
    return QString::fromLatin1(line);
}

bool UnblockedFile::write(const QString &path, const QString &allowListText, QString *error)
{
    QStringList kept;
    QSet<QString> seen;
    for (const QString &entry : allowListText.split(u',')) {
        if (entry.isEmpty() || !fitsOneLatin1Line(entry) || seen.contains(entry))
            continue;
        seen.insert(entry);
        kept.append(entry);
    }
    const QByteArray bytes = kept.join(u',').toLatin1() + "\r\n";

    QString reason;
    if (!LocalTextFile::writeWhole(path, bytes, &reason)) {
        if (error)
            *error = QStringLiteral("Could not save %1: %2").arg(path, reason);
        return false;
    }
    return true;
}
