#include "browsing/ShortcutGuard.h"

#include <QKeyEvent>
#include <QWidget>

bool ShortcutGuard::isForbidden(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event.key();
    if (key == Qt::Key_F12)
        return true;
    if (modifiers == Qt::ControlModifier)
        return key == Qt::Key_N || key == Qt::Key_T || key == Qt::Key_U || key == Qt::Key_S || key == Qt::Key_P
            || key == Qt::Key_O;
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier))
        return key == Qt::Key_N || key == Qt::Key_T || key == Qt::Key_I || key == Qt::Key_J || key == Qt::Key_C
            || key == Qt::Key_S || key == Qt::Key_P;
    return false;
}

bool ShortcutGuard::isCloseRequest(const QKeyEvent &event)
{
    return event.key() == Qt::Key_F4
        && (event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier)) == Qt::AltModifier;
}

bool ShortcutGuard::eventFilter(QObject *watched, QEvent *event)
{
    // Alt+F4 reaches a window while it holds the keyboard, or where the window
    // manager leaves the key alone: it asks that window to close, as the
    // window manager would, so the locked window's STOP command decides.
    // A key held down asks once: its repeats would refuse the gate it opened.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() && isCloseRequest(*static_cast<QKeyEvent *>(event))) {
        if (!static_cast<QKeyEvent *>(event)->isAutoRepeat()) {
            QWidget *window = static_cast<QWidget *>(watched)->window();
            QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
        }
        event->accept();
        return true;
    }
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (isForbidden(*static_cast<QKeyEvent *>(event))) {
            event->accept();
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
