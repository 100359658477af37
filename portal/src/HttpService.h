#pragma once

#include "HttpMessage.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct HttpLimits {
    int maxHeadBytes = 16 * 1024;   // request line and fields; beyond: 431 (414 for a long line)
    int maxTargetBytes = 8 * 1024;  // beyond: 414
    int maxHeaders = 64;            // beyond: 431
    int maxBodyBytes = 64 * 1024;   // beyond: 413
    int maxConnections = 4096;      // lowered to fit under the descriptor limit
    int maxPerAddress = 256;        // open connections from one client address; 0: no limit
    // A request's head and body must have arrived this long after its first byte came.
    std::chrono::milliseconds headerTimeout{10'000};
    // A kept-alive connection waits this long for the first byte of its next request.
    std::chrono::milliseconds idleTimeout{60'000};
    // ... and only this long while three quarters of the connections are taken or descriptors
    // ran short, which also cuts the time left to requests still arriving then. At the
    // limit, the connection waiting longest (idle, its request not all come, or answered
    // and closing) is closed for a new one.
    std::chrono::milliseconds busyIdleTimeout{5'000};
    // A reply must have been taken by the client within this time.
    std::chrono::milliseconds writeTimeout{10'000};
    // After a reply that closes the connection, what the client still sends is read and
    // dropped for at most this long, so the reply is not lost to a reset.
    std::chrono::milliseconds lingerTime{2'000};
};

// The portal's HTTP/1.1 server on Boost.Beast (parsing) and Boost.Asio (sockets, timers):
// `threads` workers each run an event loop with a handler of their own from the factory,
// so a handler may keep a database connection of its own; one more thread accepts. A
// connection holds its worker only while its request is being handled: a client that
// sends slowly or does not read its replies waits in the event loop, not in a handler.
class HttpService {
public:
    using HandlerFactory = std::function<std::unique_ptr<RequestHandler>()>;

    HttpService(HandlerFactory factory, int threads, HttpLimits limits = {});
    ~HttpService();
    HttpService(const HttpService &) = delete;
    HttpService &operator=(const HttpService &) = delete;

    // Takes the address and port, and returns the port (useful with port 0), or -1 with *error set.
    // Call before start(), which begins to listen: until then a client is refused, not kept waiting.
    int bind(const QByteArray &address, int port, QString *error);
    // Appends "ADDR:PORT METHOD TARGET" per request to this descriptor (O_APPEND).
    void setAccessLog(int fd);
    bool start(QString *error);
    // Stops at once: a handler already running finishes, connections close, then each
    // worker's handler is destroyed on its own thread.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
