#pragma once

#include "DbConfig.h"
#include "PortalPages.h"

#include <QString>

// Before serving: opens the database once, creates or migrates its schema, fills a new
// one with the public sites of the starter catalogue `cataloguePath` (none when it is
// empty), makes sure the portal may write to it, loads the demo family into an empty
// database when asked, and fills in the go-link key, the reply cache (`cacheBytes` for all
// workers together) and the change feed.
bool preparePortal(const DbConfig &db, qsizetype cacheBytes, const QString &cataloguePath, PortalConfig *config,
                   QString *error);
