// Closing the window while an export runs, on a real X display (Xvfb) whose desktop has a
// notification area (trayer); run through with-tray.sh. tst_desktop covers the desktop without one.

#include "windowtesting.h"

#include "core/startup.h"
#include "i18n/translate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace WindowTesting;

namespace {

/* The texts of the notification the tray icon shows now (Qt's balloon beside the icon), or none. */
QStringList notificationTexts()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || qstrcmp(widget->metaObject()->className(), "QBalloonTip") != 0)
            continue;
        QStringList texts;
        for (const QLabel *label : widget->findChildren<QLabel *>()) {
            if (!label->text().isEmpty())
                texts.append(label->text());
        }
        return texts;
    }
    return {};
}

} // namespace

class TestDesktopTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        runStartup(QCoreApplication::applicationFilePath());
        clearActiveLanguage();
        Dialogs::setAnsweringMode(true);
        // The panel may still be starting.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);
    }

    void closeWhenWrittenGoesToTheTray()
    {
        MainWindow form;
        form.setNotificationTime(1500);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(control<QSystemTrayIcon>(form, "trayIcon") && control<QSystemTrayIcon>(form, "trayIcon")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!control<QSystemTrayIcon>(form, "trayIcon")->geometry().isEmpty(), 10000);
        form.loadFile(writeFile(m_dir.filePath(u"tray.vcf"_qs), makeCards(60000, u"Tray"_qs)));
        const QString target = m_dir.filePath(u"tray.csv"_qs);

        // The user closes the window as the job builds its rows and chooses to close when written.
        bool closed = false;
        bool hiddenAtOnce = false;
        QStringList tooltips;
        connect(&form, &MainWindow::progressShown, &form, [&](int value) {
            if (closed) {
                if (value > 0)
                    tooltips.append(control<QSystemTrayIcon>(form, "trayIcon")->toolTip());
                return;
            }
            if (value < 20)
                return;
            closed = true;
            Dialogs::setNextDialogAnswer(QMessageBox::Yes);
            form.close();
            hiddenAtOnce = !form.isVisible() && control<QSystemTrayIcon>(form, "trayIcon")->isVisible()
                           && form.closesWhenWritten();
        });
        // Watch for the notification while the program runs on without its window.
        QStringList notification;
        QElapsedTimer sinceNotification;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &form, [&] {
            if (notification.isEmpty() && !(notification = notificationTexts()).isEmpty())
                sinceNotification.start();
        });
        watch.start(20);
        QTimer safety;
        safety.setSingleShot(true);
        connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        safety.start(120000);

        answerSave(target);
        form.exportDefaultCsv();
        QCOMPARE(QApplication::exec(), 0); // the program ended by itself
        watch.stop();

        QVERIFY(closed);
        QVERIFY(hiddenAtOnce);
        QCOMPARE(form.runningJobs(), 0);
        QCOMPARE(readFile(target).count("\"Tray "), 60000);
        // The progress in the icon's tooltip while the file was written.
        QVERIFY(!tooltips.isEmpty());
        QCOMPARE(tooltips.constLast(), appIdentity().appCaption + u"\nExporting: 100%"_qs);
        QVERIFY2(tooltips.constFirst().startsWith(appIdentity().appCaption + u"\nExporting: "_qs),
                 qPrintable(tooltips.constFirst()));
        // The result as a notification, for the time given, and no message box.
        QCOMPARE(notification,
                 (QStringList{u"SUCCESS"_qs, u"Process completed!\n\nFilename: "_qs + target
                                                 + u"\n\n60000 rows from 60000 contacts (0 duplicates dropped)"_qs}));
        QVERIFY2(sinceNotification.elapsed() >= 1000, qPrintable(QString::number(sinceNotification.elapsed())));
        QVERIFY(Dialogs::takeShownMessages().isEmpty());
        QCOMPARE(Dialogs::takeAskedDialogs().size(), 1);
        QVERIFY(!form.isVisible());
        QVERIFY(!control<QSystemTrayIcon>(form, "trayIcon")->isVisible());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestDesktopTray)
#include "tst_desktoptray.moc"
