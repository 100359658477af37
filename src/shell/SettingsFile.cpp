#include "shell/SettingsFile.h"

#include "shell/LocalTextFile.h"

#include <QFileInfo>

namespace SettingsFile {

QString fileName(const QString &appFolder)
{
    return appFolder + QStringLiteral("control.ini");
}

const QStringList &timeLimitCaptions()
{
    static const QStringList captions = {
        QStringLiteral("No Limit"),          QStringLiteral("15 minutes"),        QStringLiteral("30 minutes"),
        QStringLiteral("45 minutes"),        QStringLiteral("1 Hour"),            QStringLiteral("1 Hr. and 15 min."),
        QStringLiteral("1 Hr. and 30 min."), QStringLiteral("1 Hr. and 45 min."), QStringLiteral("2 Hours"),
    };
    return captions;
}

QDateTime TimeLimitEnd(const QString &caption, const QDateTime &now)
{
    // Index i of the captions grants 15 * i minutes; "No Limit" is index 0.
    const qsizetype index = timeLimitCaptions().indexOf(caption);
    if (index <= 0)
        return now.addDays(365);
    return now.addSecs(qint64(index) * 15 * 60);
}

bool EnsureSettingsFile(const QString &appFolder, QString *error)
{
    if (QFileInfo::exists(fileName(appFolder)))
        return true;
    return LocalTextFile::writeLines(fileName(appFolder), formatLines(QString(), false, QStringLiteral("0")), error);
}

QList<Entry> readEntries(const QString &appFolder)
{
    QList<Entry> entries;
    for (const QString &line : LocalTextFile::readLines(fileName(appFolder))) {
        const QStringList pieces = line.split(QLatin1Char('='));
        if (pieces.size() >= 2)
            entries.append({pieces.at(0).toUpper(), pieces.at(1)});
    }
    return entries;
}

std::optional<bool> stopLock(const QString &value)
{
    bool isNumber = false;
    const int number = value.trimmed().toInt(&isNumber);
    if (!isNumber || (number != 0 && number != 1))
        return std::nullopt;
    return number == 1;
}

void ReadSettings(const QString &appFolder, const QDateTime &now, ParentalSettings &settings)
{
    for (const Entry &entry : readEntries(appFolder)) {
        if (entry.key == QLatin1String("PW")) {
            settings.Password = entry.value == QLatin1String(".") ? QString() : entry.value;
        } else if (entry.key == QLatin1String("STOP")) {
            // Read as the preferences show it, so a lock they show ticked holds.
            if (const std::optional<bool> lock = stopLock(entry.value))
                settings.StopDisabled = *lock ? QStringLiteral("1") : QStringLiteral("0");
        } else if (entry.key == QLatin1String("TIMER")) {
            settings.TimeLimit = entry.value;
            settings.LimitEnd = TimeLimitEnd(entry.value, now);
        } else if (entry.key == QLatin1String("DAILY")) {
            settings.time.wholeDay = entry.value.trimmed() == QLatin1String("1");
        } else if (entry.key == QLatin1String("HOURS")) {
            settings.time.hours = parseHours(entry.value);
        }
    }
}

QStringList formatLines(const QString &password, bool stopDisabled, const QString &timeLimit, const TimeOptions &options)
{
    QStringList lines = {
        QStringLiteral("pw=") + (password.isEmpty() ? QStringLiteral(".") : password),
        QStringLiteral("stop=") + (stopDisabled ? QLatin1Char('1') : QLatin1Char('0')),
        QStringLiteral("start=0"),
        QStringLiteral("timer=") + timeLimit,
    };
    if (options.wholeDay)
        lines << QStringLiteral("daily=1");
    if (options.hours.isSet())
        lines << QStringLiteral("hours=") + formatHours(options.hours);
    return lines;
}

AllowedHours parseHours(const QString &text)
{
    const QStringList times = text.trimmed().split(QLatin1Char('-'));
    if (times.size() != 2)
        return {};
    AllowedHours hours{QTime::fromString(times.at(0).trimmed(), QStringLiteral("HH:mm")),
                       QTime::fromString(times.at(1).trimmed(), QStringLiteral("HH:mm"))};
    return hours.isSet() ? hours : AllowedHours{};
}

QString formatHours(const AllowedHours &hours)
{
    if (!hours.isSet())
        return {};
    return hours.from.toString(QStringLiteral("HH:mm")) + QLatin1Char('-') + hours.to.toString(QStringLiteral("HH:mm"));
}

bool write(const QString &appFolder, const QString &password, bool stopDisabled, const QString &timeLimit,
           QString *error)
{
    return write(appFolder, password, stopDisabled, timeLimit, TimeOptions{}, error);
}

bool write(const QString &appFolder, const QString &password, bool stopDisabled, const QString &timeLimit,
           const TimeOptions &options, QString *error)
{
    // A line break pasted into a one-line box would end the value early and
    // start a line of its own ("timer=No Limit" CR LF "pw=." unlocks the
    // parents' area at the next start), so such a file is not written.
    for (const QString &value : {password, timeLimit}) {
        if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'))) {
            if (error)
                *error = QStringLiteral("A setting cannot hold a line break.");
            return false;
        }
    }
    return LocalTextFile::writeLines(fileName(appFolder), formatLines(password, stopDisabled, timeLimit, options), error);
}

} // namespace SettingsFile
