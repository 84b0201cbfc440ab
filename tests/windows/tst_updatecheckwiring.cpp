// The main window's update check: the timer that starts it, the request to a local server, the
// new-version notice and the server's message, and the "Update Notifications" switch
// (offscreen platform, a private settings store).

#include "windowtesting.h"

#include "testserver.h"
#include "windows/newversionnotice.h"

#include "core/startup.h"
#include "i18n/translate.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QTimer>

using namespace WindowTesting;

namespace {

QSettings updateSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ORVANTA"),
                     QStringLiteral("Tessaly"));
}

/* A fresh store and a local server answering the update check with reply. */
void serveUpdateReply(TestWebServer &server, const QByteArray &reply)
{
    updateSettings().clear();
    CannedReply canned;
    canned.body = reply;
    server.setReply(true, canned);
    qputenv("TESSALY_WEB_HOST", server.host().toUtf8());
}

/* Lets the window's own timer start the check, and waits until the window has its results. */
bool waitForUpdateCheck(const MainWindow &form)
{
    return QTest::qWaitFor([&form] { return control<QAction>(form, "updateNotificationsAction")->isEnabled(); }, 30000);
}

} // namespace

class TestUpdateCheckWiring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void checkWaitsForTheTimer();
    void updateCheck_data();
    void updateCheck();
    void updateNotificationsSwitch();
    void windowClosedWhileTheCheckWaits();

private:
    // The settings store of this program alone, so that tests running beside it neither see
    // nor change what these cases write; the folder is fixed by the first use of QSettings.
    QTemporaryDir m_config;
    // What the cases change, as the program found it; cleanup() and cleanupTestCase() put it back.
    const SavedVariable m_webHost{"TESSALY_WEB_HOST"};
    const SavedVariable m_configHome{"XDG_CONFIG_HOME"};
};

void TestUpdateCheckWiring::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    updateSettings().setValue(QStringLiteral("Settings/ShowUpdate"), QStringLiteral("1"));
    QVERIFY(QFileInfo::exists(m_config.filePath(QStringLiteral("ORVANTA/Tessaly.conf"))));
    TestWebServer::trustTestAuthority();
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
}

void TestUpdateCheckWiring::cleanupTestCase()
{
    m_configHome.restore();
}

void TestUpdateCheckWiring::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestUpdateCheckWiring::cleanup()
{
    m_webHost.restore();
    clearActiveLanguage();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

void TestUpdateCheckWiring::checkWaitsForTheTimer()
{
    TestWebServer server;
    serveUpdateReply(server, "<version>9.9</version>\n<url></url>\n\n<result>1</result>\n");
    MainWindow form;
    // Until the check has run, "Update Notifications" waits switched on but disabled.
    QVERIFY(!control<QAction>(form, "updateNotificationsAction")->isEnabled());
    QVERIFY(control<QAction>(form, "updateNotificationsAction")->isCheckable()
            && control<QAction>(form, "updateNotificationsAction")->isChecked());
    QVERIFY(control<QTimer>(form, "updateCheckTimer")->isActive());
    QVERIFY(control<QTimer>(form, "updateCheckTimer")->isSingleShot());
    QCOMPARE(control<QTimer>(form, "updateCheckTimer")->interval(), 1000);
    QVERIFY(server.requests().isEmpty()); // the window opens without waiting for the network
    QVERIFY(waitForUpdateCheck(form));
    QCOMPARE(server.requests().size(), 1);
}

void TestUpdateCheckWiring::updateCheck_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("important");
    const QByteArray tail = "\n\n<result>1</result>\n";
    QTest::newRow("same version") << "<version>" + appIdentity().appVersion.toUtf8() + "</version>\n<url></url>" + tail
                                  << false << QString();
    QTest::newRow("new version") << "<version>9.9</version>\n<url>https://127.0.0.1/get</url>" + tail << true
                                 << QString();
    QTest::newRow("important message") << "<version>9.9</version>\n<url></url>" + tail
                                              + "\n<important>Please <b>update</b></important>\n"
                                       << true << QStringLiteral("Please <b>update</b>");
    QTest::newRow("server error") << QByteArray("ERROR: busy") << false << QString();
}

void TestUpdateCheckWiring::updateCheck()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, notice);
    QFETCH(QString, important);
    TestWebServer server;
    serveUpdateReply(server, reply);

    MainWindow form;
    QVERIFY(waitForUpdateCheck(form));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(server.requests().constFirst().tls);
    QVERIFY(server.requests().constFirst().body.startsWith("cmd=check&appname="));
    QVERIFY(control<QAction>(form, "updateNotificationsAction")->isEnabled()
            && control<QAction>(form, "updateNotificationsAction")->isChecked());
    NewVersionNotice *shown = form.findChild<NewVersionNotice *>();
    QCOMPARE(shown != nullptr, notice);

    // The server's message is shown by the window, as a warning.
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), important.isEmpty() ? 0 : 1);
    if (!important.isEmpty()) {
        QCOMPARE(messages.constFirst().caption, QStringLiteral("IMPORTANT"));
        QCOMPARE(messages.constFirst().text, important);
        QCOMPARE(messages.constFirst().icon, MessageIcon::Warning);
    }
}

void TestUpdateCheckWiring::updateNotificationsSwitch()
{
    TestWebServer server;
    serveUpdateReply(server, QByteArray());
    updateSettings().setValue(QStringLiteral("Settings/ShowUpdate"), QStringLiteral("0"));

    MainWindow form;
    QVERIFY(waitForUpdateCheck(form));
    QVERIFY(server.requests().isEmpty()); // switched off: no request at all
    QVERIFY(control<QAction>(form, "updateNotificationsAction")->isEnabled());
    QVERIFY(!control<QAction>(form, "updateNotificationsAction")->isChecked());

    control<QAction>(form, "updateNotificationsAction")->trigger();
    QVERIFY(control<QAction>(form, "updateNotificationsAction")->isChecked());
    QCOMPARE(updateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("1"));
    control<QAction>(form, "updateNotificationsAction")->trigger();
    QVERIFY(!control<QAction>(form, "updateNotificationsAction")->isChecked());
    QCOMPARE(updateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("0"));
}

/*
 * The window goes while its check waits for a server that never answers: the check's request
 * ends with the window, and nothing of the check is left running or shows anything later.
 */
void TestUpdateCheckWiring::windowClosedWhileTheCheckWaits()
{
    TestWebServer server;
    serveUpdateReply(server, QByteArray());
    server.setReply(true, CannedReply{.neverAnswer = true});
    auto form = std::make_unique<MainWindow>();
    form->show();
    QVERIFY(QTest::qWaitFor([&server] { return server.requests().size() == 1; }, 20000));
    QCOMPARE(server.openConnections(), 1);

    form.reset();
    // The check's own time-out is ten seconds; its connection closes long before.
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 5000);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<NewVersionNotice *>(window), "a notice outlived its window");
}

QTEST_MAIN(TestUpdateCheckWiring)
#include "tst_updatecheckwiring.moc"
