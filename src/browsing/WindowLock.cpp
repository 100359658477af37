#include "browsing/WindowLock.h"

#include "system/DesktopFocus.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>

namespace {
// How soon the window comes back after the child left it, and how often it
// tries again while the window manager has not yet given it the focus.
constexpr int EnforceMs = 150;
constexpr Qt::WindowFlags LockedFlags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Elsewhere (offscreen, a compositor without the inhibitor) there is nothing
// to hold, and nothing to try again.
bool canHoldKeyboard()
{
    return onX11() || ShortcutsInhibitor::available();
}
} // namespace

WindowLock::WindowLock(QWidget *childWindow, std::function<bool()> parentsAreaOpen)
    : QObject(childWindow), m_window(childWindow), m_parentsAreaOpen(std::move(parentsAreaOpen))
{
    m_enforce.setSingleShot(true);
    m_enforce.setInterval(EnforceMs);
    connect(&m_enforce, &QTimer::timeout, this, &WindowLock::enforce);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &WindowLock::onFocusWindowChanged);
    // A screen plugged in, taken away or changed: covered again as it is now.
    const auto recover = [this] {
        removeCovers();
        coverOtherScreens();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, recover);
    // Once the windows on a screen taken away have moved to another one.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, recover, Qt::QueuedConnection);
    m_window->installEventFilter(this);
}

WindowLock::~WindowLock()
{
    releaseKeyboard();
    removeCovers();
}

void WindowLock::coverOtherScreens()
{
    QList<QScreen *> others;
    if (holding()) {
        for (QScreen *screen : QGuiApplication::screens()) {
            if (screen != m_window->screen())
                others << screen;
        }
    }
    if (others.size() != m_covers.size()
        || std::any_of(m_covers.cbegin(), m_covers.cend(),
                       [&](const Cover &c) { return !c.window || !c.window->isVisible() || !others.contains(c.screen); }))
        removeCovers();
    for (QScreen *screen : others) {
        if (std::any_of(m_covers.cbegin(), m_covers.cend(), [&](const Cover &c) { return c.screen == screen; }))
            continue;
        // Blank, above other programs and never given the focus: a click on
        // it leaves the keys with the window.
        auto *cover = new QWidget(nullptr, LockedFlags | Qt::WindowDoesNotAcceptFocus);
        cover->setObjectName(QStringLiteral("screenCover"));
        cover->setAutoFillBackground(true);
        cover->setPalette(QPalette(Qt::black));
        cover->winId();
        cover->windowHandle()->setScreen(screen);
        cover->setGeometry(screen->geometry());
        connect(screen, &QScreen::geometryChanged, cover, [cover](const QRect &area) { cover->setGeometry(area); });
        cover->setWindowState(Qt::WindowFullScreen);
        cover->show(); // and not activated: it takes no focus
        showOnEveryDesktop(cover->windowHandle(), true);
        m_covers.append({screen, cover});
    }
}

void WindowLock::removeCovers()
{
    for (const Cover &cover : std::as_const(m_covers))
        delete cover.window;
    m_covers.clear();
}

void WindowLock::apply(bool locked)
{
    const bool changed = locked != m_locked || !m_window->isVisible();
    const bool wasLocked = m_locked;
    m_locked = locked;
    if (!changed) {
        // Still locked, after a time nothing was held (the parents' area):
        // the child may have been left at another program's window.
        onFocusWindowChanged(QGuiApplication::focusWindow());
        return;
    }
    const Qt::WindowFlags flags = locked ? (m_window->windowFlags() | LockedFlags) : (m_window->windowFlags() & ~LockedFlags);
    if (flags != m_window->windowFlags())
        m_window->setWindowFlags(flags); // hides the window; shown again below
    if (locked) {
        m_window->showFullScreen();
        showOnEveryDesktop(m_window->windowHandle(), true);
        m_window->raise();
        m_window->activateWindow();
        // The program's windows are watched (eventFilter): a page's menu or
        // list that closes lets go of the keyboard, and a pop-up that shows
        // or closes needs the lock's attention.
        qApp->installEventFilter(this);
        qApp->installNativeEventFilter(this);
    } else {
        m_enforce.stop();
        qApp->removeEventFilter(this);
        qApp->removeNativeEventFilter(this);
        releaseKeyboard();
        if (wasLocked)
            showOnEveryDesktop(m_window->windowHandle(), false);
        m_window->showMaximized();
    }
    coverOtherScreens();
    onFocusWindowChanged(QGuiApplication::focusWindow());
}

void WindowLock::adopt(QWidget *childWindow)
{
    m_adopted.removeAll(nullptr);
    m_adopted.append(childWindow);
    // Above the locked window, which stays above other programs, and with it
    // on every desktop (as it shows); the window manager alone does not put
    // an ordinary window above a full-screen one that stays on top.
    childWindow->setWindowFlags(childWindow->windowFlags() | LockedFlags);
    childWindow->winId();
    if (QWindow *window = childWindow->windowHandle())
        window->setTransientParent(m_window->windowHandle());
}

QWidget *WindowLock::frontAdopted() const
{
    for (qsizetype i = m_adopted.size() - 1; i >= 0; --i) {
        if (m_adopted.at(i) && m_adopted.at(i)->isVisible())
            return m_adopted.at(i);
    }
    return nullptr;
}

QWidget *WindowLock::front() const
{
    if (QWidget *dialog = QApplication::activeModalWidget())
        return dialog;
    QWidget *popup = frontAdopted();
    return popup ? popup : m_window;
}

bool WindowLock::mayHoldKeyboard(const QWindow *window)
{
    // A menu, list or tooltip holds the keyboard itself while it shows.
    return window && window->type() != Qt::Popup && window->type() != Qt::ToolTip;
}

bool WindowLock::escaped() const
{
    // Minimised, or no window of ours is active: another program's is. A
    // dialog or pop-up of ours minimised by its button counts too: the window
    // manager minimises its owner with it, which may be a pop-up, not the window.
    return minimised(m_window) || !m_window->isFullScreen() || QGuiApplication::focusWindow() == nullptr
           || minimised(front()) || popupMinimised() || !inputFocusIsOurs();
}

bool WindowLock::popupMinimised() const
{
    // The window manager tells of each window it minimised on its own, in any
    // order: a pop-up may be told of after the dialog in front of it has
    // already come back.
    return std::any_of(m_adopted.cbegin(), m_adopted.cend(),
                       [](const QPointer<QWidget> &popup) { return popup && popup->isVisible() && minimised(popup); });
}

bool WindowLock::minimised(QWidget *widget)
{
    // Minimised again, by a quick hand, before the program heard that it came
    // back, a window is shown as far as Qt knows; the screen knows better.
    return widget->isMinimized() || minimisedOnScreen(widget->windowHandle());
}

void WindowLock::showAgain(QWidget *widget) const
{
    const bool shownToQt = !widget->isMinimized() && (widget != m_window || widget->isFullScreen());
    if (!shownToQt)
        widget == m_window ? widget->showFullScreen() : widget->showNormal();
    else if (minimisedOnScreen(widget->windowHandle())) // Qt would see nothing to do
        showMinimisedAgain(widget->windowHandle());
}

bool WindowLock::holding() const
{
    return m_locked && !(m_parentsAreaOpen && m_parentsAreaOpen());
}

bool WindowLock::eventFilter(QObject *watched, QEvent *event)
{
    // The window moved to another screen: the one it left is covered instead.
    if (watched == m_window && event->type() == QEvent::ScreenChangeInternal)
        QMetaObject::invokeMethod(this, &WindowLock::coverOtherScreens, Qt::QueuedConnection);
    // Showing a window puts it on the desktop shown now, so a pop-up is put
    // on every desktop once it shows.
    if (event->type() == QEvent::Show && watched->isWidgetType()
        && m_adopted.contains(static_cast<QWidget *>(watched)))
        showOnEveryDesktop(static_cast<QWidget *>(watched)->windowHandle(), true);
    // A menu or list of the page's lets go of the keyboard as it closes, and
    // a pop-up closing may leave the window on a desktop no longer shown.
    if (event->type() == QEvent::Hide && holding()) {
        const Qt::WindowType type = watched->isWindowType() ? static_cast<QWindow *>(watched)->type() : Qt::Widget;
        if (type == Qt::Popup || type == Qt::ToolTip
            || (watched->isWidgetType() && m_adopted.contains(static_cast<QWidget *>(watched)))) {
            // Qt let go of every grab of ours as it closed. The screen takes
            // the keyboard again here, a fraction of a millisecond later (a
            // key pressed in between reaches the window manager, and the
            // window comes back), and the lock looks once more when the
            // closing is done.
            QWindow *holder = QGuiApplication::focusWindow();
            if (!mayHoldKeyboard(holder) && watched->isWindowType()) // the closing list has the focus still
                holder = static_cast<QWindow *>(watched)->transientParent();
            m_grabMayBeLost = true;
            if (mayHoldKeyboard(holder))
                holdKeyboard(holder);
            m_grabMayBeLost = true; // for the second look
            QMetaObject::invokeMethod(this, &WindowLock::enforce, Qt::QueuedConnection);
        }
    }
    const bool stateOrActivation = event->type() == QEvent::WindowStateChange || event->type() == QEvent::ActivationChange
                                   || event->type() == QEvent::Hide;
    const auto *widget = watched->isWidgetType() ? static_cast<QWidget *>(watched) : nullptr;
    if (stateOrActivation && holding()
        && (watched == m_window || (widget && widget->isWindow() && widget == front())
            || (event->type() == QEvent::WindowStateChange && widget && m_adopted.contains(widget))))
        enforceSoon();
    return QObject::eventFilter(watched, event);
}

bool WindowLock::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !holding())
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_FOCUS_IN && type != XCB_FOCUS_OUT)
        return false;
    const auto *focus = static_cast<const xcb_focus_in_event_t *>(message);
    // The screen taking the keyboard is told to our focused window as the
    // focus leaving it for the screen. It has not left: Qt, told, would take
    // the window for inactive, and the lock would bring it back for nothing.
    if (type == XCB_FOCUS_OUT && focus->mode == XCB_NOTIFY_MODE_GRAB && focus->detail == XCB_NOTIFY_DETAIL_ANCESTOR
        && m_screenHolds)
        return true;
    // The server tells the windows when a grab of ours ended, whatever ended
    // it: a page's menu or list letting go as it closed, a widget that took
    // the keyboard for itself letting it go (a colour chooser picking from
    // the screen). It is taken again.
    if (focus->mode == XCB_NOTIFY_MODE_UNGRAB) {
        m_grabMayBeLost = true;
        QMetaObject::invokeMethod(this, &WindowLock::enforce, Qt::QueuedConnection);
    } else if (type == XCB_FOCUS_OUT && focus->mode == XCB_NOTIFY_MODE_WHILE_GRABBED
               && focus->detail != XCB_NOTIFY_DETAIL_INFERIOR && focus->detail != XCB_NOTIFY_DETAIL_POINTER) {
        // The focus left while the keyboard was held. Qt may never tell: the
        // report of a grab of ours that comes just after says it came back.
        QMetaObject::invokeMethod(this, &WindowLock::enforce, Qt::QueuedConnection);
    }
    return false;
}

void WindowLock::onFocusWindowChanged(QWindow *focus)
{
    coverOtherScreens(); // taken away while the parents' area is open
    if (!holding()) {
        releaseKeyboard();
        return;
    }
    // The keyboard stays held while any window of ours has the focus: a
    // dialog (a message box, the gate, a page's colour chooser) gets its keys
    // itself, and the desktop's shortcuts reach none but us.
    if (mayHoldKeyboard(focus))
        holdKeyboard(focus);
    else if (!focus)
        keepKeyboardWithoutFocus();
    if (escaped() || (canHoldKeyboard() && !m_keyboardHolder))
        enforceSoon();
}

void WindowLock::keepKeyboardWithoutFocus()
{
    // Another program's window is active, or none of ours is shown. Elsewhere
    // than on X11 the keyboard is let go until the lock brings the window back.
    if (!onX11()) {
        releaseKeyboard();
        return;
    }
    // The screen holds it, and keys reach no program until then.
    m_keyboardHolder = nullptr;
    holdOnScreen();
}

void WindowLock::holdOnScreen()
{
    if (m_screenHolds && !m_grabMayBeLost)
        return;
    m_screenHolds = ::holdKeyboardOnScreen(true);
    m_grabMayBeLost = !m_screenHolds; // tried again at the next look
}

void WindowLock::holdKeyboard(QWindow *window)
{
    if (m_keyboardHolder == window && !m_grabMayBeLost)
        return;
    if (onX11()) {
        // Held on the screen itself, the window of ours that has the focus
        // gets its keys as usual, and the hold outlasts our windows being
        // minimised or hidden: one held on a window ends with it, before the
        // program can hear of it, and a key pressed in between would reach
        // the window manager. Moving between our windows needs no new hold.
        holdOnScreen();
        m_keyboardHolder = m_screenHolds ? window : nullptr;
        return;
    }
    m_grabMayBeLost = false;
    releaseKeyboard();
    if (m_shortcuts.inhibit(window))
        m_keyboardHolder = window;
}

void WindowLock::releaseKeyboard()
{
    if (m_screenHolds)
        ::holdKeyboardOnScreen(false);
    m_screenHolds = false;
    m_shortcuts.release();
    m_keyboardHolder = nullptr;
}

void WindowLock::enforceSoon()
{
    if (!m_enforce.isActive())
        m_enforce.start();
}

void WindowLock::comeForward()
{
    if (holding()) {
        enforce();
        return;
    }
    // As it shows: full screen while locked (a parent is in the parents' area), else maximised.
    if (m_window->isMinimized())
        m_locked ? m_window->showFullScreen() : m_window->showMaximized();
    QWidget *shown = front();
    if (shown->isMinimized())
        shown->showNormal();
    shown->raise();
    shown->activateWindow();
    forceFocus(shown->windowHandle());
}

void WindowLock::enforce()
{
    if (!holding())
        return;
    // Sent to one desktop (Alt+Shift and the wheel), it is put on all again.
    showOnEveryDesktop(m_window->windowHandle(), true);
    coverOtherScreens();
    if (escaped()) {
        showAgain(m_window);
        for (const Cover &cover : std::as_const(m_covers))
            cover.window->raise();
        m_window->raise();
        // A dialog of ours that was open, or else the child's latest pop-up,
        // comes back in front of the window, with the pop-ups it belongs to.
        for (QWidget *popup : std::as_const(m_adopted)) {
            if (popup && popup->isVisible())
                showAgain(popup);
        }
        QWidget *shown = front();
        showAgain(shown);
        if (shown != m_window)
            showOnEveryDesktop(shown->windowHandle(), true);
        shown->raise();
        shown->activateWindow();
        forceFocus(shown->windowHandle());
    } else if (QWidget *popup = frontAdopted(); popup && !QApplication::activeModalWidget()
                                               && QGuiApplication::focusWindow() == m_window->windowHandle()) {
        // A pop-up sent under the window (Alt and the middle button) comes back over it.
        popup->raise();
        popup->activateWindow();
        forceFocus(popup->windowHandle());
    }
    QWindow *focus = QGuiApplication::focusWindow();
    if (mayHoldKeyboard(focus))
        holdKeyboard(focus);
    else if (!focus)
        keepKeyboardWithoutFocus();
    // Tried again until the window manager has given us the focus and the
    // keyboard is held.
    if (escaped() || (mayHoldKeyboard(focus) && canHoldKeyboard() && (!m_keyboardHolder || m_grabMayBeLost)))
        enforceSoon();
}
