#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <functional>

// Sees every request of the child's profile before it is sent. Service-worker
// scripts are refused: a worker could answer an allowed address with another
// host's content. Page and frame requests are put to the frame filter, a
// second line behind the views' own navigation events; images, scripts and
// other parts of an allowed page pass untested.
class ChildRequestGuard : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void setFrameFilter(std::function<bool(const QUrl &)> allows) { m_frameAllows = std::move(allows); }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // The decision alone, for a resource type and address.
    bool refuses(QWebEngineUrlRequestInfo::ResourceType type, const QUrl &url) const;

private:
    std::function<bool(const QUrl &)> m_frameAllows;
};
