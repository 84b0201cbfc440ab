#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/*
 * Requests to the maker's web endpoint: form POSTs with a short text reply.
 *
 * Endpoints are kept as host and path without a scheme; callers put "https://" or "http://"
 * in front and fall back from the first to the second themselves.
 */

/** The maker's web host: TESSALY_WEB_HOST from the environment, else the build's default. */
QString WebHost();
/** WebHost() + "/php/check2.php". */
QString UpdateEndpoint();
/** WebHost() + "/php/feedback.php". */
QString FeedbackEndpoint();
/** "http://" + WebHost() + "/": the maker's home page. */
QString HomePage();

/** The reply of HttpPostForm: the body as text, or the transport's message on failure. */
struct PostResult {
    bool ok = false;
    QString body;  // the reply body, decoded by the reply's charset
    QString error; // the transport's message when !ok
};

/**
 * Sends one POST of fields ("name=value" items, in order) to url and waits for the reply.
 * HTTPS when url begins with "https://" exactly, plain HTTP otherwise; one connection per
 * call, "Connection: close"; connection and response each bounded by timeoutMs. Never retries.
 * Blocks the calling thread (on the user-interface thread, user input waits meanwhile).
 */
PostResult HttpPostForm(const QString &url, const QStringList &fields, int timeoutMs);

/** The form body: each item split at its first "=", both sides percent-encoded from UTF-8 with "+" for a space, joined with "&". */
QByteArray FormEncode(const QStringList &fields);

/** A reply split into lines at CR LF, CR or LF; a final line break adds no empty line. */
QStringList SplitReplyLines(const QString &reply);

/** The value of a "<tag>value</tag>" line (tag compared in lower case), or the empty text. */
QString TagValue(const QString &line, const QString &tag);
