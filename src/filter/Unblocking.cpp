#include "filter/Unblocking.h"

#include "filter/FilterAddress.h"
#include "filter/FilterRules.h"
#include "filter/NavigationFilter.h"
#include "filter/UnblockedFile.h"
#include "shell/ProgramState.h"
#include "shell/Services.h"

void Unblocking::unblock(QString address) const
{
    const QString title = QStringLiteral("Tadpole");
    const QString entry = filter.siteOf(QUrl(address));
    if (!state.allowList.acceptable(entry)) {
        dialogs.message(QStringLiteral("This address cannot be unblocked."), title);
        return;
    }
    const bool guarded = !state.settings.Password.isEmpty();
    if (guarded && !(parentAllows && parentAllows()))
        return;
    if (dialogs.askYesNo(QStringLiteral("Unblock: ") + FilterAddress::forQuestion(FilterRules::shownAddress(address, state.userId)), QStringLiteral("Allow Access"),
                         guarded ? Dialogs::Answer::No : Dialogs::Answer::Yes)
        != Dialogs::Answer::Yes) {
        return;
    }
    state.allowList.unblock(entry);
    load(address);
    QString error;
    if (!UnblockedFile::write(state.appFolder + QStringLiteral("unblocked.tad"), state.allowList.fileText(), &error)) {
        dialogs.message(QStringLiteral("The site is allowed until Tadpole closes, but it could not be saved: ") + error,
                        title);
    }
}
