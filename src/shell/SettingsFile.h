#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

// The hours of the day in which the child may browse, "07:00-19:30"; a
// stretch whose end comes before its start runs over midnight.
struct AllowedHours {
    QTime from;
    QTime to;
    bool isSet() const { return from.isValid() && to.isValid() && from != to; }
    bool operator==(const AllowedHours &) const = default;
};

// Our own time options, kept in "control.ini" under keys that older readers
// pass over. Their defaults write nothing, so a file without them is the old format.
struct TimeOptions {
    bool wholeDay = false; // the limit counts over the whole day, across restarts
    AllowedHours hours;
};

// The parent's choices in "control.ini": password, STOP lock and time limit.
struct ParentalSettings {
    QString Password;
    QString StopDisabled;
    QString TimeLimit;
    QDateTime LimitEnd; // invalid until a "timer" line was read
    TimeOptions time;
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

// The STOP lock a "stop" value sets: 0 or 1, spaces around it allowed
// ("stop=1 " from a hand edit); any other value sets nothing.
std::optional<bool> stopLock(const QString &value);

// Applies every readable line to `settings`; later lines win, unknown keys,
// lines without "=" and a STOP value that sets nothing change nothing, a
// missing file changes nothing.
void ReadSettings(const QString &appFolder, const QDateTime &now, ParentalSettings &settings);

// The four lines a save writes, in the order readers and older files expect.
// `write` refuses a password or caption holding a line break, leaving the
// file as it was.
// The time options' lines ("daily=1", "hours=07:00-19:30") follow, each only
// when it is not the default.
QStringList formatLines(const QString &password, bool stopDisabled, const QString &timeLimit,
                        const TimeOptions &options = {});
bool write(const QString &appFolder, const QString &password, bool stopDisabled, const QString &timeLimit,
           QString *error = nullptr);
bool write(const QString &appFolder, const QString &password, bool stopDisabled, const QString &timeLimit,
           const TimeOptions &options, QString *error);

// "07:00-19:30" and back; text that is not two times gives no hours.
AllowedHours parseHours(const QString &text);
QString formatHours(const AllowedHours &hours);

} // namespace SettingsFile
