#pragma once

#include "shell/PortalClient.h"

#include <QNetworkAccessManager>

// The real transport: an HTTP GET that waits in a local event loop which
// takes no user input, so the child cannot click into a half-finished step.
class HttpTransport : public PortalTransport {
public:
    static constexpr int TimeoutMs = 60 * 1000;
    static constexpr qint64 MaxReplyBytes = 8 * 1024 * 1024;

    explicit HttpTransport(int timeoutMs = TimeoutMs);
    FetchResult fetch(const QString &address) override;

private:
    QNetworkAccessManager m_network;
    int m_timeoutMs;
};
