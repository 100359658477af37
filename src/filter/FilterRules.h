#pragma once

#include <QString>
#include <QStringList>

// The navigation filter's small rules: what the status line says, which status
// line can be unblocked, how the progress bar follows the view's progress, and
// which completed sites let pages open windows.
namespace FilterRules {

// The address as the screen may show it: the installation's id is its key at
// the portal, so every occurrence of it gives way to "...".
QString shownAddress(const QString &address, const QString &userId);

// "Blocked: " and the first 50 characters of the address.
QString blockedStatusText(const QString &address);

// What a pop-up writes into the main window's status line for an address it lets through.
QString popupAllowedStatusText(const QString &address);

// True only when the caption starts with exactly "Blocked:" (case counts).
bool isBlockedStatus(const QString &statbarCaption);

struct ProgressState
{
    bool visible = false;
    float maximum = 100.0f;
    float value = 0.0f;
};

// The bar after a progress report (the minimum is always 0). A maximum below 1
// hides the bar and keeps the previous maximum; progress outside 1..maximum
// hides it at 0; otherwise it is shown at the progress.
ProgressState progressFor(qint32 progress, qint32 progressMax, ProgressState previous);

// True when the site line's caption is exactly (case counts) one of the special
// children's sites. Empty configured domains never match.
bool isSpecialSite(const QString &caption, const QStringList &specialDomainsUpper);

} // namespace FilterRules
