#pragma once

#include <QString>

// "unblocked.tad": one line of comma-separated allow-list entries, 8-bit text,
// ended by CR LF. Only the first line is ever read.
class UnblockedFile
{
public:
    // The file's first line without its line end (LF, CR LF or a lone CR), read
    // as Latin-1 so every byte comes back as one character. Empty when the file
    // is missing, unreadable or holds no line.
    static QString readFirstLine(const QString &path);

    // Replaces the file, whole or not at all, with the list's entries on one
    // line: repeated and empty entries dropped (first occurrence kept, in
    // order). Entries that one 8-bit line cannot hold are left out of the file.
    // On failure returns false, leaves any old file as it was and, when error is
    // given, says why.
    static bool write(const QString &path, const QString &allowListText, QString *error);
};
