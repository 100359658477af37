#pragma once

#include <QApplication>
#include <QEvent>
#include <QWidget>

// While start-up runs, the child's clicks, keys and drops on the main window
// start nothing: a face or STOP pressed while the portal is waited for would
// run into a half-made window, and a link dropped on the view would open
// before the filter is on. The window keeps repainting; input that arrives is
// dropped, including what the portal's waits held back and hand on later.
// Other windows (a message box start-up shows) are not touched.
class StartupInputGuard : public QObject {
public:
    explicit StartupInputGuard(QWidget *window) : m_window(window) { qApp->installEventFilter(this); }
    ~StartupInputGuard() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto *widget = qobject_cast<QWidget *>(watched);
            return widget && widget->window() == m_window;
        }
        default:
            return false;
        }
    }

private:
    QWidget *m_window;
};
