#pragma once

#include "system/ShortcutsInhibitor.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QScreen;
class QWidget;
class QWindow;

// Keeps the child inside the browser while STOP is disabled. The child's
// window is then full screen, above other windows and without a title bar;
// when it is minimised or another program's window becomes active, it comes
// back and takes the focus. The screen holds the keyboard, so the desktop's
// shortcuts (Alt+Tab, Super, Ctrl+Alt+arrows) reach us and not the window
// manager, while whichever window of ours is active (the main window, a
// pop-up, one of our dialogs) still gets its own keys. On Wayland, the
// compositor is asked to hold the shortcuts back for the active window where
// it can be.
//
// Our own dialogs (message boxes, the gate) are brought back instead of the
// window when one is open; the whole time the parents' area is open, nothing
// is held or brought back: a parent may use the rest of the desktop.
//
// Every other screen is covered by a blank window of ours while the lock
// holds, so that no screen shows the desktop or another program.
//
// Unlocked, the window is maximised and the child may leave it.
class WindowLock : public QObject, public QAbstractNativeEventFilter {
public:
    // `parentsAreaOpen`: true while a parent who passed the gate is in the parents' area.
    WindowLock(QWidget *childWindow, std::function<bool()> parentsAreaOpen);
    ~WindowLock() override;

    // Shows the window as the state asks (full screen or maximised) and
    // starts or stops watching it.
    void apply(bool locked);
    bool locked() const { return m_locked; }

    // Another start of the program asked for this one: the window, or the
    // dialog or pop-up in front of it, is shown again and takes the focus.
    void comeForward();

    // A window of the child's other than the main one (a pop-up): it stays
    // above the locked window and holds the keyboard like it.
    void adopt(QWidget *childWindow);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    static bool mayHoldKeyboard(const QWindow *window);
    void onFocusWindowChanged(QWindow *focus);
    void holdKeyboard(QWindow *window);
    void keepKeyboardWithoutFocus();
    void holdOnScreen();
    void releaseKeyboard();
    void enforceSoon();
    void enforce();
    bool holding() const;
    bool escaped() const;
    bool popupMinimised() const;
    static bool minimised(QWidget *widget); // as the window manager holds it now
    void showAgain(QWidget *widget) const;
    QWidget *frontAdopted() const; // the latest pop-up still shown
    QWidget *front() const; // a dialog of ours that is open, else the latest pop-up, else the window
    void coverOtherScreens();
    void removeCovers();

    QWidget *m_window;
    std::function<bool()> m_parentsAreaOpen;
    bool m_locked = false;
    QPointer<QWindow> m_keyboardHolder;
    bool m_screenHolds = false; // the keyboard is held on the screen (X11)
    // A popup window closed: its grab may have ended ours, which is taken again.
    bool m_grabMayBeLost = false;
    ShortcutsInhibitor m_shortcuts;
    QTimer m_enforce;
    QList<QPointer<QWidget>> m_adopted;
    struct Cover {
        QPointer<QScreen> screen;
        QPointer<QWidget> window;
    };
    QList<Cover> m_covers;
};
