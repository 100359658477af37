#include "shell/HttpTransport.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

HttpTransport::HttpTransport(int timeoutMs) : m_timeoutMs(timeoutMs) {}

FetchResult HttpTransport::fetch(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http"))
        return FetchResult::failure(QStringLiteral("Not a web address: %1").arg(address.left(200)));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);

    QNetworkReply *reply = m_network.get(request);
    QEventLoop loop;
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
        if (received > MaxReplyBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    // The transfer time-out restarts on every byte; this bounds the whole wait.
    QTimer::singleShot(m_timeoutMs, reply, [reply] { reply->abort(); });
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    FetchResult result;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge) {
        result = FetchResult::failure(QStringLiteral("The reply is larger than %1 bytes").arg(MaxReplyBytes));
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        result = FetchResult::failure(QStringLiteral("The request timed out"));
    } else if (reply->error() != QNetworkReply::NoError && status == 0) {
        result = FetchResult::failure(reply->errorString());
    } else if (status < 200 || status >= 300) {
        result = FetchResult::failure(QStringLiteral("The portal answered HTTP %1").arg(status));
    } else {
        result = FetchResult::success(reply->readAll());
    }
    reply->deleteLater();
    return result;
}
