#include "testserver.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

namespace {

/* A certificate the server can show, with its private key. */
struct ServerIdentity {
    QSslCertificate certificate;
    QSslKey key;
};

/* The test authority and the certificates for the server, made once a process. */
struct TlsMaterial {
    QSslCertificate authority;
    ServerIdentity trusted;    // for 127.0.0.1, issued by the test authority
    ServerIdentity selfSigned; // for 127.0.0.1, signed with its own key
    ServerIdentity otherHost;  // issued by the test authority for another host name
};

void runOpenSsl(const QString &folder, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        qFatal("openssl %s failed: %s", qPrintable(arguments.join(u' ')), openssl.readAll().constData());
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void writeWhole(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

const QStringList kEcKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

/* The extensions of a server certificate for the given subjectAltName. */
QByteArray serverExtensions(const QByteArray &altName)
{
    return "subjectAltName=" + altName
           + "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n";
}

ServerIdentity loadIdentity(const QString &dir, const QString &name)
{
    ServerIdentity identity;
    identity.certificate = QSslCertificate(readWhole(dir + u'/' + name + QStringLiteral(".crt")), QSsl::Pem);
    identity.key = QSslKey(readWhole(dir + u'/' + name + QStringLiteral(".key")), QSsl::Ec, QSsl::Pem);
    if (identity.certificate.isNull() || identity.key.isNull())
        qFatal("the test certificate %s made by openssl cannot be loaded", qPrintable(name));
    return identity;
}

/* A server certificate "<name>.crt" with its key "<name>.key", issued by the test authority. */
ServerIdentity issueByAuthority(const QString &dir, const QString &name, const QByteArray &altName)
{
    writeWhole(dir + u'/' + name + QStringLiteral(".ext"), serverExtensions(altName));
    runOpenSsl(dir,
               QStringList{QStringLiteral("req")} + kEcKey
                   + QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                 name + QStringLiteral(".csr"), QStringLiteral("-subj"),
                                 QStringLiteral("/CN=") + QString::fromLatin1(altName.mid(altName.indexOf(':') + 1))});
    runOpenSsl(dir, QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                                name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                                QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                                name + QStringLiteral(".ext"), QStringLiteral("-out"), name + QStringLiteral(".crt")});
    return loadIdentity(dir, name);
}

TlsMaterial makeTlsMaterial()
{
    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder for the test certificates");
    const QString dir = folder.path();
    runOpenSsl(dir,
               QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                   + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                 QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=Tessaly Test Authority"),
                                 QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                 QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")});
    // Everything a server certificate needs but a trusted issuer: valid, for 127.0.0.1.
    runOpenSsl(dir, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                        + QStringList{QStringLiteral("-keyout"), QStringLiteral("self.key"), QStringLiteral("-out"),
                                      QStringLiteral("self.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                                      QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                                      QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                                      QStringLiteral("-addext"), QStringLiteral("extendedKeyUsage=serverAuth")});

    TlsMaterial material;
    material.authority = QSslCertificate(readWhole(dir + QStringLiteral("/ca.crt")), QSsl::Pem);
    if (material.authority.isNull())
        qFatal("the test authority made by openssl cannot be loaded");
    material.trusted = issueByAuthority(dir, QStringLiteral("server"), "IP:127.0.0.1");
    material.selfSigned = loadIdentity(dir, QStringLiteral("self"));
    material.otherHost = issueByAuthority(dir, QStringLiteral("other"), "DNS:other-host.example");
    return material;
}

const TlsMaterial &tlsMaterial()
{
    static const TlsMaterial material = makeTlsMaterial();
    return material;
}

constexpr qint64 kStreamChunkBytes = 64 * 1024;
constexpr qint64 kMaxPendingBytes = 256 * 1024;

} // namespace

QByteArray ServedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

/* What the test sets and reads, shared with the server thread. */
class TestWebServer::Shared
{
public:
    mutable QMutex mutex;
    bool tlsEnabled = true;
    ServerCertificate certificate = ServerCertificate::Trusted;
    CannedReply tlsReply;
    CannedReply plainReply;
    QList<ServedRequest> requests;
    int openConnections = 0;

    void countConnection(int change)
    {
        QMutexLocker lock(&mutex);
        openConnections += change;
    }

    CannedReply record(const ServedRequest &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        return request.tls ? tlsReply : plainReply;
    }

    bool acceptsTls() const
    {
        QMutexLocker lock(&mutex);
        return tlsEnabled;
    }

    ServerIdentity identity() const
    {
        QMutexLocker lock(&mutex);
        switch (certificate) {
        case ServerCertificate::SelfSigned:
            return tlsMaterial().selfSigned;
        case ServerCertificate::OtherHost:
            return tlsMaterial().otherHost;
        case ServerCertificate::Trusted:
            break;
        }
        return tlsMaterial().trusted;
    }
};

namespace {

/* One connection: sniffs TLS or plain, reads one request, answers it and closes. */
class Connection : public QObject
{
public:
    Connection(qintptr descriptor, std::shared_ptr<TestWebServer::Shared> shared, QObject *parent)
        : QObject(parent)
        , m_shared(std::move(shared))
    {
        m_shared->countConnection(+1);
        m_socket = new QSslSocket(this);
        connect(m_socket, &QSslSocket::readyRead, this, &Connection::onReadyRead);
        connect(m_socket, &QSslSocket::bytesWritten, this, &Connection::streamMore);
        connect(m_socket, &QSslSocket::encryptedBytesWritten, this, &Connection::streamMore);
        connect(m_socket, &QSslSocket::disconnected, this, &QObject::deleteLater);
        connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { finish(); });
        connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &) { finish(); });
        if (!m_socket->setSocketDescriptor(descriptor))
            deleteLater();
    }

    ~Connection() override { m_shared->countConnection(-1); }

private:
    enum class Stage { Sniffing, Handshaking, Reading, Answered };

    void onReadyRead()
    {
        if (m_stage == Stage::Sniffing) {
            char first = 0;
            if (m_socket->peek(&first, 1) != 1)
                return;
            if (first == 0x16) {
                startTls();
                return;
            }
            m_stage = Stage::Reading;
        }
        if (m_stage != Stage::Reading)
            return;
        m_received += m_socket->readAll();
        tryAnswer();
    }

    void startTls()
    {
        if (!m_shared->acceptsTls()) {
            finish();
            return;
        }
        m_tls = true;
        m_stage = Stage::Handshaking;
        connect(m_socket, &QSslSocket::encrypted, this, [this] {
            m_stage = Stage::Reading;
            onReadyRead();
        });
        m_socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        const ServerIdentity identity = m_shared->identity();
        m_socket->setLocalCertificate(identity.certificate);
        m_socket->setPrivateKey(identity.key);
        m_socket->startServerEncryption();
    }

    /* Answers once the header and the whole body (by Content-Length) have arrived. */
    void tryAnswer()
    {
        const qsizetype headerEnd = m_received.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        ServedRequest request;
        request.tls = m_tls;
        const QList<QByteArray> lines = m_received.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const qint64 bodyLength = request.header("Content-Length").toLongLong();
        if (m_received.size() - (headerEnd + 4) < bodyLength)
            return;
        request.body = m_received.mid(headerEnd + 4, bodyLength);
        m_stage = Stage::Answered;
        answer(m_shared->record(request));
    }

    void answer(const CannedReply &reply)
    {
        if (reply.neverAnswer)
            return; // the client gives up and closes; disconnected() then frees this object
        m_body = reply.body;
        m_remaining = reply.repeatBodyToBytes > 0 ? reply.repeatBodyToBytes : reply.body.size();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
        if (!reply.contentType.isEmpty())
            head += "Content-Type: " + reply.contentType + "\r\n";
        if (!reply.omitContentLength)
            head += "Content-Length: " + QByteArray::number(m_remaining) + "\r\n";
        head += "Connection: close\r\n\r\n";
        m_socket->write(head);
        m_streaming = true;
        streamMore();
    }

    /* Writes the body in chunks, keeping little in flight, so a huge body needs no huge buffer. */
    void streamMore()
    {
        if (!m_streaming)
            return;
        while (m_remaining > 0 && pendingBytes() < kMaxPendingBytes) {
            QByteArray chunk;
            while (chunk.size() < kStreamChunkBytes && chunk.size() < m_remaining && !m_body.isEmpty())
                chunk += m_body;
            chunk.truncate(qMin<qint64>(chunk.size(), m_remaining));
            if (chunk.isEmpty())
                break;
            m_socket->write(chunk);
            m_remaining -= chunk.size();
        }
        if (m_remaining <= 0 || m_body.isEmpty()) {
            m_streaming = false;
            m_socket->disconnectFromHost(); // sends what is still buffered first
        }
    }

    /* Bytes written but not yet sent, before and after encryption. */
    qint64 pendingBytes() const { return m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite(); }

    void finish()
    {
        m_streaming = false;
        m_socket->abort();
        deleteLater();
    }

    std::shared_ptr<TestWebServer::Shared> m_shared;
    QSslSocket *m_socket = nullptr;
    Stage m_stage = Stage::Sniffing;
    bool m_tls = false;
    QByteArray m_received;
    QByteArray m_body;
    qint64 m_remaining = 0;
    bool m_streaming = false;
};

} // namespace

/* The listening socket; lives on the server thread, with its connections as children. */
class TestWebServer::Listener : public QTcpServer
{
public:
    explicit Listener(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { new Connection(descriptor, m_shared, this); }

private:
    std::shared_ptr<Shared> m_shared;
};

TestWebServer::TestWebServer()
    : m_shared(std::make_shared<Shared>())
{
    (void)tlsMaterial(); // make the certificates before the first handshake needs them
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("TestWebServer"));
    m_listener = new Listener(m_shared);
    m_listener->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_listener,
        [this] {
            if (m_listener->listen(QHostAddress::LocalHost, 0))
                m_port = m_listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

TestWebServer::~TestWebServer()
{
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool TestWebServer::isListening() const
{
    return m_port != 0;
}

QString TestWebServer::host() const
{
    return QStringLiteral("127.0.0.1:") + QString::number(m_port);
}

quint16 TestWebServer::port() const
{
    return m_port;
}

void TestWebServer::setTlsEnabled(bool on)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->tlsEnabled = on;
}

void TestWebServer::setCertificate(ServerCertificate certificate)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->certificate = certificate;
}

void TestWebServer::setReply(bool tls, const CannedReply &reply)
{
    QMutexLocker lock(&m_shared->mutex);
    (tls ? m_shared->tlsReply : m_shared->plainReply) = reply;
}

QList<ServedRequest> TestWebServer::requests() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

int TestWebServer::openConnections() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->openConnections;
}

void TestWebServer::clearRequests()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->requests.clear();
}

void TestWebServer::trustTestAuthority()
{
    for (const char *name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(tlsMaterial().authority);
    QSslConfiguration::setDefaultConfiguration(configuration);
}
