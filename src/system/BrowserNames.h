#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <bitset>

// The other web browsers the child must not use beside us. Core-only so that
// the `terminate` program can compile it without the widget library.

// The executable names looked for when nothing else is configured.
QStringList defaultBrowserNames();

// Reads `[browsers] names` (comma-separated) from INI files in the order given:
// the last file that names any wins. Missing or unreadable files, files
// without that key or with no names in it give the default names. The
// browser's watchdog and the `terminate` program both read them so, from the
// same files, or the helper would be started every second to end nothing.
QStringList readBrowserNames(const QStringList &iniPaths);

// Lower-cases and trims each name and drops empty ones and repeats: an empty
// name would be "contained" in every process name and mark everything a browser.
QStringList normalizedBrowserNames(const QStringList &names);

// Our own programs and the web engine's helper processes: never counted as
// another browser and never ended, whatever the configured names say.
// `name` is an executable base name in any case.
bool isProtectedProgramName(const QString &name);

// Whether a program is one of the other browsers: its whole executable base
// name, lower-cased, is one of `normalizedNames`, and it is none of ours. The
// one rule for counting browsers and for ending them.
bool isBrowserProgramName(const QString &name, const QStringList &normalizedNames);

// isBrowserProgramName over an executable base name as the file system spells
// it, for a count that runs every second: a name of plain ASCII is compared
// byte by byte, case ignored, with the names of its length alone; any other
// name is decoded and given to isBrowserProgramName itself.
class BrowserNameMatcher {
public:
    explicit BrowserNameMatcher(const QStringList &normalizedNames = {});
    bool matches(QByteArrayView name) const;

private:
    static constexpr qsizetype MaxAsciiLength = 256;   // a file name holds at most 255 bytes

    QStringList m_names;
    QList<QByteArray> m_ascii;                 // lower case, none of ours
    std::bitset<MaxAsciiLength> m_asciiLengths;
};
