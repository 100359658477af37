#pragma once

#include <QList>
#include <QString>

struct _XDisplay;

// Closes other programs' top-level X11 windows by title. Works on any Xlib
// connection, so tests can point it at a virtual server of their own.
class X11WindowCloser {
public:
    explicit X11WindowCloser(_XDisplay *display);

    // Asks the first top-level window (topmost first) titled `title`, whole
    // and case ignored, and not listed in `skip`, to close: WM_DELETE_WINDOW
    // when the window takes it, else _NET_CLOSE_WINDOW through the window
    // manager. Returns true when a request was sent. Only the first matching
    // window is considered.
    bool closeWindowByTitle(const QString &title, const QList<unsigned long> &skip = {});

    // The top-level client windows, topmost first.
    QList<unsigned long> topLevelWindows() const;

    // _NET_WM_NAME, else WM_NAME; a null string when the window has neither.
    QString windowTitle(unsigned long window) const;

private:
    enum AtomIndex {
        WmState, WmProtocols, WmDeleteWindow, NetWmName, Utf8String, NetClientListStacking,
        NetClientList, NetSupported, NetCloseWindow, AtomCount
    };

    bool hasWmState(unsigned long window) const;
    unsigned long clientOf(unsigned long frame, int depth) const;
    bool requestClose(unsigned long window) const;
    bool windowManagerSupports(unsigned long atom) const;

    _XDisplay *m_display;
    unsigned long m_atoms[AtomCount] = {};
};
