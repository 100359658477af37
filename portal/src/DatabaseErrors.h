#pragma once

#include "DbConfig.h"

#include <QSqlError>
#include <QString>

// The message of a failed statement, on one line: the driver's own words, and where the
// database refused a write because it is read-only, a sentence that says so first.
QString databaseErrorMessage(const QSqlError &error, DbConfig::Kind kind);
// The database refused a write because it is read-only (a file, a mount, a server).
bool isReadOnlyError(const QSqlError &error, DbConfig::Kind kind);

// Writes one line "tadpole-portal: database: MESSAGE" to standard error, at most five in
// any ten seconds: a database that is down fails every request, and thousands of lines a
// second would bury the first, telling one. The next line written counts those left out.
void reportDatabaseError(const QString &message);
