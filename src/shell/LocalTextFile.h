#pragma once

#include <QString>
#include <QStringList>

// The program's small local files: 8-bit text with CR LF line ends, read
// forgivingly (LF, CR LF or a lone CR all end a line) and written whole or
// not at all.
namespace LocalTextFile {

// Lines of the file, each decoded on its own: UTF-8, or Latin-1 for a line
// that is not valid UTF-8. An empty list when it is missing or unreadable.
// `maxBytes` bounds what is read, so a runaway file cannot exhaust memory.
QStringList readLines(const QString &path, qint64 maxBytes = 16 * 1024 * 1024);

// Writes every line followed by CR LF through a temporary file that is then
// renamed over the old one. Returns false with a readable reason on failure;
// the old file is then untouched.
bool writeLines(const QString &path, const QStringList &lines, QString *error);

// Writes the bytes as they are, in the same way.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

} // namespace LocalTextFile
