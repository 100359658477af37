#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct _XDisplay;

// Closes other programs' top-level X11 windows by title. Works on any Xlib
// connection, so tests can point it at a virtual server of their own.
//
// The requests of each step go out together and their replies are gathered
// in one round trip, so a walk of the desktop costs a few round trips however
// many windows are open.
class X11WindowCloser {
public:
    explicit X11WindowCloser(_XDisplay *display);

    // Asks the first top-level window (topmost first) titled `title`, whole
    // and case ignored, and not listed in `skip`, to close: WM_DELETE_WINDOW
    // when the window takes it, else _NET_CLOSE_WINDOW through the window
    // manager. Returns true when a request was sent. Only the first matching
    // window is considered.
    bool closeWindowByTitle(const QString &title, const QList<unsigned long> &skip = {});

    // The same for each title in turn, in one walk: the windows are listed
    // once and each one's title read once. A window asked for one title is
    // passed over for the later ones. Returns how many requests were sent.
    int closeWindowsByTitle(const QStringList &titles, const QList<unsigned long> &skip = {});

    // The top-level client windows, topmost first.
    QList<unsigned long> topLevelWindows() const;

    // Each window's _NET_WM_NAME, else its WM_NAME; a null string for a
    // window that has neither or is gone.
    QStringList windowTitles(const QList<unsigned long> &windows) const;

private:
    enum AtomIndex {
        WmState, WmProtocols, WmDeleteWindow, NetWmName, Utf8String, NetClientListStacking,
        NetClientList, NetSupported, NetCloseWindow, AtomCount
    };

    bool requestClose(unsigned long window) const;

    _XDisplay *m_display;
    unsigned long m_atoms[AtomCount] = {};
};
