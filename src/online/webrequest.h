#pragma once

#include "platform/webhost.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

/*
 * Requests to the maker's web endpoint: form POSTs with a short text reply.
 *
 * Endpoints are kept as host and path without a scheme. The feedback form and the update
 * check reach them with postToEndpoint, over HTTPS only: the user's data never goes over
 * plain HTTP.
 */

/** webHost() + "/php/check2.php". */
QString updateEndpoint();
/** webHost() + "/php/feedback.php". */
QString feedbackEndpoint();
/** "http://" + webHost() + "/": the maker's home page. */
QString homePage();

/** The largest reply body httpPostForm accepts; a longer reply fails the call. */
constexpr qint64 kMaxReplyBytes = 1024 * 1024;

/** The reply of httpPostForm: the body as text, or the transport's message on failure. */
struct PostResult {
    bool ok = false;
    QString body;  // the reply body, decoded by the reply's charset
    QString error; // the transport's message when !ok
};

/**
 * Sends one POST of fields ("name=value" items, in order) to url and waits for the reply.
 *
 * HTTPS when url begins with "https://" exactly; otherwise plain HTTP, whatever the spelling
 * of the scheme ("HTTPS://host" speaks plain HTTP to the host's port 443 or the port given).
 * Over HTTPS the server's certificate is always verified (a trusted chain that names the
 * host), whatever this process's default TLS configuration says; a certificate that fails
 * the check fails the call before any of the request is sent.
 * One client and one connection per call, "Connection: close", no retry, no redirect.
 * Time-outs: the connection, and then the wait for each part of the response, are each bounded
 * by timeoutMs (a server that accepts and never answers fails after about timeoutMs); the
 * whole call is bounded by twice timeoutMs.
 *
 * The reply body is decoded by the charset that the reply's Content-Type names; when it names
 * none or one that is unknown: UTF-8 over HTTPS, one byte per character (Latin-1) over HTTP.
 * Fails (ok false, error set) on any transport failure, on a reply status other than 2xx
 * (error "HTTP <status> <reason>"), and on a body longer than kMaxReplyBytes.
 *
 * A stop request on stop (from any thread) ends the call within moments, the request aborted,
 * with ok false and the error "The request was stopped"; a call whose stop was requested
 * before it began sends nothing.
 *
 * Works on any thread, with or without a running event loop: the call runs a local event loop
 * that leaves user input waiting, so on the user-interface thread the window is repainted but
 * takes no clicks or keys until the call returns.
 */
PostResult httpPostForm(const QString &url, const QStringList &fields, int timeoutMs, const std::stop_token &stop = {});

/**
 * Sends fields to an endpoint (updateEndpoint() or feedbackEndpoint()) with httpPostForm over
 * "https://" and nothing else: a failure, also a refused handshake or a certificate that is
 * not trusted, is the result, and there is no second attempt over plain HTTP.
 */
PostResult postToEndpoint(const QString &endpoint, const QStringList &fields, int timeoutMs,
                          const std::stop_token &stop = {});

/** The form body: each item split at its first "=", both sides percent-encoded from UTF-8 with "+" for a space, joined with "&". */
QByteArray formEncode(const QStringList &fields);

/** A reply split into lines at CR LF, CR or LF; a final line break adds no empty line. */
QStringList splitReplyLines(const QString &reply);

/** The value of a "<tag>value</tag>" line (tag compared in lower case), or the empty text. */
QString tagValue(const QString &line, const QString &tag);
