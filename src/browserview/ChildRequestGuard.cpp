#include "browserview/ChildRequestGuard.h"

void ChildRequestGuard::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (refuses(info.resourceType(), info.requestUrl()))
        info.block(true);
}

bool ChildRequestGuard::refuses(QWebEngineUrlRequestInfo::ResourceType type, const QUrl &url) const
{
    switch (type) {
    case QWebEngineUrlRequestInfo::ResourceTypeServiceWorker:
        return true;
    case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
        return m_frameAllows && !m_frameAllows(url);
    default:
        return false;
    }
}
