#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

#include <memory>

/*
 * A real web server on 127.0.0.1 for the tests of the online services. One port serves both
 * plain HTTP and TLS: the first byte of a connection tells them apart (0x16 opens a TLS
 * handshake). The TLS certificate is issued at test time by a test certificate authority that
 * only this process trusts (trustTestAuthority); the server can also show certificates that
 * fail a client's check (setCertificate). The server runs on a thread of its own, so a
 * client may block the test's thread while it waits for a reply.
 */

/** One request as it arrived on the wire. */
struct ServedRequest {
    bool tls = false;
    QByteArray method, path, body;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent

    /** The value of the first header of that name (compared without case), or empty. */
    QByteArray header(const QByteArray &name) const;
};

/** What the server answers to every request of one kind (TLS or plain). */
struct CannedReply {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8"; // empty: no Content-Type header
    QByteArray body = {};
    bool neverAnswer = false;       // keep the connection open and send nothing
    qint64 repeatBodyToBytes = 0;   // > 0: stream body over and over up to this many bytes
    bool omitContentLength = false; // send no Content-Length; the end of the body is the close
};

Q_DECLARE_METATYPE(CannedReply) // for test tables

/** The certificate the server shows in a TLS handshake. */
enum class ServerCertificate {
    Trusted,    // for 127.0.0.1, issued by the test authority
    SelfSigned, // for 127.0.0.1, signed with its own key: no chain to a trusted authority
    OtherHost,  // issued by the test authority, but for another host name than 127.0.0.1
};

Q_DECLARE_METATYPE(ServerCertificate)

class TestWebServer
{
public:
    /** Starts listening on 127.0.0.1 on a free port, TLS enabled, both replies 200 with an empty body. */
    TestWebServer();
    /** Stops the server and closes every open connection. */
    ~TestWebServer();

    TestWebServer(const TestWebServer &) = delete;
    TestWebServer &operator=(const TestWebServer &) = delete;

    bool isListening() const;
    /** "127.0.0.1:<port>", the value for TESSALY_WEB_HOST. */
    QString host() const;
    quint16 port() const;

    /** Off: a TLS handshake is refused by closing the connection; plain HTTP still answers. */
    void setTlsEnabled(bool on);
    /** The certificate of every later TLS handshake; Trusted at start. */
    void setCertificate(ServerCertificate certificate);
    /** The reply to every later request that arrives over TLS (tls true) or plain HTTP. */
    void setReply(bool tls, const CannedReply &reply);

    /** Every request received so far, in order of arrival. */
    QList<ServedRequest> requests() const;
    void clearRequests();
    /** How many connections are open now: accepted and not yet closed by either side. */
    int openConnections() const;

    /**
     * Adds the test certificate authority to this process's default SSL configuration, so
     * that HTTPS clients of this process accept the server's certificate, and removes the
     * proxy settings from the environment, so that every request goes straight to 127.0.0.1.
     * Call it once, before the first request (initTestCase). Fails the process when openssl
     * cannot make the certificates.
     */
    static void trustTestAuthority();

    class Shared;
    class Listener;

private:
    std::shared_ptr<Shared> m_shared;
    class QThread *m_thread = nullptr;
    Listener *m_listener = nullptr;
    quint16 m_port = 0;
};
