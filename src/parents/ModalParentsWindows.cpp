#include "parents/ParentsContext.h"
#include "parents/SiteEditorWindow.h"
#include "parents/PreferencesWindow.h"
#include "parents/PasswordGate.h"
#include "parents/SiteSelectionWindow.h"

#include <QApplication>

void ModalParentsWindows::showGate(const ParentsContext &context)
{
    PasswordGate window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showSiteSelection(const ParentsContext &context)
{
    SiteSelectionWindow window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showPreferences(const ParentsContext &context)
{
    PreferencesWindow window(context, QApplication::activeWindow());
    window.exec();
}

void ModalParentsWindows::showSiteEditor(const ParentsContext &context, const SelectedSite &selected)
{
    SiteEditorWindow window(context, selected, QApplication::activeWindow());
    window.exec();
}
