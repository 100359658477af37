#pragma once

#include <QApplication>
#include <QMainWindow>

// The window a box or a parents' window belongs to, and shows over: the
// active one or, in the moment after another box has closed and before the
// window manager names the next active window, the program's shown main
// window. A window without one would open under the locked window, which
// stays on top, where no one could read it.
inline QWidget *windowOwner()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && qobject_cast<QMainWindow *>(window))
            return window;
    }
    return nullptr;
}
