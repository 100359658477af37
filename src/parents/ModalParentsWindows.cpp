#include "parents/ParentsContext.h"
#include "parents/frmNewSite.h"
#include "parents/frmPref.h"
#include "parents/frmSecurity.h"
#include "parents/frmSiteSel.h"

void ModalParentsWindows::showGate(const ParentsContext &context)
{
    frmSecurity window(context);
    window.exec();
}

void ModalParentsWindows::showSiteSelection(const ParentsContext &context)
{
    frmSiteSel window(context);
    window.exec();
}

void ModalParentsWindows::showPreferences(const ParentsContext &context)
{
    frmPref window(context);
    window.exec();
}

void ModalParentsWindows::showSiteEditor(const ParentsContext &context, const SelectedSite &selected)
{
    frmNewSite window(context, selected);
    window.exec();
}
