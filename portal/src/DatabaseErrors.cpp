#include "DatabaseErrors.h"

#include <chrono>
#include <mutex>

#include <unistd.h>

bool isReadOnlyError(const QSqlError &error, DbConfig::Kind kind)
{
    // SQLITE_READONLY and its extended codes; PostgreSQL's read_only_sql_transaction.
    const QString code = error.nativeErrorCode();
    bool numeric = false;
    const int sqliteCode = code.toInt(&numeric);
    return kind == DbConfig::Kind::Sqlite ? numeric && (sqliteCode & 0xff) == 8 : code == QLatin1String("25006");
}

QString databaseErrorMessage(const QSqlError &error, DbConfig::Kind kind)
{
    const QString code = error.nativeErrorCode();
    const bool readOnly = isReadOnlyError(error, kind);
    QString message = error.text().simplified();
    if (message.isEmpty())
        message = QStringLiteral("error %1 without a message").arg(code);
    if (readOnly)
        message.prepend(QStringLiteral("the database is read-only, and the portal writes every change to it: "));
    return message;
}

void reportDatabaseError(const QString &message)
{
    using Clock = std::chrono::steady_clock;
    constexpr int LinesPerWindow = 5;
    constexpr auto Window = std::chrono::seconds(10);
    static std::mutex mutex;
    static Clock::time_point windowStart;
    static int written = 0;
    static qint64 leftOut = 0;

    std::lock_guard lock(mutex);
    const Clock::time_point t = Clock::now();
    if (written == 0 || t - windowStart >= Window) {
        windowStart = t;
        written = 0;
    }
    if (written >= LinesPerWindow) {
        ++leftOut;
        return;
    }
    ++written;
    // Driver messages span lines ("server closed the connection unexpectedly\n\tThis
    // probably means..."): one error, one line.
    QByteArray line = "tadpole-portal: database: "
                      + (message.isEmpty() ? QByteArray("a request failed without a message") : message.simplified().toUtf8());
    if (leftOut > 0)
        line += " (" + QByteArray::number(leftOut) + " more database errors before this one were not written)";
    leftOut = 0;
    line += '\n';
    // One write() per line, so lines of different threads never mix.
    if (::write(STDERR_FILENO, line.constData(), size_t(line.size())) < 0) {
        // Standard error is gone; there is nowhere else to tell.
    }
}
