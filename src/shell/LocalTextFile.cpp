#include "shell/LocalTextFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace LocalTextFile {

// Written as UTF-8. A line edited elsewhere in another 8-bit code page reads
// byte for byte as Latin-1; only that line, so one such line never turns a
// parent's non-ASCII password on another line into other characters.
static QString decodeLine(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QStringList readLines(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(maxBytes);

    // CR and LF never occur inside a UTF-8 sequence, so the bytes are split
    // into lines before any of them is decoded.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines << decodeLine(QByteArrayView(bytes).sliced(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines << decodeLine(QByteArrayView(bytes).sliced(start));
    return lines;
}

bool writeLines(const QString &path, const QStringList &lines, QString *error)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toUtf8() + "\r\n";

    return writeWhole(path, bytes, error);
}

bool writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    // Unbuffered, so that a write the disk refuses fails here: a buffered one
    // is only written while committing, which renames the temporary file over
    // the old one even when that write failed, leaving an empty file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace LocalTextFile
