#include "parents/ParentsContext.h"
#include "parents/SiteEditorWindow.h"
#include "parents/PreferencesWindow.h"
#include "parents/PasswordGate.h"
#include "parents/SitePreviewWindow.h"
#include "parents/SiteSelectionWindow.h"
#include "parents/WindowOwner.h"

bool ModalParentsWindows::showGate(const ParentsContext &context)
{
    return PasswordGate::ask(context, windowOwner());
}

void ModalParentsWindows::showSiteSelection(const ParentsContext &context)
{
    SiteSelectionWindow window(context, windowOwner());
    window.exec();
}

void ModalParentsWindows::showPreferences(const ParentsContext &context)
{
    PreferencesWindow window(context, windowOwner());
    window.exec();
}

void ModalParentsWindows::showSiteEditor(const ParentsContext &context, qint32 siteId, const QString &siteType,
                                         const SelectedSite &selectedRow)
{
    SiteEditorWindow window(context, siteId, siteType, selectedRow, windowOwner());
    window.exec();
}

void ModalParentsWindows::showPreview(const ParentsContext &context, const QUrl &address, QWidget *over)
{
    SitePreviewWindow window(*context.views, address, over);
    window.exec();
}
