#include "DbConfig.h"

#include <QFile>
#include <QUrl>

std::optional<DbConfig> DbConfig::fromUrl(const QString &url, QString *error)
{
    DbConfig c;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        c.kind = Kind::Sqlite;
        c.path = url.mid(7);
        if (c.path.startsWith(QLatin1String("//")))  // sqlite:///abs/path
            c.path = c.path.mid(2);
        if (c.path.isEmpty()) {
            *error = QStringLiteral("sqlite: needs a file name");
            return std::nullopt;
        }
        return c;
    }
    const QUrl u(url, QUrl::StrictMode);
    if (u.isValid() && (u.scheme() == QLatin1String("postgresql") || u.scheme() == QLatin1String("postgres"))) {
        c.kind = Kind::Postgres;
        c.host = u.host();
        c.port = u.port(-1);
        c.user = u.userName();
        c.password = u.password();
        c.database = u.path().mid(1);
        return c;
    }
    *error = QStringLiteral("--db must be sqlite:FILE or postgresql://user@host:port/dbname");
    return std::nullopt;
}

std::optional<QString> DbConfig::passwordFromFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the database password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(64 * 1024);
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read the database password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}
