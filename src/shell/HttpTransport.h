#pragma once

#include "shell/PortalClient.h"

#include <QNetworkAccessManager>

// The real transport: an HTTP GET that waits in a local event loop which
// takes no user input, so the child cannot click into a half-finished step.
// The window still repaints meanwhile; input that arrived is delivered after
// the wait, when the caller's controls decide what it may do.
class HttpTransport : public PortalTransport {
public:
    // A portal that has not answered within 10 s is taken as not answering:
    // long enough for a slow line, short enough that a child still waits at
    // the window rather than walking away from it.
    static constexpr int TimeoutMs = 10 * 1000;
    static constexpr qint64 MaxReplyBytes = 8 * 1024 * 1024;

    explicit HttpTransport(int timeoutMs = TimeoutMs);
    FetchResult fetch(const QString &address) override;

private:
    QNetworkAccessManager m_network;
    int m_timeoutMs;
};
