#include "parents/ParentsContext.h"
#include "parents/SiteEditorWindow.h"
#include "parents/PreferencesWindow.h"
#include "parents/PasswordGate.h"
#include "parents/SitePreviewWindow.h"
#include "parents/SiteSelectionWindow.h"

#include <QApplication>
#include <QMainWindow>

namespace {

// The window a parents' window belongs to: the active one or, in the moment
// after the gate closed when none is, the program's shown main window. A
// window without one would open under the locked window, which stays on top.
QWidget *owner()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && qobject_cast<QMainWindow *>(window))
            return window;
    }
    return nullptr;
}

} // namespace

bool ModalParentsWindows::showGate(const ParentsContext &context)
{
    return PasswordGate::ask(context, owner());
}

void ModalParentsWindows::showSiteSelection(const ParentsContext &context)
{
    SiteSelectionWindow window(context, owner());
    window.exec();
}

void ModalParentsWindows::showPreferences(const ParentsContext &context)
{
    PreferencesWindow window(context, owner());
    window.exec();
}

void ModalParentsWindows::showSiteEditor(const ParentsContext &context, qint32 siteId, const QString &siteType,
                                         const SelectedSite &selectedRow)
{
    SiteEditorWindow window(context, siteId, siteType, selectedRow, owner());
    window.exec();
}

void ModalParentsWindows::showPreview(const ParentsContext &context, const QUrl &address, QWidget *over)
{
    SitePreviewWindow window(*context.views, address, over);
    window.exec();
}
