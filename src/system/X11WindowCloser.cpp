#include "system/X11WindowCloser.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Last: Xlib's macros would clash with the names above. Xlibint.h brings the
// asynchronous reply handlers Xlib's own XGetWindowAttributes uses to have
// two requests answered in one round trip.
#include <X11/Xatom.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#undef min
#undef max

namespace {

struct Property {
    Atom type = None;
    int format = 0;
    QByteArray data;         // raw bytes; for format 32 each item is a long
    unsigned long items = 0;
};

// Requests sent back to back, their replies gathered in one round trip by an
// asynchronous reply handler. A request that fails, typically because its
// window went between the listing and the reading, leaves its answer empty;
// its error is taken here and never reaches the error handler, which by
// default would end the whole browser on that BadWindow.
class Batch {
public:
    explicit Batch(Display *display) : m_display(display) {}
    ~Batch() { wait(); }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    // Each returns the number the answer is found by once wait() returned.
    int getProperty(Window window, Atom name, Atom type, long maxLongs = 65536)
    {
        Display *dpy = m_display;
        LockDisplay(dpy);
        listen();
        xGetPropertyReq *req = nullptr;
        GetReq(GetProperty, req);
        if (req) {
            req->window = CARD32(window);
            req->property = CARD32(name);
            req->type = CARD32(type);
            req->c_delete = xFalse;
            req->longOffset = 0;
            req->longLength = CARD32(maxLongs);
        }
        const int index = asked(req != nullptr, false);
        UnlockDisplay(dpy);
        return index;
    }

    int queryTree(Window window)
    {
        Display *dpy = m_display;
        LockDisplay(dpy);
        listen();
        xResourceReq *req = nullptr;
        GetResReq(QueryTree, window, req);
        const int index = asked(req != nullptr, true);
        UnlockDisplay(dpy);
        return index;
    }

    // Sends what is queued and gathers every answer: one round trip, none
    // when nothing was asked.
    void wait()
    {
        if (!m_listening)
            return;
        // Xlib hands every earlier reply to the handlers before XSync's own.
        XSync(m_display, False);
        Display *dpy = m_display;
        LockDisplay(dpy);
        DeqAsyncHandler(dpy, &m_handler);
        UnlockDisplay(dpy);
        m_listening = false;
    }

    const Property &property(int index) const { return m_answers[size_t(index)].property; }
    const QList<unsigned long> &children(int index) const { return m_answers[size_t(index)].children; }

private:
    struct Answer {
        uint64_t sequence = 0;   // 0: the request could not be made, no answer comes
        bool tree = false;
        Property property;
        QList<unsigned long> children;
    };

    // Called with the display locked.
    void listen()
    {
        if (m_listening)
            return;
        // Before the first request: Xlib routes replies only to requests that
        // were sent while a handler was listening.
        m_handler.next = m_display->async_handlers;
        m_handler.handler = &Batch::take;
        m_handler.data = reinterpret_cast<XPointer>(this);
        m_display->async_handlers = &m_handler;
        m_listening = true;
    }

    int asked(bool made, bool tree)
    {
        m_answers.push_back(Answer{made ? uint64_t(X_DPY_GET_REQUEST(m_display)) : 0, tree, {}, {}});
        return int(m_answers.size()) - 1;
    }

    static Bool take(Display *dpy, xReply *rep, char *buf, int len, XPointer data)
    {
        auto *self = reinterpret_cast<Batch *>(data);
        // Replies come in the order of the requests; others' come between.
        const uint64_t sequence = X_DPY_GET_LAST_REQUEST_READ(dpy);
        std::vector<Answer> &answers = self->m_answers;
        while (self->m_next < answers.size() && answers[self->m_next].sequence < sequence)
            ++self->m_next;
        if (self->m_next == answers.size() || answers[self->m_next].sequence != sequence)
            return False;   // another request's reply or error
        Answer *answer = &answers[self->m_next++];
        if (rep->generic.type == X_Error)
            return True;
        // Xlib on XCB hands the whole reply over at once; anything shorter
        // than the reply says it is would be a broken reply, left empty.
        const qint64 extra = qint64(rep->generic.length) * 4;
        if (len < qint64(sizeof(xReply)) + extra)
            return True;
        const char *payload = buf + sizeof(xReply);
        if (answer->tree) {
            const auto *reply = reinterpret_cast<const xQueryTreeReply *>(buf);
            const qint64 count = std::min<qint64>(reply->nChildren, extra / 4);
            for (qint64 i = 0; i < count; ++i) {
                CARD32 child;
                std::memcpy(&child, payload + i * 4, 4);
                answer->children.append(child);
            }
            return True;
        }
        const auto *reply = reinterpret_cast<const xGetPropertyReply *>(buf);
        const int format = reply->format;
        if (format != 8 && format != 16 && format != 32)
            return True;   // no such property: type None, format 0
        const qint64 items = std::min<qint64>(reply->nItems, extra / (format / 8));
        Property &property = answer->property;
        property.type = reply->propertyType;
        property.format = format;
        property.items = static_cast<unsigned long>(items);
        if (format == 32) {
            // As XGetWindowProperty hands them over: one long each.
            property.data.resize(qsizetype(items * qint64(sizeof(long))));
            for (qint64 i = 0; i < items; ++i) {
                CARD32 item;
                std::memcpy(&item, payload + i * 4, 4);
                const unsigned long value = item;
                std::memcpy(property.data.data() + i * qint64(sizeof(long)), &value, sizeof(long));
            }
        } else {
            property.data = QByteArray(payload, qsizetype(items * (format / 8)));
        }
        return True;
    }

    Display *m_display;
    std::vector<Answer> m_answers;   // in the order asked
    size_t m_next = 0;               // the first answer still to come
    _XAsyncHandler m_handler{};
    bool m_listening = false;
};

// Errors of requests with no reply (a close request to a window that just
// went) are swallowed while we ask, and XSync makes sure they arrive before
// the old handler comes back.
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

QList<unsigned long> longList(const Property &property, Atom type)
{
    QList<unsigned long> result;
    if (property.type != type || property.format != 32)
        return result;
    const auto *items = reinterpret_cast<const unsigned long *>(property.data.constData());
    for (unsigned long i = 0; i < property.items; ++i)
        result.append(items[i]);
    return result;
}

QString titleFrom(Display *display, const Property &netName, const Property &name, Atom utf8String)
{
    if (netName.type == utf8String && netName.format == 8)
        return QString::fromUtf8(netName.data);
    if (name.type == None || name.format != 8)
        return QString();
    if (name.type == XA_STRING)
        return QString::fromLatin1(name.data);
    if (name.type == utf8String)
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
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) >= Success && list) {
        if (count > 0)
            result = QString::fromUtf8(list[0]);
        XFreeStringList(list);
    }
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

QList<unsigned long> X11WindowCloser::topLevelWindows() const
{
    QList<unsigned long> result;
    if (!m_display)
        return result;
    const Window root = DefaultRootWindow(m_display);

    Batch rootBatch(m_display);
    const int stacking = rootBatch.getProperty(root, m_atoms[NetClientListStacking], XA_WINDOW);
    const int clients = rootBatch.getProperty(root, m_atoms[NetClientList], XA_WINDOW);
    const int rootTree = rootBatch.queryTree(root);
    rootBatch.wait();

    // A window manager keeps the list for us, bottom to top.
    QList<unsigned long> managed = longList(rootBatch.property(stacking), XA_WINDOW);
    if (managed.isEmpty())
        managed = longList(rootBatch.property(clients), XA_WINDOW);
    if (!managed.isEmpty()) {
        for (qsizetype i = managed.size(); i-- > 0;)
            result.append(managed.at(i));
        return result;
    }

    // No window manager: the root's children, in stacking order bottom to
    // top. Under a reparenting window manager that keeps no list they are
    // frames, and the program's own window is the descendant (two levels at
    // most) that carries WM_STATE, the topmost one first. One round trip a
    // level, for all windows of that level at once.
    struct Node {
        unsigned long window;
        int depth;               // levels that may still be looked below
        bool hasWmState = false;
        QList<int> children;     // bottom to top, as indexes into nodes
    };
    std::vector<Node> nodes;
    QList<int> level;
    for (const unsigned long frame : rootBatch.children(rootTree)) {
        level.append(int(nodes.size()));
        nodes.push_back({frame, 2, false, {}});
    }
    const QList<int> frames = level;
    while (!level.isEmpty()) {
        Batch batch(m_display);
        std::vector<std::pair<int, int>> asked;   // WM_STATE, tree
        for (const int i : level) {
            const unsigned long window = nodes[size_t(i)].window;
            asked.emplace_back(batch.getProperty(window, m_atoms[WmState], AnyPropertyType, 0),
                               nodes[size_t(i)].depth > 0 ? batch.queryTree(window) : -1);
        }
        batch.wait();
        QList<int> next;
        for (qsizetype k = 0; k < level.size(); ++k) {
            const int i = level.at(k);
            nodes[size_t(i)].hasWmState = batch.property(asked[size_t(k)].first).type != None;
            if (nodes[size_t(i)].hasWmState || asked[size_t(k)].second < 0)
                continue;
            for (const unsigned long child : batch.children(asked[size_t(k)].second)) {
                nodes[size_t(i)].children.append(int(nodes.size()));
                next.append(int(nodes.size()));
                nodes.push_back({child, nodes[size_t(i)].depth - 1, false, {}});
            }
        }
        level = next;
    }
    const auto clientOf = [&nodes](const auto &self, int i) -> unsigned long {
        const Node &node = nodes[size_t(i)];
        if (node.hasWmState)
            return node.window;
        for (qsizetype k = node.children.size(); k-- > 0;) {
            if (const unsigned long found = self(self, node.children.at(k)); found != None)
                return found;
        }
        return None;
    };
    for (qsizetype k = frames.size(); k-- > 0;) {
        const unsigned long client = clientOf(clientOf, frames.at(k));
        result.append(client != None ? client : nodes[size_t(frames.at(k))].window);
    }
    return result;
}

QStringList X11WindowCloser::windowTitles(const QList<unsigned long> &windows) const
{
    QStringList result;
    if (!m_display)
        return result;
    Batch batch(m_display);
    std::vector<std::pair<int, int>> asked;   // _NET_WM_NAME, WM_NAME
    for (const unsigned long window : windows)
        asked.emplace_back(batch.getProperty(window, m_atoms[NetWmName], m_atoms[Utf8String]),
                           batch.getProperty(window, XA_WM_NAME, AnyPropertyType));
    batch.wait();
    for (const auto &[netName, name] : asked)
        result.append(titleFrom(m_display, batch.property(netName), batch.property(name), m_atoms[Utf8String]));
    return result;
}

bool X11WindowCloser::requestClose(unsigned long window) const
{
    Batch batch(m_display);
    const int protocols = batch.getProperty(window, m_atoms[WmProtocols], XA_ATOM);
    const int supported = batch.getProperty(DefaultRootWindow(m_display), m_atoms[NetSupported], XA_ATOM);
    batch.wait();
    const bool takesDelete = longList(batch.property(protocols), XA_ATOM).contains(m_atoms[WmDeleteWindow]);

    ErrorTrap trap(m_display);
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
    } else if (longList(batch.property(supported), XA_ATOM).contains(m_atoms[NetCloseWindow])) {
        event.xclient.message_type = m_atoms[NetCloseWindow];
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;   // the request comes from a pager-like tool
        sent = XSendEvent(m_display, DefaultRootWindow(m_display), False,
                          SubstructureRedirectMask | SubstructureNotifyMask, &event) != 0;
    }
    // A window that takes neither is left alone: we ask, we never kill.
    return sent;
}

int X11WindowCloser::closeWindowsByTitle(const QStringList &titles, const QList<unsigned long> &skip)
{
    if (!m_display || m_atoms[WmProtocols] == None || titles.isEmpty())
        return 0;
    QList<unsigned long> windows = topLevelWindows();
    windows.removeIf([&skip](unsigned long window) { return skip.contains(window); });
    const QStringList current = windowTitles(windows);
    QList<unsigned long> asked;
    int sent = 0;
    for (const QString &title : titles) {
        for (qsizetype i = 0; i < windows.size(); ++i) {
            if (current.at(i).isNull() || current.at(i).compare(title, Qt::CaseInsensitive) != 0
                || asked.contains(windows.at(i))) {
                continue;
            }
            asked.append(windows.at(i));
            sent += requestClose(windows.at(i)) ? 1 : 0;
            break;
        }
    }
    return sent;
}

bool X11WindowCloser::closeWindowByTitle(const QString &title, const QList<unsigned long> &skip)
{
    return closeWindowsByTitle({title}, skip) > 0;
}
