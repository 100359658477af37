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

// An entry read as a host: a host name of labels of letters, digits, "-" and
// "_" ("KIDS.EXAMPLE", "PAYPAL") or a bracketed address ("[::1]"), then perhaps
// ":" and a port of 0 to 65535. False when the entry is none of these.
struct HostEntry
{
    QStringView host;  // without the brackets of a bracketed address
    int port = -1;     // -1 when none is written
    bool bracketed = false;
    qsizetype dots = 0; // of a host name
};
bool readHostEntry(QStringView entry, HostEntry *read);
