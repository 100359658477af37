#include "system/X11WindowCloser.h"

#include <QByteArray>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// A window can vanish between listing it and reading its properties. Xlib's
// default handler would end the whole browser on that BadWindow, so errors
// are swallowed while we look, and XSync makes sure they arrive before the
// old handler comes back.
class ErrorTrap {
public:
    explicit ErrorTrap(Display *display)
        : m_display(display)
        , m_previous(XSetErrorHandler(&ErrorTrap::ignore))
    {
    }
    ~ErrorTrap()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

private:
    static int ignore(Display *, XErrorEvent *) { return 0; }

    Display *m_display;
    XErrorHandler m_previous;
};

struct Property {
    Atom type = None;
    int format = 0;
    QByteArray data;         // raw bytes; for format 32 each item is a long
    unsigned long items = 0;
};

Property readProperty(Display *display, Window window, Atom name, Atom type = AnyPropertyType)
{
    Property result;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    // 64 Ki longs is far more than any title or client list needs.
    if (XGetWindowProperty(display, window, name, 0, 65536, False, type, &result.type,
                           &result.format, &result.items, &after, &data) != Success) {
        return Property{};
    }
    if (data) {
        const int itemSize = result.format == 32 ? int(sizeof(long)) : result.format / 8;
        result.data = QByteArray(reinterpret_cast<const char *>(data),
                                 qsizetype(result.items) * itemSize);
        XFree(data);
    }
    return result;
}

QList<unsigned long> windowList(const Property &property)
{
    QList<unsigned long> result;
    if (property.type != XA_WINDOW || property.format != 32)
        return result;
    const auto *items = reinterpret_cast<const unsigned long *>(property.data.constData());
    for (unsigned long i = 0; i < property.items; ++i)
        result.append(items[i]);
    return result;
}

} // namespace

X11WindowCloser::X11WindowCloser(_XDisplay *display)
    : m_display(display)
{
    if (!m_display)
        return;
    const char *names[AtomCount] = {"WM_STATE",     "WM_PROTOCOLS",  "WM_DELETE_WINDOW",
                                    "_NET_WM_NAME", "UTF8_STRING",   "_NET_CLIENT_LIST_STACKING",
                                    "_NET_CLIENT_LIST", "_NET_SUPPORTED", "_NET_CLOSE_WINDOW"};
    Atom atoms[AtomCount] = {};
    if (XInternAtoms(m_display, const_cast<char **>(names), AtomCount, False, atoms)) {
        for (int i = 0; i < AtomCount; ++i)
            m_atoms[i] = atoms[i];
    }
}

bool X11WindowCloser::hasWmState(unsigned long window) const
{
    return readProperty(m_display, window, m_atoms[WmState]).type != None;
}

unsigned long X11WindowCloser::clientOf(unsigned long frame, int depth) const
{
    // Under a reparenting window manager the root's children are frames; the
    // program's own window is the descendant that carries WM_STATE.
    if (hasWmState(frame))
        return frame;
    if (depth <= 0)
        return None;
    Window root = None;
    Window parent = None;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_display, frame, &root, &parent, &children, &count))
        return None;
    unsigned long found = None;
    for (unsigned int i = count; i-- > 0 && found == None;)
        found = clientOf(children[i], depth - 1);
    if (children)
        XFree(children);
    return found;
}

QList<unsigned long> X11WindowCloser::topLevelWindows() const
{
    QList<unsigned long> result;
    if (!m_display)
        return result;
    const Window root = DefaultRootWindow(m_display);

    // A window manager keeps the list for us, bottom to top.
    QList<unsigned long> managed =
        windowList(readProperty(m_display, root, m_atoms[NetClientListStacking], XA_WINDOW));
    if (managed.isEmpty())
        managed = windowList(readProperty(m_display, root, m_atoms[NetClientList], XA_WINDOW));
    if (!managed.isEmpty()) {
        for (qsizetype i = managed.size(); i-- > 0;)
            result.append(managed.at(i));
        return result;
    }

    // No window manager: the root's children, in stacking order bottom to top.
    Window rootReturn = None;
    Window parent = None;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_display, root, &rootReturn, &parent, &children, &count))
        return result;
    for (unsigned int i = count; i-- > 0;) {
        const unsigned long client = clientOf(children[i], 2);
        result.append(client != None ? client : children[i]);
    }
    if (children)
        XFree(children);
    return result;
}

QString X11WindowCloser::windowTitle(unsigned long window) const
{
    const Property netName = readProperty(m_display, window, m_atoms[NetWmName], m_atoms[Utf8String]);
    if (netName.type == m_atoms[Utf8String] && netName.format == 8)
        return QString::fromUtf8(netName.data);

    const Property name = readProperty(m_display, window, XA_WM_NAME);
    if (name.type == None || name.format != 8)
        return QString();
    if (name.type == XA_STRING)
        return QString::fromLatin1(name.data);
    if (name.type == m_atoms[Utf8String])
        return QString::fromUtf8(name.data);

    // COMPOUND_TEXT and other encodings: let Xlib convert.
    XTextProperty text;
    text.value = reinterpret_cast<unsigned char *>(const_cast<char *>(name.data.constData()));
    text.encoding = name.type;
    text.format = 8;
    text.nitems = static_cast<unsigned long>(name.data.size());
    char **list = nullptr;
    int count = 0;
    QString result;
    if (Xutf8TextPropertyToTextList(m_display, &text, &list, &count) >= Success && list) {
        if (count > 0)
            result = QString::fromUtf8(list[0]);
        XFreeStringList(list);
    }
    return result;
}

bool X11WindowCloser::windowManagerSupports(unsigned long atom) const
{
    const Property supported =
        readProperty(m_display, DefaultRootWindow(m_display), m_atoms[NetSupported], XA_ATOM);
    if (supported.format != 32)
        return false;
    const auto *items = reinterpret_cast<const unsigned long *>(supported.data.constData());
    for (unsigned long i = 0; i < supported.items; ++i) {
        if (items[i] == atom)
            return true;
    }
    return false;
}

bool X11WindowCloser::requestClose(unsigned long window) const
{
    Atom *protocols = nullptr;
    int count = 0;
    bool takesDelete = false;
    if (XGetWMProtocols(m_display, window, &protocols, &count)) {
        for (int i = 0; i < count; ++i)
            takesDelete = takesDelete || protocols[i] == m_atoms[WmDeleteWindow];
        XFree(protocols);
    }

    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.format = 32;
    bool sent = false;
    if (takesDelete) {
        event.xclient.message_type = m_atoms[WmProtocols];
        event.xclient.data.l[0] = long(m_atoms[WmDeleteWindow]);
        event.xclient.data.l[1] = CurrentTime;
        sent = XSendEvent(m_display, window, False, NoEventMask, &event) != 0;
    } else if (windowManagerSupports(m_atoms[NetCloseWindow])) {
        event.xclient.message_type = m_atoms[NetCloseWindow];
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;   // the request comes from a pager-like tool
        sent = XSendEvent(m_display, DefaultRootWindow(m_display), False,
                          SubstructureRedirectMask | SubstructureNotifyMask, &event) != 0;
    }
    // A window that takes neither is left alone: we ask, we never kill.
    XFlush(m_display);
    return sent;
}

bool X11WindowCloser::closeWindowByTitle(const QString &title, const QList<unsigned long> &skip)
{
    if (!m_display || m_atoms[WmProtocols] == None)
        return false;
    ErrorTrap trap(m_display);
    for (const unsigned long window : topLevelWindows()) {
        if (skip.contains(window))
            continue;
        const QString current = windowTitle(window);
        if (!current.isNull() && current.compare(title, Qt::CaseInsensitive) == 0)
            return requestClose(window);
    }
    return false;
}
