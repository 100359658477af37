#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The parent's choices in "control.ini": password, STOP lock and time limit.
struct ParentalSettings {
    QString Password;
    QString StopDisabled;
    QString TimeLimit;
    QDateTime LimitEnd; // invalid until a "timer" line was read
};

namespace SettingsFile {

QString fileName(const QString &appFolder); // appFolder + "control.ini"

// The nine time-limit captions in the order the preferences list them.
const QStringList &timeLimitCaptions();

// The moment a caption's limit runs out, counted from `now`; "No Limit" and
// any text that is not one of the captions mean a year from now.
QDateTime TimeLimitEnd(const QString &caption, const QDateTime &now);

// Creates the default file when it is missing; an existing file is left alone.
// Returns false (with the reason) only when a missing file could not be made.
bool EnsureSettingsFile(const QString &appFolder, QString *error = nullptr);

// A line as every reader of the file takes it: split at "=", the key
// upper-cased, the value the text between the first and a second "=",
// neither trimmed. Lines without "=" are left out; a missing file gives none.
struct Entry {
    QString key;
    QString value;
};
QList<Entry> readEntries(const QString &appFolder);

// Applies every readable line to `settings`; later lines win, unknown keys and
// lines without "=" change nothing, a missing file changes nothing.
void ReadSettings(const QString &appFolder, const QDateTime &now, ParentalSettings &settings);

// The four lines a save writes, in the order readers and older files expect.
// `write` refuses a password or caption holding a line break, leaving the
// file as it was.
QStringList formatLines(const QString &password, bool stopDisabled, const QString &timeLimit);
bool write(const QString &appFolder, const QString &password, bool stopDisabled, const QString &timeLimit,
           QString *error = nullptr);

} // namespace SettingsFile
