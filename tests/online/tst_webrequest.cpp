#include "online/webrequest.h"
#include "platform/machineguid.h"
#include "platform/osdescription.h"
#include "platform/userlocale.h"
#include "testfiles.h"
#include "testserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <stop_token>
#include <thread>

#include <sys/resource.h>

namespace {

/* The peak resident memory of this process so far, in kilobytes. */
long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestWebRequest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWebServer> m_server;

    QString url(const QString &scheme) const { return scheme + updateEndpoint(); }

    ServedRequest onlyRequest() const
    {
        const QList<ServedRequest> requests = m_server->requests();
        if (requests.size() != 1)
            qWarning("expected one request, the server saw %lld", qlonglong(requests.size()));
        return requests.value(0);
    }

private slots:
    void initTestCase() { TestWebServer::trustTestAuthority(); }

    void init()
    {
        m_server = std::make_unique<TestWebServer>();
        QVERIFY(m_server->isListening());
        qputenv("TESSALY_WEB_HOST", m_server->host().toLatin1());
    }

    void cleanup()
    {
        m_server.reset();
        qunsetenv("TESSALY_WEB_HOST");
    }

    void endpointsFollowTheHost()
    {
        QCOMPARE(updateEndpoint(), m_server->host() + QStringLiteral("/php/check2.php"));
        QCOMPARE(feedbackEndpoint(), m_server->host() + QStringLiteral("/php/feedback.php"));
        QCOMPARE(homePage(), QStringLiteral("http://") + m_server->host() + QStringLiteral("/"));
        qunsetenv("TESSALY_WEB_HOST");
        QCOMPARE(webHost(), QStringLiteral(TESSALY_WEB_HOST_DEFAULT));
    }

    void bodyOnTheWire_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("blank and dash") << QStringList{u"cmd=check"_qs, u"appname=ORVANTA - Tessaly"_qs}
                                        << QByteArray("cmd=check&appname=ORVANTA+-+Tessaly");
        QTest::newRow("line break stays in its pair")
            << QStringList{u"cmd=feedback"_qs, u"feedback=Line one\r\nLine two"_qs, u"email=a@b.example"_qs}
            << QByteArray("cmd=feedback&feedback=Line+one%0D%0ALine+two&email=a%40b.example");
        QTest::newRow("split at the first equals sign") << QStringList{u"os=a=b"_qs} << QByteArray("os=a%3Db");
        QTest::newRow("reserved marks") << QStringList{u"v=a+b&c/d?e_f.g~h-i"_qs}
                                        << QByteArray("v=a%2Bb%26c%2Fd%3Fe_f.g~h-i");
        QTest::newRow("UTF-8 bytes") << QStringList{u"local=Türkçe €"_qs}
                                     << QByteArray("local=T%C3%BCrk%C3%A7e+%E2%82%AC");
        QTest::newRow("empty value") << QStringList{u"guid="_qs} << QByteArray("guid=");
    }

    void bodyOnTheWire()
    {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, body);
        const PostResult result = httpPostForm(url(u"https://"_qs), fields, 5000);
        QVERIFY2(result.ok, qPrintable(result.error));
        const ServedRequest request = onlyRequest();
        QVERIFY(request.tls);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/php/check2.php"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(request.header("Connection").toLower(), QByteArray("close"));
        QCOMPARE(request.body, body);
    }

    void transportByExactScheme_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("tls");
        QTest::newRow("https://") << u"https://"_qs << true;
        QTest::newRow("http://") << u"http://"_qs << false;
        QTest::newRow("HTTPS:// is not https://") << u"HTTPS://"_qs << false;
        QTest::newRow("Https://") << u"Https://"_qs << false;
    }

    void transportByExactScheme()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, tls);
        m_server->setReply(true, CannedReply{.body = "over TLS"});
        m_server->setReply(false, CannedReply{.body = "plain"});
        const PostResult result = httpPostForm(url(scheme), {u"cmd=check"_qs}, 5000);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(onlyRequest().tls, tls);
        QCOMPARE(result.body, tls ? u"over TLS"_qs : u"plain"_qs);
    }

    void refusedHttpsThenPlainHttp()
    {
        m_server->setTlsEnabled(false);
        m_server->setReply(false, CannedReply{.body = "<result>1</result>"});
        const PostResult secure = httpPostForm(url(u"https://"_qs), {u"cmd=check"_qs}, 5000);
        QVERIFY(!secure.ok);
        QVERIFY(!secure.error.trimmed().isEmpty());
        const PostResult plain = httpPostForm(url(u"http://"_qs), {u"cmd=check"_qs}, 5000);
        QVERIFY2(plain.ok, qPrintable(plain.error));
        QCOMPARE(plain.body, u"<result>1</result>"_qs);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void endpointsOnlyOverVerifiedHttps_data()
    {
        QTest::addColumn<bool>("tlsEnabled");
        QTest::addColumn<ServerCertificate>("certificate");
        QTest::addColumn<bool>("relaxedDefault"); // the process's default TLS configuration verifies nothing
        QTest::addColumn<bool>("delivered");
        QTest::newRow("certificate from the trusted authority") << true << ServerCertificate::Trusted << false << true;
        QTest::newRow("plain HTTP only") << false << ServerCertificate::Trusted << false << false;
        QTest::newRow("self-signed certificate") << true << ServerCertificate::SelfSigned << false << false;
        QTest::newRow("certificate for another host") << true << ServerCertificate::OtherHost << false << false;
        QTest::newRow("self-signed, default verifies nothing")
            << true << ServerCertificate::SelfSigned << true << false;
        QTest::newRow("another host, default verifies nothing")
            << true << ServerCertificate::OtherHost << true << false;
    }

    void endpointsOnlyOverVerifiedHttps()
    {
        QFETCH(bool, tlsEnabled);
        QFETCH(ServerCertificate, certificate);
        QFETCH(bool, relaxedDefault);
        QFETCH(bool, delivered);
        m_server->setTlsEnabled(tlsEnabled);
        m_server->setCertificate(certificate);
        m_server->setReply(true, CannedReply{.body = "over TLS"});
        m_server->setReply(false, CannedReply{.body = "plain"});
        const QSslConfiguration defaults = QSslConfiguration::defaultConfiguration();
        const auto restoreDefaults = qScopeGuard([&defaults] { QSslConfiguration::setDefaultConfiguration(defaults); });
        if (relaxedDefault) {
            QSslConfiguration relaxed = defaults;
            relaxed.setPeerVerifyMode(QSslSocket::VerifyNone);
            QSslConfiguration::setDefaultConfiguration(relaxed);
        }

        const PostResult result
            = postToEndpoint(feedbackEndpoint(), {u"cmd=feedback"_qs, u"email=me@example.org"_qs}, 5000);
        QCOMPARE(result.ok, delivered);
        if (delivered) {
            QCOMPARE(result.body, u"over TLS"_qs);
            const ServedRequest request = onlyRequest();
            QVERIFY(request.tls);
            QCOMPARE(request.path, QByteArray("/php/feedback.php"));
            QCOMPARE(request.body, QByteArray("cmd=feedback&email=me%40example.org"));
        } else {
            QVERIFY(!result.error.trimmed().isEmpty());
            QVERIFY(result.body.isEmpty());
            // The server never saw the form, over either transport.
            QCOMPARE(m_server->requests().size(), 0);
        }
    }

    void failures_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<CannedReply>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("HTTP 500 over TLS")
            << true << CannedReply{.status = 500, .body = "<result>1</result>"} << u"HTTP 500"_qs;
        QTest::newRow("HTTP 404 plain") << false << CannedReply{.status = 404, .body = "missing"} << u"HTTP 404"_qs;
        QTest::newRow("50 MB declared") << false << CannedReply{.body = "0123456789", .repeatBodyToBytes = 50'000'000}
                                        << u"longer than 1048576 bytes"_qs;
        QTest::newRow("50 MB undeclared over TLS")
            << true << CannedReply{.body = "0123456789", .repeatBodyToBytes = 50'000'000, .omitContentLength = true}
            << u"longer than 1048576 bytes"_qs;
    }

    void failures()
    {
        QFETCH(bool, tls);
        QFETCH(CannedReply, reply);
        QFETCH(QString, message);
        m_server->setReply(tls, reply);
        const long peakBefore = peakResidentKb();
        const PostResult result = httpPostForm(url(tls ? u"https://"_qs : u"http://"_qs), {u"cmd=check"_qs}, 5000);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(message), qPrintable(result.error));
        QVERIFY(result.body.isEmpty());
        // A reply body is never held whole: a 50 MB reply may not raise the peak by 40 MB (the
        // margin leaves room for a sanitizer's quarantine of freed buffers).
        QVERIFY2(peakResidentKb() - peakBefore < 40 * 1024, qPrintable(QString::number(peakResidentKb() - peakBefore)));
    }

    void replyJustWithinTheBound()
    {
        m_server->setReply(false,
                           CannedReply{.contentType = "text/plain", .body = "x", .repeatBodyToBytes = kMaxReplyBytes});
        const PostResult result = httpPostForm(url(u"http://"_qs), {u"cmd=check"_qs}, 5000);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.body.size(), kMaxReplyBytes);
    }

    void silentServerFailsAfterItsTimeOut_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("plain, 700 ms") << false << 700;
        QTest::newRow("TLS, 1500 ms") << true << 1500;
    }

    void silentServerFailsAfterItsTimeOut()
    {
        QFETCH(bool, tls);
        QFETCH(int, timeoutMs);
        m_server->setReply(tls, CannedReply{.neverAnswer = true});
        QElapsedTimer clock;
        clock.start();
        const PostResult result = httpPostForm(url(tls ? u"https://"_qs : u"http://"_qs), {u"cmd=check"_qs}, timeoutMs);
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QString::number(timeoutMs)), qPrintable(result.error));
        QVERIFY2(elapsed >= timeoutMs - 50 && elapsed < timeoutMs + 1500, qPrintable(QString::number(elapsed)));
        QCOMPARE(m_server->requests().size(), 1);
    }

    void stopEndsTheCall()
    {
        m_server->setReply(true, CannedReply{.neverAnswer = true});
        std::stop_source stopped;
        stopped.request_stop();
        const PostResult early = httpPostForm(url(u"https://"_qs), {u"cmd=check"_qs}, 5000, stopped.get_token());
        QVERIFY(!early.ok);
        QCOMPARE(early.error, u"The request was stopped"_qs);
        QCOMPARE(m_server->requests().size(), 0); // nothing was sent

        // Asked from another thread while the call waits for the server.
        std::stop_source stop;
        PostResult result;
        std::thread caller(
            [&] { result = httpPostForm(url(u"https://"_qs), {u"cmd=check"_qs}, 60000, stop.get_token()); });
        const bool arrived = QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 20000);
        stop.request_stop();
        caller.join();
        QVERIFY(arrived);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, u"The request was stopped"_qs);
    }

    void noServerAtAll()
    {
        const QString host = m_server->host();
        m_server.reset(); // the port is closed now
        const PostResult result = httpPostForm(u"http://"_qs + host + u"/php/check2.php"_qs, {u"cmd=check"_qs}, 3000);
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
    }

    void replyCharset_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("windows-1254 over TLS")
            << true << QByteArray("text/plain; charset=windows-1254") << QByteArray("\xDE\xFD\xF0\xFE") << u"Şığş"_qs;
        QTest::newRow("ISO-8859-9 plain, quoted, upper case")
            << false << QByteArray("text/html; CHARSET=\"ISO-8859-9\"") << QByteArray("\xDD\xE7") << u"İç"_qs;
        QTest::newRow("TLS without charset reads UTF-8")
            << true << QByteArray("text/plain") << QByteArray("\xC3\xBC") << u"ü"_qs;
        QTest::newRow("plain without charset reads one byte a character")
            << false << QByteArray("text/plain") << QByteArray("\xC3\xBC") << u"Ã¼"_qs;
        QTest::newRow("plain without Content-Type") << false << QByteArray() << QByteArray("\xFC") << u"ü"_qs;
        QTest::newRow("unknown charset over TLS reads UTF-8")
            << true << QByteArray("text/plain; charset=x-no-such") << QByteArray("\xC3\xBC") << u"ü"_qs;
    }

    void replyCharset()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        m_server->setReply(tls, CannedReply{.contentType = contentType, .body = bytes});
        const PostResult result = httpPostForm(url(tls ? u"https://"_qs : u"http://"_qs), {u"cmd=check"_qs}, 5000);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.body, text);
    }

    void testTagValue_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("value");
        QTest::newRow("version") << u"<version>4.2</version>"_qs << u"version"_qs << u"4.2"_qs;
        QTest::newRow("tag in the line in capitals") << u"<Version>4.2</Version>"_qs << u"version"_qs << QString();
        QTest::newRow("leading blank") << u" <version>4.2</version>"_qs << u"version"_qs << QString();
        QTest::newRow("trailing blank") << u"<version>4.2</version> "_qs << u"version"_qs << QString();
        QTest::newRow("empty url") << u"<url></url>"_qs << u"url"_qs << QString();
        QTest::newRow("asked in capitals") << u"<version>4.2</version>"_qs << u"VERSION"_qs << u"4.2"_qs;
        QTest::newRow("blanks inside stay") << u"<important>  </important>"_qs << u"important"_qs << u"  "_qs;
        QTest::newRow("other tag") << u"<url>x</url>"_qs << u"version"_qs << QString();
        QTest::newRow("open and close overlap") << u"<a>/a>"_qs << u"a"_qs << QString();
        QTest::newRow("empty line") << QString() << u"version"_qs << QString();
        QTest::newRow("empty tag") << u"<>x</>"_qs << QString() << QString();
    }

    void testTagValue()
    {
        QFETCH(QString, line);
        QFETCH(QString, tag);
        QFETCH(QString, value);
        QCOMPARE(tagValue(line, tag), value);
    }

    void testSplitReplyLines_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF, CR and LF") << u"a\r\nb\rc\nd"_qs << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs};
        QTest::newRow("final break adds nothing") << u"a\r\nb\r\n"_qs << QStringList{u"a"_qs, u"b"_qs};
        QTest::newRow("empty lines inside stay")
            << u"a\n\n\r\rb"_qs << QStringList{u"a"_qs, u""_qs, u""_qs, u""_qs, u"b"_qs};
        QTest::newRow("LF CR is two breaks") << u"a\n\rb"_qs << QStringList{u"a"_qs, u""_qs, u"b"_qs};
        QTest::newRow("empty reply") << QString() << QStringList{};
        QTest::newRow("one break") << u"\n"_qs << QStringList{u""_qs};
    }

    void testSplitReplyLines()
    {
        QFETCH(QString, reply);
        QFETCH(QStringList, lines);
        QCOMPARE(splitReplyLines(reply), lines);
    }

    void machineGuid_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<none>": no file
        QTest::addColumn<QString>("guid");
        QTest::addColumn<bool>("fails");
        // The value systemd-id128 machine-id --app-specific gives for this machine ID and our application ID.
        QTest::newRow("machine ID") << QByteArray("0123456789abcdef0123456789abcdef\n")
                                    << u"c4a81ffb-389e-479e-b53b-d543bc62eddc"_qs << false;
        QTest::newRow("upper-case machine ID")
            << QByteArray("0123456789ABCDEF0123456789ABCDEF") << u"c4a81ffb-389e-479e-b53b-d543bc62eddc"_qs << false;
        QTest::newRow("no file") << QByteArray("<none>") << QString() << false;
        QTest::newRow("empty file") << QByteArray() << QString() << false;
        QTest::newRow("not yet initialised") << QByteArray("uninitialized\n") << QString() << false;
        QTest::newRow("not an ID") << QByteArray("hello, world\n") << QString() << true;
        QTest::newRow("too short") << QByteArray("0123456789abcdef\n") << QString() << true;
    }

    void machineGuid()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, guid);
        QFETCH(bool, fails);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"machine-id"_qs);
        if (content != "<none>")
            writeTestFile(path, content);
        const MachineGuidResult result = readMachineGuid(path);
        QCOMPARE(result.guid, guid);
        QCOMPARE(!result.error.isEmpty(), fails);
    }

    void unreadableMachineIdFails()
    {
        QTemporaryDir folder;
        const MachineGuidResult result = readMachineGuid(folder.path()); // a folder, not a file
        QVERIFY(result.guid.isEmpty());
        QVERIFY(!result.error.isEmpty());
    }

    void thisMachinesGuid()
    {
        const MachineGuidResult result = readMachineGuid();
        if (!QFile::exists(defaultMachineIdPath()))
            QSKIP("this machine has no machine ID");
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        static const QRegularExpression form(
            u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_qs);
        QVERIFY2(form.match(result.guid).hasMatch(), qPrintable(result.guid));
        const QString machineId = QString::fromLatin1(readTestFile(defaultMachineIdPath()).trimmed());
        QVERIFY(!QString(result.guid).remove(u'-').contains(machineId));
    }

    void testOsDescription_data()
    {
        QTest::addColumn<QString>("osRelease");
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<bool>("is64Bit");
        QTest::addColumn<QString>("description");
        QTest::newRow("Debian") << u"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"_qs
                                << u"6.1.0-18-amd64"_qs << true
                                << u"Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 64-bit Edition)"_qs;
        QTest::newRow("patch level is the build")
            << u"PRETTY_NAME='Fedora Linux 40'\n"_qs << u"6.18.44-fc-v1403"_qs << true
            << u"Fedora Linux 40 (Version 6.18, Build 44, 64-bit Edition)"_qs;
        QTest::newRow("NAME without PRETTY_NAME")
            << u"NAME=Alpine\n"_qs << u"5.15.2"_qs << false << u"Alpine (Version 5.15, Build 2, 32-bit Edition)"_qs;
        QTest::newRow("escaped quote") << u"PRETTY_NAME=\"My \\\"Best\\\" OS\"\n"_qs << u"6"_qs << true
                                       << u"My \"Best\" OS (Version 6.0, Build 0, 64-bit Edition)"_qs;
        QTest::newRow("no os-release") << QString() << u"weird"_qs << true
                                       << u"Linux (Version 0.0, Build 0, 64-bit Edition)"_qs;
    }

    void testOsDescription()
    {
        QFETCH(QString, osRelease);
        QFETCH(QString, kernel);
        QFETCH(bool, is64Bit);
        QFETCH(QString, description);
        QCOMPARE(osDescriptionFrom(osRelease, kernel, is64Bit), description);
    }

    void thisSystemsDescription()
    {
        static const QRegularExpression form(u"^.+ \\(Version \\d+\\.\\d+, Build \\d+, (64|32)-bit Edition\\)$"_qs);
        QVERIFY2(form.match(osDescription()).hasMatch(), qPrintable(osDescription()));
    }

    void localeName_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("name");
        QTest::newRow("de_DE") << u"de_DE"_qs << u"de-DE"_qs;
        QTest::newRow("en_US") << u"en_US"_qs << u"en-US"_qs;
        QTest::newRow("tr_TR") << u"tr_TR"_qs << u"tr-TR"_qs;
        QTest::newRow("language only takes its main territory") << u"fr"_qs << u"fr-FR"_qs;
        QTest::newRow("C") << u"C"_qs << u"xx"_qs;
        QTest::newRow("unknown") << u"qq_QQ"_qs << u"xx"_qs;
    }

    void localeName()
    {
        QFETCH(QString, locale);
        QFETCH(QString, name);
        QCOMPARE(localeNameFor(QLocale(locale)), name);
    }
};

QTEST_GUILESS_MAIN(TestWebRequest)
#include "tst_webrequest.moc"
