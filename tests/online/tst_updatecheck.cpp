#include "online/updatecheck.h"
#include "online/updatestore.h"
#include "online/webrequest.h"
#include "platform/userlocale.h"
#include "testserver.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <stop_token>
#include <thread>

namespace {

const QString kAppCaption = QStringLiteral("ORVANTA - Tessaly");
const QString kGuid = QStringLiteral("c4a81ffb-389e-479e-b53b-d543bc62eddc");

/* A reply of the update endpoint: version, url, an empty line, result, an empty line, important. */
QByteArray replyBody(const QByteArray &version, const QByteArray &result = "1", const QByteArray &important = {})
{
    return "<version>" + version + "</version>\r\n<url>https://www.orvanta.example/download/</url>\r\n\r\n<result>"
           + result + "</result>\r\n\r\n<important>" + important + "</important>\r\n";
}

/* The store as the tests see it: the same native file, group "Settings". */
struct StoreView {
    QSettings settings{QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ORVANTA"),
                       QStringLiteral("Tessaly")};
    StoreView() { settings.beginGroup(QStringLiteral("Settings")); }
};

/* A stored value as text; "<absent>" when the key is not there. */
QString storedValue(const QString &key)
{
    const QVariant value = StoreView().settings.value(key);
    return value.isValid() ? value.toString() : QStringLiteral("<absent>");
}

void setStored(const QString &key, const QString &value)
{
    StoreView view;
    view.settings.setValue(key, value);
    view.settings.sync();
}

/* Fields of a form body, decoded, in order. */
QStringList decodedFields(const QByteArray &body)
{
    QStringList fields;
    for (const QByteArray &pair : body.split('&'))
        fields.append(QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray(pair).replace('+', ' '))));
    return fields;
}

/* Records the important messages the check hands on. */
struct BoxRecorder {
    QMutex mutex;
    QStringList shown;
};

} // namespace

Q_DECLARE_METATYPE(MachineGuidResult)

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    std::unique_ptr<TestWebServer> m_server;
    std::shared_ptr<BoxRecorder> m_boxes;

    CheckerInputs checkInputs(const QString &appVersion, MachineGuidResult guid = {kGuid, {}})
    {
        CheckerInputs inputs;
        inputs.appCaption = kAppCaption;
        inputs.appVersion = appVersion;
        inputs.machineGuid = [guid] { return guid; };
        auto boxes = m_boxes;
        inputs.showImportant = [boxes](const QString &message) {
            QMutexLocker lock(&boxes->mutex);
            boxes->shown.append(message);
        };
        return inputs;
    }

    /* One check, on this thread (the server answers from a thread of its own). */
    std::shared_ptr<const CheckResults> runCheck(CheckerInputs inputs)
    {
        return std::make_shared<const CheckResults>(UpdateCheck(std::move(inputs)).run());
    }

    void serveBoth(const QByteArray &body)
    {
        m_server->setReply(true, CannedReply{.body = body});
        m_server->setReply(false, CannedReply{.body = body});
    }

    void verifyNothingStoredButInstalledVersion(const QString &appVersion)
    {
        QCOMPARE(storedValue(u"InstalledVersion"_qs), appVersion);
        for (const QString &key :
             {u"LastUpdateCheck"_qs, u"LastUpdateCheckCount"_qs, u"CurrentVersion"_qs, u"CurrentURL"_qs})
            QCOMPARE(storedValue(key), u"<absent>"_qs);
    }

private slots:
    void initTestCase()
    {
        // The store lives under $XDG_CONFIG_HOME, fixed by the first use of QSettings.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        TestWebServer::trustTestAuthority();
    }

    void init()
    {
        m_server = std::make_unique<TestWebServer>();
        QVERIFY(m_server->isListening());
        qputenv("TESSALY_WEB_HOST", m_server->host().toLatin1());
        m_boxes = std::make_shared<BoxRecorder>();
        QSettings everything(QSettings::NativeFormat, QSettings::UserScope, u"ORVANTA"_qs, u"Tessaly"_qs);
        everything.clear();
        everything.sync();
    }

    void cleanup()
    {
        m_server.reset();
        qunsetenv("TESSALY_WEB_HOST");
    }

    void storeIsTheNativeUserFile()
    {
        setStored(u"ShowUpdate"_qs, u"1"_qs);
        QVERIFY(QFile::exists(m_config.filePath(u"ORVANTA/Tessaly.conf"_qs)));
    }

    void validReply_data()
    {
        QTest::addColumn<QString>("appVersion");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<QString>("currentVersion");
        QTest::newRow("same version") << u"4.2"_qs << replyBody("4.2") << false << u"4.2"_qs;
        QTest::newRow("4.3 is newer") << u"4.2"_qs << replyBody("4.3") << true << u"4.3"_qs;
        QTest::newRow("3.9 differs as well") << u"4.2"_qs << replyBody("3.9") << true << u"3.9"_qs;
        QTest::newRow("4.3 beta is no number") << u"4.2"_qs << replyBody("4.3 beta") << false << u"4.3 beta"_qs;
        QTest::newRow("version compared with case") << u"4.2a"_qs << replyBody("4.2A") << false << u"4.2A"_qs;
        QTest::newRow("result 0 is valid too") << u"2.3"_qs << replyBody("4.3", "0") << true << u"4.3"_qs;
        QTest::newRow("line 1 not a version line")
            << u"4.2"_qs << QByteArray("<build>4.3</build>\n<url>u</url>\n\n<result>1</result>\n") << false
            << QString();
        QTest::newRow("LF line ends, no line 6")
            << u"4.2"_qs << QByteArray("<version>5.0</version>\n\n\n<result>1</result>") << true << u"5.0"_qs;
    }

    void validReply()
    {
        QFETCH(QString, appVersion);
        QFETCH(QByteArray, reply);
        QFETCH(bool, notice);
        QFETCH(QString, currentVersion);
        serveBoth(reply);
        const auto results = runCheck(checkInputs(appVersion));

        QVERIFY2(!results->checkFailed(), qPrintable(results->checkErrors()));
        QCOMPARE(results->showNewVersion(), notice);
        QCOMPARE(results->currentVersion(), currentVersion);
        QCOMPARE(results->showUpdate(), 1);
        QCOMPARE(storedValue(u"LastUpdateCheck"_qs), todayShortDate());
        QCOMPARE(storedValue(u"LastUpdateCheckCount"_qs), u"1"_qs);
        QCOMPARE(storedValue(u"CurrentVersion"_qs), currentVersion);
        QCOMPARE(storedValue(u"InstalledVersion"_qs), appVersion);
        QCOMPARE(unscrambleUrl(storedValue(u"CurrentURL"_qs)), results->currentUrl());
        QCOMPARE(m_server->requests().size(), 1);
        QVERIFY(m_server->requests().at(0).tls);
    }

    void testRequestFields()
    {
        serveBoth(replyBody("2.3"));
        runCheck(checkInputs(u"2.3"_qs));
        const ServedRequest request = m_server->requests().value(0);
        QCOMPARE(request.path, QByteArray("/php/check2.php"));
        const QStringList fields = decodedFields(request.body);
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[0], u"cmd=check"_qs);
        QCOMPARE(fields[1], u"appname="_qs + kAppCaption);
        QCOMPARE(fields[2], u"version=2.3"_qs);
        QVERIFY2(fields[3].startsWith(u"os="_qs) && fields[3].endsWith(u"-bit Edition)"_qs), qPrintable(fields[3]));
        QCOMPARE(fields[4], u"local="_qs + userLocaleName());
        QCOMPARE(fields[5], u"guid="_qs + kGuid);
        QVERIFY(request.body.startsWith("cmd=check&appname=ORVANTA+-+Tessaly&version=2.3&os="));
    }

    void invalidReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("begins with ERROR") << QByteArray("ERROR\r\n") + replyBody("4.3");
        QTest::newRow("ERROR on line 1 of a well-formed reply")
            << replyBody("4.3").replace("<version>", "ERROR<version>");
        QTest::newRow("three lines") << QByteArray("<version>4.3</version>\r\n<url>x</url>\r\n\r\n");
        QTest::newRow("result 2") << replyBody("4.3", "2");
        QTest::newRow("result empty") << replyBody("4.3", "");
        QTest::newRow("result tag in capitals") << replyBody("4.3").replace("result>", "RESULT>");
        QTest::newRow("empty reply") << QByteArray();
    }

    void invalidReply()
    {
        QFETCH(QByteArray, reply);
        serveBoth(reply);
        const auto results = runCheck(checkInputs(u"4.2"_qs));
        QCOMPARE(results->checkErrors(), u"INVALIDSERVERRESPONSE"_qs);
        QVERIFY(!results->showNewVersion());
        QVERIFY(results->currentVersion().isEmpty());
        verifyNothingStoredButInstalledVersion(u"4.2"_qs);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void dailyLimit_data()
    {
        QTest::addColumn<bool>("today");
        QTest::addColumn<QString>("storedCount");
        QTest::addColumn<bool>("request");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<QString>("countAfter");
        QTest::newRow("first start of a new day") << false << u"9"_qs << true << true << u"1"_qs;
        QTest::newRow("second start") << true << u"1"_qs << true << true << u"2"_qs;
        QTest::newRow("fourth start") << true << u"3"_qs << true << true << u"4"_qs;
        QTest::newRow("fifth start: request, no notice") << true << u"4"_qs << true << false << u"5"_qs;
        QTest::newRow("sixth start: no request") << true << u"5"_qs << false << false << u"5"_qs;
        QTest::newRow("later start: no request") << true << u"17"_qs << false << false << u"17"_qs;
        QTest::newRow("count not decimal reads 0") << true << u"5x"_qs << true << true << u"1"_qs;
        QTest::newRow("hexadecimal count reads 0") << true << u"0x5"_qs << true << true << u"1"_qs;
    }

    void dailyLimit()
    {
        QFETCH(bool, today);
        QFETCH(QString, storedCount);
        QFETCH(bool, request);
        QFETCH(bool, notice);
        QFETCH(QString, countAfter);
        setStored(u"LastUpdateCheck"_qs, today ? todayShortDate() : u"1/1/99"_qs);
        setStored(u"LastUpdateCheckCount"_qs, storedCount);
        serveBoth(replyBody("4.3"));
        const auto results = runCheck(checkInputs(u"4.2"_qs));
        QCOMPARE(m_server->requests().size(), request ? 1 : 0);
        QCOMPARE(results->showNewVersion(), notice);
        QCOMPARE(storedValue(u"LastUpdateCheckCount"_qs), countAfter);
        QVERIFY(!results->checkFailed());
    }

    void testShowUpdate_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("showUpdate");
        QTest::addColumn<bool>("request");
        QTest::addColumn<bool>("notice");
        QTest::newRow("0: no request at all") << u"0"_qs << 0 << false << false;
        QTest::newRow("1: notify") << u"1"_qs << 1 << true << true;
        QTest::newRow("2 by hand: request, never a notice") << u"2"_qs << 2 << true << false;
        QTest::newRow("not a number reads 1") << u"off"_qs << 1 << true << true;
        QTest::newRow("absent reads 1") << u"<absent>"_qs << 1 << true << true;
    }

    void testShowUpdate()
    {
        QFETCH(QString, stored);
        QFETCH(int, showUpdate);
        QFETCH(bool, request);
        QFETCH(bool, notice);
        if (stored != u"<absent>"_qs)
            setStored(u"ShowUpdate"_qs, stored);
        serveBoth(replyBody("4.3"));
        const auto results = runCheck(checkInputs(u"4.2"_qs));
        QCOMPARE(results->showUpdate(), showUpdate);
        QCOMPARE(m_server->requests().size(), request ? 1 : 0);
        QCOMPARE(results->showNewVersion(), notice);
        QCOMPARE(storedValue(u"CurrentVersion"_qs), request ? u"4.3"_qs : u"<absent>"_qs);
        QCOMPARE(storedValue(u"InstalledVersion"_qs), u"4.2"_qs);
        QCOMPARE(storedValue(u"ShowUpdate"_qs), stored); // the checker never writes it
    }

    void testWriteShowUpdate()
    {
        writeShowUpdate(false);
        QCOMPARE(storedValue(u"ShowUpdate"_qs), u"0"_qs);
        serveBoth(replyBody("4.3"));
        QCOMPARE(runCheck(checkInputs(u"4.2"_qs))->showUpdate(), 0);
        QCOMPARE(m_server->requests().size(), 0);
        writeShowUpdate(true);
        QCOMPARE(storedValue(u"ShowUpdate"_qs), u"1"_qs);
    }

    void machineIdentity_data()
    {
        QTest::addColumn<MachineGuidResult>("guid");
        QTest::addColumn<bool>("processed");
        QTest::addColumn<QString>("errors");
        QTest::newRow("machine without identity") << MachineGuidResult{} << true << QString();
        QTest::newRow("GUID failure stops processing")
            << MachineGuidResult{{}, u"Permission denied"_qs} << false << u"Error: GUID generate problem!"_qs;
    }

    void machineIdentity()
    {
        QFETCH(MachineGuidResult, guid);
        QFETCH(bool, processed);
        QFETCH(QString, errors);
        serveBoth(replyBody("4.3"));
        const auto results = runCheck(checkInputs(u"4.2"_qs, guid));

        QCOMPARE(results->checkErrors(), errors);
        QCOMPARE(results->checkFailed(), !errors.isEmpty());
        QCOMPARE(results->showNewVersion(), processed);
        QCOMPARE(storedValue(u"CurrentVersion"_qs), processed ? u"4.3"_qs : u"<absent>"_qs);
        const QList<ServedRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].tls);
        QCOMPARE(decodedFields(requests[0].body).value(5), u"guid="_qs);
    }

    void failedHttpsIsTheCheckFailure_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("tlsEnabled");
        QTest::addColumn<ServerCertificate>("certificate");
        QTest::newRow("nothing listening") << false << true << ServerCertificate::Trusted;
        QTest::newRow("plain HTTP only") << true << false << ServerCertificate::Trusted;
        QTest::newRow("self-signed certificate") << true << true << ServerCertificate::SelfSigned;
        QTest::newRow("certificate for another host") << true << true << ServerCertificate::OtherHost;
    }

    void failedHttpsIsTheCheckFailure()
    {
        QFETCH(bool, listening);
        QFETCH(bool, tlsEnabled);
        QFETCH(ServerCertificate, certificate);
        // Over plain HTTP the server would name a new version and a message.
        serveBoth(replyBody("4.3", "1", "Install this instead"));
        m_server->setTlsEnabled(tlsEnabled);
        m_server->setCertificate(certificate);
        if (!listening) {
            const QString host = m_server->host();
            m_server.reset();
            qputenv("TESSALY_WEB_HOST", host.toLatin1());
        }
        const auto results = runCheck(checkInputs(u"4.2"_qs));

        const QStringList entries = results->checkErrors().split(u"\r\r"_qs);
        QCOMPARE(entries.size(), 1);
        QVERIFY2(entries[0].startsWith(u"HTTPS Response:\r"_qs) && entries[0].size() > 16, qPrintable(entries[0]));
        QVERIFY(results->checkFailed());
        QVERIFY(!results->showNewVersion());
        QVERIFY(results->currentVersion().isEmpty());
        QMutexLocker lock(&m_boxes->mutex);
        QVERIFY(m_boxes->shown.isEmpty());
        lock.unlock();
        verifyNothingStoredButInstalledVersion(u"4.2"_qs);
        // The machine's identity and the rest of the form never reached the server.
        if (m_server)
            QCOMPARE(m_server->requests().size(), 0);
    }

    void importantMessage_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("message") << replyBody("4.2", "1", " Please update now ")
                                 << QStringList{u" Please update now "_qs};
        QTest::newRow("blanks only") << replyBody("4.2", "1", "   ") << QStringList{};
        QTest::newRow("empty") << replyBody("4.2", "1", "") << QStringList{};
        QTest::newRow("on line 7 it is ignored")
            << replyBody("4.2", "1", "").replace("<important>", "\r\n<important>x") << QStringList{};
        QTest::newRow("invalid reply shows nothing") << replyBody("4.2", "9", "Please update now") << QStringList{};
    }

    void importantMessage()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, shown);
        serveBoth(reply);
        runCheck(checkInputs(u"4.2"_qs));
        QMutexLocker lock(&m_boxes->mutex);
        QCOMPARE(m_boxes->shown, shown);
    }

    /* A stop ends the wait for a server that never answers: the check ends as after a failed request. */
    void stopEndsTheCheck()
    {
        m_server->setReply(true, CannedReply{.neverAnswer = true});
        std::stop_source stop;
        CheckResults results;
        std::thread checker([&] { results = UpdateCheck(checkInputs(u"4.2"_qs)).run(stop.get_token()); });
        const bool asked = QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 20000);
        stop.request_stop();
        checker.join();
        QVERIFY(asked);
        QCOMPARE(results.checkErrors(), u"HTTPS Response:\rThe request was stopped"_qs);
        QVERIFY(!results.showNewVersion());
        verifyNothingStoredButInstalledVersion(u"4.2"_qs);
    }

    void recordedErrors_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("errors");
        QTest::newRow("one") << QStringList{u"a"_qs} << u"a"_qs;
        QTest::newRow("two joined by two CR") << QStringList{u"a"_qs, u"b"_qs} << u"a\r\rb"_qs;
        QTest::newRow("blank is not recorded") << QStringList{u" \t "_qs, u""_qs} << QString();
        QTest::newRow("kept untrimmed") << QStringList{u" x "_qs, u" "_qs, u"y"_qs} << u" x \r\ry"_qs;
    }

    void recordedErrors()
    {
        QFETCH(QStringList, messages);
        QFETCH(QString, errors);
        CheckResults results;
        for (const QString &message : messages)
            results.recordCheckError(message);
        QCOMPARE(results.checkErrors(), errors);
        QCOMPARE(results.checkFailed(), !errors.isEmpty());
        results.clearCheckErrors();
        QVERIFY(!results.checkFailed());
        QVERIFY(results.checkErrors().isEmpty());
    }

    void scrambledUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("download page") << u"https://www.orvanta.example/download/tessaly.exe"_qs;
        QTest::newRow("letters beyond ASCII") << u"http://bücher.example/ä?x=1&y=€"_qs;
        QTest::newRow("long") << u"http://x.example/"_qs.repeated(200);
    }

    void scrambledUrl()
    {
        QFETCH(QString, url);
        const QString scrambled = scrambleUrl(url);
        QCOMPARE(scrambled.size(), 2 * url.toUtf8().size());
        QCOMPARE(scrambled, scrambled.toUpper());
        if (!url.isEmpty())
            QVERIFY(!scrambled.contains(QString::fromLatin1(url.toUtf8().toHex().toUpper().left(8))));
        QCOMPARE(unscrambleUrl(scrambled), url);
    }

    void storedUrlIsScrambled()
    {
        serveBoth(replyBody("4.2"));
        const auto results = runCheck(checkInputs(u"4.2"_qs));
        QCOMPARE(results->currentUrl(), u"https://www.orvanta.example/download/"_qs);
        QCOMPARE(storedValue(u"CurrentURL"_qs), scrambleUrl(results->currentUrl()));
        QVERIFY(!storedValue(u"CurrentURL"_qs).contains(u"orvanta"_qs, Qt::CaseInsensitive));
    }

    void notScrambledText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("odd length") << u"ABC"_qs;
        QTest::newRow("not hexadecimal") << u"ZZ"_qs;
    }

    void notScrambledText()
    {
        QFETCH(QString, text);
        QCOMPARE(unscrambleUrl(text), QString());
    }

    void testDownloadAddress_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("kept");
        QTest::newRow("https") << u"https://www.orvanta.example/download/"_qs << true;
        QTest::newRow("http") << u"http://www.orvanta.example/download/"_qs << true;
        QTest::newRow("scheme in capitals") << u"HTTPS://www.orvanta.example/"_qs << true;
        QTest::newRow("file") << u"file:///usr/bin/xterm"_qs << false;
        QTest::newRow("javascript") << u"javascript:alert(1)"_qs << false;
        QTest::newRow("ftp") << u"ftp://www.orvanta.example/tessaly.exe"_qs << false;
        QTest::newRow("no scheme") << u"/usr/bin/xterm"_qs << false;
        QTest::newRow("empty") << QString() << false;
    }

    void testDownloadAddress()
    {
        QFETCH(QString, url);
        QFETCH(bool, kept);
        QCOMPARE(downloadAddress(url), kept ? url : homePage());
        QCOMPARE(homePage(), u"http://"_qs + m_server->host() + u"/"_qs);
    }

    void storeThatCannotOpen()
    {
        // A file where the store's folder belongs: the store cannot be written.
        const QString folder = m_config.filePath(u"ORVANTA"_qs);
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        serveBoth(replyBody("4.3"));
        const auto results = runCheck(checkInputs(u"4.2"_qs));
        QVERIFY(QFile::remove(folder));
        QCOMPARE(results->checkErrors(), u"Error: Registry open problem!"_qs);
        QCOMPARE(results->showUpdate(), 1);
        QVERIFY(!results->showNewVersion());
        QCOMPARE(m_server->requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
