#pragma once

#include "DbConfig.h"
#include "PortalPages.h"

#include <QString>

// Before serving: opens the database once, creates or migrates its schema, makes sure the
// portal may write to it, loads the demo family into an empty database when asked, and
// fills in the go-link key, the reply cache (`cacheBytes` for all workers together) and
// the change feed.
bool preparePortal(const DbConfig &db, qsizetype cacheBytes, PortalConfig *config, QString *error);
