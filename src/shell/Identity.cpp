#include "shell/Identity.h"

#include "shell/LocalTextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

namespace Identity {

QString shortVersion()
{
    return QString::number(VersionMajor) + QLatin1Char('.') + QString::number(VersionMinor);
}

QString longVersion()
{
    return shortVersion() + QString::number(VersionRevision);
}

QString fileName(const QString &appFolder)
{
    return appFolder + QStringLiteral("userid.id");
}

QString makeUserId(const QDateTime &now, quint32 randomBelowMillion)
{
    return now.toString(QStringLiteral("yyyyMMddHHmmss")) + QString::number(randomBelowMillion % 1000000u);
}

namespace {

// What the portal takes as an installation's id: 1 to 40 ASCII digits.
bool isUsableId(const QString &id)
{
    if (id.isEmpty() || id.size() > 40)
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The first line of a plain file that holds a usable id; empty otherwise
// (missing, a folder, empty, or not a number).
QString usableIdIn(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return QString();
    const QStringList lines = LocalTextFile::readLines(path);
    return lines.isEmpty() || !isUsableId(lines.first()) ? QString() : lines.first();
}

// Moves a file or folder that holds no usable id aside, under the first free
// "userid.id.bad" name, so nothing the parent may want is lost.
bool moveAside(const QString &path)
{
    for (int n = 0; n < 10; ++n) {
        const QString target = path + QStringLiteral(".bad") + (n ? QString::number(n) : QString());
        if (!QFileInfo::exists(target) && !QFileInfo(target).isSymLink())
            return QDir().rename(path, target);
    }
    return false;
}

} // namespace

QString spareFileName(const QString &appFolder)
{
    return appFolder + QStringLiteral("userid-spare.id");
}

LoadResult LoadUserId(const QString &appFolder, const QDateTime &now, const std::function<quint32()> &random)
{
    const QString path = fileName(appFolder);
    const QString stored = usableIdIn(path);
    if (!stored.isEmpty())
        return {stored, QString()};

    // The portal refuses an id that is no number, so no family data hangs on
    // one: it is treated as missing. The bad file goes aside; where it cannot
    // (a folder that will not move), the id lives in the spare file instead,
    // which is read back on every start until the main file is free again.
    const bool blocked = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    const bool free = !blocked || moveAside(path);
    const QString spare = spareFileName(appFolder);
    LoadResult result{usableIdIn(spare), QString()};
    if (!result.userId.isEmpty() && !free)
        return result;
    if (result.userId.isEmpty()) {
        const quint32 drawn = random ? random() : QRandomGenerator::system()->bounded(1000000u);
        result.userId = makeUserId(now, drawn);
    }
    const QString target = free ? path : spare;
    QString error;
    if (!LocalTextFile::writeLines(target, {result.userId}, &error))
        result.error = QStringLiteral("Could not store the user id in %1: %2").arg(target, error);
    else if (free)
        QFile::remove(spare);
    return result;
}

} // namespace Identity
