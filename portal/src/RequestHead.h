#pragma once

// Reading a request off the bytes a connection received, and every check made of its head,
// without any socket: the connection (HttpSession) hands over bytes and acts on the answer.
#include "HttpMessage.h"
#include "HttpService.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <string_view>

// A request refused: its status and the one-line reason sent back as the body.
struct Refusal {
    int status = 0;
    QByteArray reason;
};

// Beast refuses bare CR and bare LF itself but joins folded (obs-fold) lines into one
// value. Two parsers that split a head differently are how requests are smuggled past a
// proxy, so every line must end in CR LF and none may continue the one before.
// Nothing when the head is sound, else what is wrong with it.
const char *headShapeFault(std::string_view head);

// The path and query of an origin-form ("/x?q") or absolute-form ("http://host/x?q")
// target; nothing for any other form.
std::optional<std::string_view> pathAndQuery(std::string_view target);

// Bytes outside printable ASCII go to the access log as %XX: written raw, a control byte
// would garble the line or a terminal showing the log, and a line break would forge a line.
QByteArray escapedForLog(std::string_view raw);

// What a handler is given for a served request: the method, the target as received, and
// the target's path and query (a target that is neither origin- nor absolute-form was
// refused with its head).
HttpRequest handlerRequest(std::string_view method, std::string_view target);

// GET, HEAD and POST are served: nothing. Methods a server is expected to know (PUT,
// DELETE, OPTIONS, TRACE, CONNECT, PATCH) are answered 405 with Allow; any other 501.
std::optional<HttpReply> unservedMethodReply(std::string_view method);

// Reads one request after another from a connection's received bytes: Boost.Beast parses
// them within the limits, and the checks Beast leaves to its user are made here.
class RequestReader {
public:
    enum class Progress { NeedMore, Refused, Done };

    explicit RequestReader(const HttpLimits &limits);
    ~RequestReader();
    RequestReader(const RequestReader &) = delete;
    RequestReader &operator=(const RequestReader &) = delete;

    // Forgets the request read last: the next bytes start a new one.
    void next();
    // Reads on in `received`, all the connection holds unread, from its front; `*used` is
    // how many bytes at the front are done with and may be dropped. The bytes of a head
    // stay until the head is whole, so its shape is checked on all of them.
    Progress read(std::string_view received, size_t *used);
    // The connection holds all it may and the request is still not whole.
    void refuseOverflow(std::string_view received);

    const Refusal &refusal() const;
    bool headDone() const;
    // True once per request, after a head that asks for "100 Continue" before its body.
    bool takeExpectsContinue();

    // Of a request read whole (Done).
    std::string_view method() const;
    std::string_view target() const;
    unsigned version() const;  // 10 or 11
    bool keepAlive() const;
    // The value of the head's first field of that name; empty without one.
    std::string_view field(std::string_view name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
