#include "filter/Unblocking.h"

#include "filter/FilterAddress.h"
#include "filter/FilterRules.h"
#include "filter/NavigationFilter.h"
#include "filter/UnblockedFile.h"
#include "shell/ProgramState.h"
#include "shell/Services.h"

namespace {
const QString Title = QStringLiteral("Tadpole");
}

bool Unblocking::acceptable(const QString &address) const
{
    // Only a web address: the site is read from the text, so a made-up scheme
    // ending in "http" ("kids.http://example.org/") would add a host other than
    // the one the parent is shown ("KIDS.EXAMPLE.ORG").
    const QUrl url(address);
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (web && !url.host().isEmpty() && state.allowList.acceptable(filter.siteOf(url)))
        return true;
    dialogs.message(QStringLiteral("This address cannot be unblocked."), Title);
    return false;
}

void Unblocking::unblock(QString address) const
{
    if (!acceptable(address))
        return;
    const bool guarded = !state.settings.Password.isEmpty();
    if (guarded && !(parentAllows && parentAllows()))
        return;
    if (dialogs.askYesNo(QStringLiteral("Unblock: ") + FilterAddress::forQuestion(FilterRules::shownAddress(address, state.userId)), QStringLiteral("Allow Access"),
                         guarded ? Dialogs::Answer::No : Dialogs::Answer::Yes)
        != Dialogs::Answer::Yes) {
        return;
    }
    allow(address);
}

bool Unblocking::allow(const QString &address) const
{
    if (!acceptable(address))
        return false;
    state.allowList.unblock(filter.siteOf(QUrl(address)));
    if (load)
        load(address);
    QString error;
    if (!UnblockedFile::write(state.appFolder + QStringLiteral("unblocked.tad"), state.allowList.fileText(), &error)) {
        dialogs.message(QStringLiteral("The site is allowed until Tadpole closes, but it could not be saved: ") + error,
                        Title);
    }
    return true;
}
