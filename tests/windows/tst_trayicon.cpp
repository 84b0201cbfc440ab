// The tray icon on a real X display (Xvfb) with a notification area (trayer); run through
// with-tray.sh. The offscreen tests cover the desktop without one.

#include "windowtesting.h"

#include "core/startup.h"

#include <QMenu>
#include <QSystemTrayIcon>

class TestTrayIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        runStartup(QCoreApplication::applicationFilePath());
        Dialogs::setAnsweringMode(true);
    }

    void iconAppearsInTheTray()
    {
        // The panel may still be starting.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);
        MainWindow form;
        form.show();
        QVERIFY(WindowTesting::control<QSystemTrayIcon>(form, "trayIcon") != nullptr);
        QVERIFY(WindowTesting::control<QSystemTrayIcon>(form, "trayIcon")->isVisible());
        QCOMPARE(WindowTesting::control<QSystemTrayIcon>(form, "trayIcon")->contextMenu(),
                 WindowTesting::control<QMenu>(form, "trayMenu"));
        QCOMPARE(WindowTesting::control<QSystemTrayIcon>(form, "trayIcon")->toolTip(), appIdentity().appCaption);
        // Embedded in the panel, the icon has a place on the screen.
        QTRY_VERIFY_WITH_TIMEOUT(!WindowTesting::control<QSystemTrayIcon>(form, "trayIcon")->geometry().isEmpty(),
                                 10000);

        // A click on the icon brings a minimised window back.
        form.showMinimized();
        QTRY_VERIFY(form.isMinimized());
        Q_EMIT WindowTesting::control<QSystemTrayIcon>(form, "trayIcon")->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(!form.isMinimized());
        QVERIFY(form.isVisible());
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
