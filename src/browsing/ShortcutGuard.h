#pragma once

#include <QObject>

class QKeyEvent;

// Swallows the keys that would leave the child's window or show what the
// filter guards: a new window or tab, the page's source, developer tools,
// saving, printing, opening a file. Installed on the application, so no
// widget under the mouse or the focus ever sees them. Alt+F4 asks the
// window it reaches to close.
class ShortcutGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static bool isForbidden(const QKeyEvent &event);
    static bool isCloseRequest(const QKeyEvent &event);
};
