#pragma once

#include "PortalStore.h"

#include <QString>

#include <functional>

// The version of the tables this portal reads and writes, kept in table schema_version.
inline constexpr int SchemaVersion = 3;

// The row of table secrets that holds the key signing go links.
inline constexpr char GoLinkKeyName[] = "go links";

// Creates the schema on first start, migrates an older one, refuses a newer one: all in
// one transaction on the store's connection. `fillNew`, when given, writes the first rows
// of a database whose schema was just created, in that same transaction; when it fails
// nothing is created.
bool prepareSchema(PortalStore &store, QString *error,
                   const std::function<bool(PortalStore &, QString *)> &fillNew = {});

// A write that is rolled back: tells a database this program may not write to (a
// read-only file, a read-only PostgreSQL server) before the first request does.
bool checkWritable(PortalStore &store, QString *error);
