#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// Which entries may join the allow list after start-up's defaults: a learned
// site, an unblocked site, or one read back from the unblocked file. An entry
// is looked for anywhere in an address, so a short or odd one ("Q", "CO", a
// caption holding ",") would let nearly every address through. Only these pass:
// a host name of two or more non-empty labels ("KIDS.EXAMPLE"), a host with a
// port ("LOCALHOST:8080", "[::1]:8642"), or one of the default entries (any case).
bool isAcceptableEntry(QStringView entry, const QStringList &defaults);
