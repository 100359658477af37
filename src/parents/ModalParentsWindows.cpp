#include "parents/ParentsContext.h"
#include "parents/frmNewSite.h"
#include "parents/frmPref.h"
#include "parents/frmSecurity.h"
#include "parents/frmSiteSel.h"

#include <QApplication>

void ModalParentsWindows::showGate(const ParentsContext &context)
{
    frmSecurity window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showSiteSelection(const ParentsContext &context)
{
    frmSiteSel window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showPreferences(const ParentsContext &context)
{
    frmPref window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showSiteEditor(const ParentsContext &context, const SelectedSite &selected)
{
    frmNewSite window(context, selected, QApplication::activeWindow());
    window.exec();
}
