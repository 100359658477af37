#pragma once

class QWindow;

// Asks the desktop to make one of our windows the active one, as a pager or
// task bar would on the user's behalf. A window manager turns down an
// application's own request when another program's window was used more
// recently (focus stealing prevention); a window that must come back to the
// front, such as the locked child's window, needs the stronger request.
// Does nothing where the desktop is not X11.
void forceFocus(QWindow *window);

// Shows the window on every virtual desktop, or, with `every` false, on the
// one shown now. A window on one desktop is gone from the screen when the
// desktop is switched (Ctrl+Alt+arrows, Alt and the mouse wheel), and the
// window manager will not bring it back across desktops. Does nothing where
// the desktop is not X11.
void showOnEveryDesktop(QWindow *window, bool every);

// Holds the keyboard, or lets it go, on the screen itself (its root window):
// a key for the window of ours that has the focus reaches it as usual, any
// other reaches no program, and the hold outlasts our windows being minimised
// or hidden. Qt's own menus and lists take it over while they show and let it
// go as they close. False where it cannot be held or the desktop is not X11.
bool holdKeyboardOnScreen(bool hold);

// Whether the X server's keyboard focus lies in a window of this program. A
// window manager can move it while Qt believes a window of ours still has it
// (a focus change and a grab of ours within a few ms). True where the desktop
// is not X11.
bool inputFocusIsOurs();

// Whether the window manager holds the window minimised now. Qt may not know:
// it tells of a change of state only when it differs from the last one it
// told, so a window minimised again before the program heard that it came back
// is still shown as far as Qt knows. False where the desktop is not X11.
bool minimisedOnScreen(QWindow *window);

// Asks the window manager to show a window it holds minimised, as a program
// does by mapping the window anew. Does nothing where the desktop is not X11.
void showMinimisedAgain(QWindow *window);
