#pragma once

#include <QApplication>
#include <QMainWindow>

// The window a box or a parents' window belongs to, and shows over: the
// active one or, in the moment after another box has closed and before the
// window manager names the next active window, the open parents' window or
// else the program's main window where it shows. A window without one would
// open under the locked window, which stays on top, where no one could read
// it; one that belongs to a minimised window may be hidden with it.
inline QWidget *windowOwner()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !window->isMinimized() && qobject_cast<QMainWindow *>(window))
            return window;
    }
    return nullptr;
}
