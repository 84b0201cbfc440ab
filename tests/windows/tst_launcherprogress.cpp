// The launcher-entry progress of one export, as another client of a real D-Bus session bus
// receives it. Run under dbus-run-session (see CMakeLists.txt).

#include "windowtesting.h"

#include "core/startup.h"
#include "platform/launcherprogress.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

using namespace WindowTesting;

class LauncherListener : public QObject
{
    Q_OBJECT
public:
    struct Update {
        QString path;
        QString uri;
        double progress = -1;
        bool visible = false;
        bool hasBoth = false;
    };
    QList<Update> updates;

public Q_SLOTS:
    void onUpdate(const QDBusMessage &message)
    {
        Update update;
        update.path = message.path();
        const QVariantList args = message.arguments();
        if (args.size() == 2) {
            update.uri = args.at(0).toString();
            const QVariantMap properties = qdbus_cast<QVariantMap>(args.at(1));
            update.progress = properties.value(QStringLiteral("progress"), -1.0).toDouble();
            update.visible = properties.value(QStringLiteral("progress-visible")).toBool();
            update.hasBoth
                = properties.size() == 2
                  && properties.value(QStringLiteral("progress")).metaType() == QMetaType::fromType<double>();
        }
        updates.append(update);
    }
};

class TestLauncherProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QFAIL("no session bus: run this test under dbus-run-session");
        runStartup(QCoreApplication::applicationFilePath());
        Dialogs::setAnsweringMode(true);
    }

    void progressOfOneExport()
    {
        // A second, separate connection to the bus listens as a dock would.
        QDBusConnection listenerBus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
        QVERIFY(listenerBus.isConnected());
        LauncherListener listener;
        QVERIFY(listenerBus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                    QStringLiteral("Update"), &listener, SLOT(onUpdate(QDBusMessage))));

        QTemporaryDir dir;
        MainWindow form;
        form.loadFile(writeFile(dir.filePath(QStringLiteral("ten.vcf")), makeCards(10, QStringLiteral("Dock"))));
        const QString target = dir.filePath(QStringLiteral("ten.csv"));
        answerSave(target);
        form.exportDefaultCsv();
        QVERIFY(waitForJobs(form));
        QCOMPARE(Dialogs::takeShownMessages().size(), 1);
        QVERIFY(QFileInfo::exists(target));

        const QList<int> expected{0, 10, 20, 26, 32, 38, 44, 50, 56, 62, 68, 74, 80, 80, 80, 100, 0};
        QTRY_COMPARE_WITH_TIMEOUT(listener.updates.size(), expected.size(), 10000);
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const LauncherListener::Update &update = listener.updates.at(i);
            QCOMPARE(update.path, launcherObjectPath());
            QCOMPARE(update.uri, QStringLiteral("application://tessaly.desktop"));
            QVERIFY(update.hasBoth);
            QCOMPARE(qRound(update.progress * 100), expected.at(i));
            QCOMPARE(update.visible, expected.at(i) != 0);
        }

        // Clear hides the progress too.
        form.clearLoaded();
        QTRY_COMPARE(listener.updates.size(), expected.size() + 1);
        QCOMPARE(listener.updates.constLast().visible, false);
        QCOMPARE(listener.updates.constLast().progress, 0.0);
        QDBusConnection::disconnectFromBus(QStringLiteral("dock"));
    }
};

QTEST_MAIN(TestLauncherProgress)
#include "tst_launcherprogress.moc"
