#pragma once

#include "PortalStore.h"

#include <QString>

// The version of the tables this portal reads and writes, kept in table schema_version.
inline constexpr int SchemaVersion = 3;

// The row of table secrets that holds the key signing go links.
inline constexpr char GoLinkKeyName[] = "go links";

// Creates the schema on first start, migrates an older one, refuses a newer one: all in
// one transaction on the store's connection.
bool prepareSchema(PortalStore &store, QString *error);

// A write that is rolled back: tells a database this program may not write to (a
// read-only file, a read-only PostgreSQL server) before the first request does.
bool checkWritable(PortalStore &store, QString *error);
