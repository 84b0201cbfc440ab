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
        RunStartup(QCoreApplication::applicationFilePath());
        Dialogs::SetAnsweringMode(true);
    }

    void iconAppearsInTheTray()
    {
        // The panel may still be starting.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);
        TAppForm form;
        form.show();
        QVERIFY(form.TrayIcon1 != nullptr);
        QVERIFY(form.TrayIcon1->isVisible());
        QCOMPARE(form.TrayIcon1->contextMenu(), form.PopupMenu1);
        QCOMPARE(form.TrayIcon1->toolTip(), Identity().AppCaption);
        // Embedded in the panel, the icon has a place on the screen.
        QTRY_VERIFY_WITH_TIMEOUT(!form.TrayIcon1->geometry().isEmpty(), 10000);

        // A click on the icon brings a minimised window back.
        form.showMinimized();
        QTRY_VERIFY(form.isMinimized());
        Q_EMIT form.TrayIcon1->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(!form.isMinimized());
        QVERIFY(form.isVisible());
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
