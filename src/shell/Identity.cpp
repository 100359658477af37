#include "shell/Identity.h"

#include "shell/LocalTextFile.h"

#include <QFileInfo>
#include <QRandomGenerator>

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

LoadResult LoadUserId(const QString &appFolder, const QDateTime &now, const std::function<quint32()> &random)
{
    const QString path = fileName(appFolder);
    if (QFileInfo::exists(path)) {
        const QStringList lines = LocalTextFile::readLines(path);
        return {lines.isEmpty() ? QString() : lines.first(), QString()};
    }

    const quint32 drawn = random ? random() : QRandomGenerator::system()->bounded(1000000u);
    LoadResult result{makeUserId(now, drawn), QString()};
    QString error;
    if (!LocalTextFile::writeLines(path, {result.userId}, &error))
        result.error = QStringLiteral("Could not store the user id in %1: %2").arg(path, error);
    return result;
}

} // namespace Identity
