#include "online/webrequest.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

QString updateEndpoint()
{
    return webHost() + QStringLiteral("/php/check2.php");
}

QString feedbackEndpoint()
{
    return webHost() + QStringLiteral("/php/feedback.php");
}

QString homePage()
{
    return QStringLiteral("http://") + webHost() + QStringLiteral("/");
}

QByteArray formEncode(const QStringList &fields)
{
    QByteArrayList pairs;
    pairs.reserve(fields.size());
    for (const QString &field : fields) {
        const qsizetype equals = field.indexOf(u'=');
        const QString name = equals < 0 ? field : field.left(equals);
        const QString value = equals < 0 ? QString() : field.mid(equals + 1);
        // Letters, digits and "-._~" stay; a space becomes "+" ("+" itself is encoded first).
        const auto encode = [](const QString &text) { return text.toUtf8().toPercentEncoding(" ").replace(' ', '+'); };
        pairs.append(encode(name) + '=' + encode(value));
    }
    return pairs.join('&');
}

QStringList splitReplyLines(const QString &reply)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < reply.size(); ++i) {
        const QChar c = reply.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(reply.mid(start, i - start));
        if (c == u'\r' && i + 1 < reply.size() && reply.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < reply.size())
        lines.append(reply.mid(start));
    return lines;
}

QString tagValue(const QString &line, const QString &tag)
{
    if (line.isEmpty() || tag.isEmpty())
        return {};
    const QString open = u'<' + tag.toLower() + u'>';
    const QString close = QStringLiteral("</") + tag.toLower() + u'>';
    if (line.size() < open.size() + close.size() || !line.startsWith(open) || !line.endsWith(close))
        return {};
    return line.mid(open.size(), line.size() - open.size() - close.size());
}

namespace {

/* The charset parameter of a Content-Type value, without quotes; empty when none is named. */
QByteArray charsetOf(const QByteArray &contentType)
{
    const QList<QByteArray> parameters = contentType.split(';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QByteArray parameter = parameters[i].trimmed();
        if (!parameter.toLower().startsWith("charset="))
            continue;
        QByteArray charset = parameter.mid(qsizetype(sizeof("charset=")) - 1).trimmed();
        if (charset.size() >= 2 && charset.startsWith('"') && charset.endsWith('"'))
            charset = charset.mid(1, charset.size() - 2);
        return charset;
    }
    return {};
}

QString decodeBody(const QByteArray &body, const QByteArray &contentType, bool secure)
{
    const QByteArray charset = charsetOf(contentType);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return secure ? QString::fromUtf8(body) : QString::fromLatin1(body);
}

/*
 * The address the chosen transport talks to: HTTPS keeps the address as given; the plain
 * transport always speaks HTTP, so another spelling of "https" keeps its port (443 unless
 * given) but loses its TLS. Empty when the scheme is neither http nor https.
 */
QUrl transportUrl(const QString &url, bool secure)
{
    QUrl target(url);
    if (secure)
        return target;
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("https")) {
        target.setPort(target.port(443));
        target.setScheme(QStringLiteral("http"));
    } else if (scheme != QLatin1String("http")) {
        return {};
    }
    return target;
}

const QString kStoppedMessage = QStringLiteral("The request was stopped");

/* One request in flight: collects the bounded body and the first failure. */
class PostCall
{
public:
    PostCall(QNetworkReply *reply, int timeoutMs, QEventLoop &loop)
        : m_reply(reply)
        , m_timeoutMs(timeoutMs)
    {
        // Precise: a coarse timer may fire 5 % early, before the time-out has passed.
        for (QTimer *timer : {&m_idle, &m_whole}) {
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
        }
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] { takeBody(); });
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this] { checkDeclaredLength(); });
        QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [this] { m_idle.start(); });
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [this] { m_idle.start(); });
        QObject::connect(&m_idle, &QTimer::timeout, reply,
                         [this] { fail(QStringLiteral("No answer from the server within %1 ms").arg(m_timeoutMs)); });
        QObject::connect(&m_whole, &QTimer::timeout, reply, [this] {
            fail(QStringLiteral("The reply was not complete within %1 ms").arg(2 * qint64(m_timeoutMs)));
        });
        m_idle.start(m_timeoutMs);
        m_whole.start(2 * m_timeoutMs);
    }

    const QByteArray &body() const { return m_body; }
    const QString &failure() const { return m_failure; }

    /* The caller asked the request to stop. */
    void stop() { fail(kStoppedMessage); }

private:
    void takeBody()
    {
        if (!m_failure.isEmpty())
            return;
        m_body += m_reply->read(kMaxReplyBytes + 1 - m_body.size());
        if (m_body.size() > kMaxReplyBytes)
            failTooLong();
    }

    void checkDeclaredLength()
    {
        bool known = false;
        const qint64 declared = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && declared > kMaxReplyBytes)
            failTooLong();
    }

    void failTooLong()
    {
        m_body.clear();
        fail(QStringLiteral("The reply is longer than %1 bytes").arg(kMaxReplyBytes));
    }

    /* Keeps the first failure and ends the request; abort() then finishes the reply. */
    void fail(const QString &message)
    {
        if (!m_failure.isEmpty())
            return;
        m_failure = message;
        m_idle.stop();
        m_whole.stop();
        m_reply->abort();
    }

    QNetworkReply *m_reply;
    int m_timeoutMs;
    QTimer m_idle;  // the connection, then each wait for the server; restarted by progress
    QTimer m_whole; // the whole request
    QByteArray m_body;
    QString m_failure;
};

/* A received status other than 2xx, as "HTTP <status> <reason>"; empty for success. */
QString statusFailure(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 200 && status < 300)
        return {};
    const QString reason = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return QStringLiteral("HTTP %1 %2").arg(status).arg(reason).trimmed();
}

PostResult failure(const QString &message)
{
    PostResult result;
    result.error = message;
    return result;
}

} // namespace

PostResult httpPostForm(const QString &url, const QStringList &fields, int timeoutMs, const std::stop_token &stop)
{
    if (stop.stop_requested())
        return failure(kStoppedMessage);
    const bool secure = url.startsWith(QLatin1String("https://"));
    const QUrl target = transportUrl(url, secure);
    if (!target.isValid() || target.host().isEmpty())
        return failure(QStringLiteral("Unsupported address: ") + url);

    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(0); // PostCall keeps the time-outs and names them in its message
    if (secure) {
        // Verified even where the process's default configuration was relaxed: no reply is
        // taken from, and no form sent to, a server whose certificate fails the check.
        QSslConfiguration tls = request.sslConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }

    QNetworkAccessManager client; // one client for this request only
    QEventLoop loop;
    QNetworkReply *reply = client.post(request, formEncode(fields));
    reply->setReadBufferSize(256 * 1024); // PostCall drains it; the socket waits while it is full
    PostCall call(reply, qMax(timeoutMs, 1), loop);
    {
        // Runs on the thread that asks to stop; the abort itself happens here, in the loop.
        // The callback is gone before the reply is, and an event still queued for the reply
        // goes with it.
        const std::stop_callback onStop(stop, [reply, &call] {
            QMetaObject::invokeMethod(
                reply, [&call] { call.stop(); }, Qt::QueuedConnection);
        });
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    PostResult result;
    if (!call.failure().isEmpty())
        result.error = call.failure();
    else if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        result.error = statusFailure(*reply);
    if (result.error.isEmpty() && reply->error() != QNetworkReply::NoError)
        result.error = reply->errorString(); // no status line, or a transfer broken after it
    if (result.error.isEmpty()) {
        QByteArray body = call.body();
        body += reply->read(kMaxReplyBytes + 1 - body.size());
        if (body.size() > kMaxReplyBytes) {
            result.error = QStringLiteral("The reply is longer than %1 bytes").arg(kMaxReplyBytes);
        } else {
            result.ok = true;
            result.body = decodeBody(body, reply->rawHeader(QByteArrayLiteral("Content-Type")), secure);
        }
    }
    delete reply;
    return result;
}

PostResult postToEndpoint(const QString &endpoint, const QStringList &fields, int timeoutMs,
                          const std::stop_token &stop)
{
    return httpPostForm(QStringLiteral("https://") + endpoint, fields, timeoutMs, stop);
}
