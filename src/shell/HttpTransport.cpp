#include "shell/HttpTransport.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

namespace {
// A refusal's reason as the portal words it (one short line of plain text, "this
// installation has 500 sites of its own, …"), for the parent to read after the status.
QString portalReason(QNetworkReply &reply)
{
    if (!reply.header(QNetworkRequest::ContentTypeHeader).toString().startsWith(QLatin1String("text/plain")))
        return QString();
    const QByteArray body = reply.read(301);
    const QString line = QString::fromUtf8(body).trimmed();
    const bool plain = std::none_of(line.begin(), line.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    return body.size() <= 300 && !line.isEmpty() && plain && !line.contains(QChar::ReplacementCharacter)
        ? QStringLiteral(": ") + line
        : QString();
}
} // namespace

HttpTransport::HttpTransport(int timeoutMs) : m_timeoutMs(timeoutMs) {}

FetchResult HttpTransport::fetch(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return FetchResult::failure(QStringLiteral("Not a web address: %1").arg(address.left(200)));

    QNetworkRequest request(url);
    // A portal reached over https is never followed to plain http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);
    // Unpacked bodies only: their declared length is what arrives, so a cut-off one shows.
    request.setRawHeader("Accept-Encoding", "identity");

    QNetworkReply *reply = m_network.get(request);
    QEventLoop loop;
    bool tooLarge = false;
    bool sent = false; // once sent, a failure may come after the portal made a change
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::requestSent, reply, [&sent] { sent = true; });
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
    if (!reply->isFinished()) {
        // The wait ended without the reply: the program is quitting.
        reply->abort();
        result = FetchResult::failure(QStringLiteral("The wait for the portal was cut short"));
    } else if (tooLarge) {
        result = FetchResult::failure(QStringLiteral("The reply is larger than %1 bytes").arg(MaxReplyBytes));
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        result = FetchResult::failure(QStringLiteral("The request timed out"));
    } else if (status != 0 && (status < 200 || status >= 300)) {
        result = FetchResult::failure(QStringLiteral("The portal answered HTTP %1").arg(status) + portalReason(*reply));
    } else if (reply->error() != QNetworkReply::NoError) {
        // A 200 whose connection dropped mid-body (or whose chunks never ended)
        // is no answer: its half would read as a whole name or a whole list.
        result = FetchResult::failure(reply->errorString());
    } else {
        const QByteArray body = reply->readAll();
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        // Qt ends a reply whose connection closes mid-body as if it were whole,
        // chunked ones too, so only a declared length tells a whole reply from
        // a cut-off one. The portal always declares it.
        if (!declared.isValid())
            result = FetchResult::failure(QStringLiteral("The reply did not say how long it is"));
        else if (declared.toLongLong() != body.size())
            result = FetchResult::failure(QStringLiteral("The reply was cut off: %1 of %2 bytes").arg(body.size()).arg(declared.toLongLong()));
        else
            result = FetchResult::success(body);
    }
    // Refused (4xx), the portal changed nothing; failing (5xx, a gateway's
    // too), it may have.
    result.unsure = !result.ok() && sent && (status < 400 || status >= 500);
    reply->deleteLater();
    return result;
}
