#include "system/WindowCloser.h"

#include "system/X11WindowCloser.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace {

// Marks a window whose close request is still in the event queue.
constexpr char closePendingProperty[] = "_tadpole_close_pending";
// Marks a window that accepted our close but lives on hidden. For the child a
// closed window is gone, so a title search must not find it again until it is
// shown anew; otherwise the second of two same-titled prompts is never reached.
constexpr char closedProperty[] = "_tadpole_closed";

class ReshowWatcher : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            watched->setProperty(closedProperty, QVariant());
            watched->removeEventFilter(this);
        }
        return false;
    }
};

ReshowWatcher *reshowWatcher()
{
    static ReshowWatcher watcher;
    return &watcher;
}

void closeForeignWindowsByTitle(const QStringList &titles)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    _XDisplay *display = x11 ? x11->display() : nullptr;
    if (!display)
        return;

    // The closer keeps its atoms; make it again only when the connection changed.
    static std::unique_ptr<X11WindowCloser> closer;
    static _XDisplay *boundDisplay = nullptr;
    if (!closer || boundDisplay != display) {
        closer = std::make_unique<X11WindowCloser>(display);
        boundDisplay = display;
    }

    // Our own windows were handled (or deliberately passed over) above: a
    // second X11 request to one of them would close it twice.
    QList<unsigned long> ours;
    for (const QWindow *window : QGuiApplication::allWindows()) {
        if (window->handle())
            ours.append(static_cast<unsigned long>(window->winId()));
    }
    closer->closeWindowsByTitle(titles, ours);
}

} // namespace

bool closeOwnWindowByTitle(const QString &title)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;

    QWidgetList windows = QApplication::topLevelWidgets();
    // The widget set has no order of its own; a window the user can see is
    // the one a title search should find first.
    std::stable_partition(windows.begin(), windows.end(),
                          [](const QWidget *w) { return w->isVisible(); });

    for (QWidget *window : std::as_const(windows)) {
        if (window->property(closePendingProperty).toBool()
            || window->property(closedProperty).toBool()) {
            continue;
        }
        if (window->windowTitle().compare(title, Qt::CaseInsensitive) != 0)
            continue;
        window->setProperty(closePendingProperty, true);
        // Queued, as the close box's event would be: the window may still
        // refuse in its closeEvent, and then a later call can ask again.
        QMetaObject::invokeMethod(
            window,
            [window] {
                window->setProperty(closePendingProperty, QVariant());
                if (window->close() && !window->isVisible()) {
                    window->setProperty(closedProperty, true);
                    window->installEventFilter(reshowWatcher());
                }
            },
            Qt::QueuedConnection);
        return true;
    }
    return false;
}

void CloseWindowsByTitle(const QStringList &titles)
{
    // Ours first for every title: asking one queues its close and nothing
    // else, so the order against the other programs' search is as if each
    // title were done whole in turn.
    QStringList foreign;
    for (const QString &title : titles) {
        if (!closeOwnWindowByTitle(title))
            foreign.append(title);
    }
    if (!foreign.isEmpty())
        closeForeignWindowsByTitle(foreign);
}

