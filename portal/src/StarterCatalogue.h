#pragma once

#include "PortalStore.h"

#include <QList>
#include <QString>

#include <optional>

// The public sites a new database starts with: a UTF-8 text file, one site a line, its
// fields separated by TABs: name, address, ages from, ages to, a line for parents. Lines
// starting with "#" and empty lines are skipped. Each site's logo is the letter tile of
// its name's first letter.
std::optional<QList<SiteFields>> readStarterCatalogue(const QString &path, QString *error);

// Where the catalogue installed with this program is: share/tadpole-portal/ beside its
// bin/, or, in a build folder, the program's own folder.
QString defaultStarterCatalogue(const QString &programFolder);
