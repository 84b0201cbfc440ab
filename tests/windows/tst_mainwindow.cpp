// The main window driven as a user drives it: loading, Clear, drag and drop, the command
// line, the export menu's presets and whole exports on real files (offscreen platform).

#include "windowtesting.h"

#include "windows/newversionnotice.h"
#include "testserver.h"

#include "core/startup.h"
#include "i18n/languagechoice.h"
#include "i18n/translate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace WindowTesting;

namespace {

const QString kLoadCaption = QStringLiteral("Load vCards from VCF file...");

QList<QWidget *> ExportControls(const TAppForm &form)
{
    return {form.BitBtn2, form.RadioButton1, form.RadioButton2, form.RadioButton3,
            form.CheckBox1, form.CheckBox2, form.Label1, form.Label2};
}

bool AllEnabled(const QList<QWidget *> &controls, bool enabled)
{
    return std::all_of(controls.begin(), controls.end(), [enabled](QWidget *w) { return w->isEnabled() == enabled; });
}

QStringList Texts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions)
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

/* Closes menu as soon as it has shown, noting where it appeared. */
struct MenuWatch : QObject {
    int shown = 0;
    QPoint lastPos;
    explicit MenuWatch(QMenu *menu)
    {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            ++shown;
            QTimer::singleShot(0, menu, [this, menu] {
                lastPos = menu->pos();
                menu->close();
            });
        });
    }
};

/* Receives the addresses the window asks the desktop to open. */
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void stateAtStart();
    void layoutFitsAndNothingOverlaps();
    void withoutTrayTheWindowRunsOn();
    void longTranslatedCaptionsWiden_data();
    void longTranslatedCaptionsWiden();

    void loadOneThenTwo();
    void loadWarnings_data();
    void loadWarnings();
    void typedMissingFileLoadsNothing();
    void clearKeepsOptions_data();
    void clearKeepsOptions();
    void dropLoadsOnlyVcfFiles();
    void commandLine_data();
    void commandLine();

    void exportPresets_data();
    void exportPresets();
    void xlsAfterYahooKeepsFlavour();
    void wholeExportToCsv();
    void noDataFound();
    void exportButtonDuringJob();
    void secondExportWhileFirstWrites();
    void clearAndLoadRightAfterTheStart();
    void closingWhileJobRuns();
    void clearLoadAndExportWhileAWorkbookIsWritten();
    void outputFolderRemovedDuringJob_data();
    void outputFolderRemovedDuringJob();
    void languageFileRemovedAfterStart();

    void menuUnderButtonGuard_data();
    void menuUnderButtonGuard();
    void fileMenuExportBeepsWhenDisabled();
    void helpAddress();

    void messageBoxShowsPlainText();
    void saveDialogSettings();

    void updateCheck_data();
    void updateCheck();
    void updateNotificationsSwitch();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestWebServer::TrustTestAuthority();
    RunStartup(QCoreApplication::applicationFilePath());
    ClearActiveLanguage();
}

void TestMainWindow::init()
{
    Loaded().ClearNow();
    Dialogs::SetAnsweringMode(true);
}

void TestMainWindow::cleanup()
{
    ClearActiveLanguage();
    Dialogs::SetAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

// ---- start ----------------------------------------------------------------------------------

void TestMainWindow::stateAtStart()
{
    TAppForm form;
    QVERIFY(AllEnabled(ExportControls(form), false));
    QVERIFY(form.BitBtn1->isEnabled() && form.Button1->isEnabled() && form.Button2->isEnabled());
    QVERIFY(!form.RadioButton1->isChecked() && form.RadioButton2->isChecked() && !form.RadioButton3->isChecked());
    QVERIFY(form.CheckBox1->isChecked() && form.CheckBox2->isChecked());
    QVERIFY(!form.UpdateNotifications1->isEnabled());
    QVERIFY(form.UpdateNotifications1->isCheckable() && form.UpdateNotifications1->isChecked());
    QCOMPARE(form.BitBtn1->text(), kLoadCaption);
    QCOMPARE(form.BitBtn2->text(), QStringLiteral("Export to File..."));
    QCOMPARE(form.Button1->text(), QStringLiteral("Send Feedback..."));
    QCOMPARE(form.Button2->text(), QStringLiteral("About..."));
    QCOMPARE(form.Label1->text(), QStringLiteral("Encoding:"));
    QCOMPARE(form.Label2->text(), QStringLiteral("Options:"));
    QCOMPARE(form.CheckBox1->toolTip(), QStringLiteral("This is required for importing in Gmail and Outlook."));
    QCOMPARE(form.ProgressBar1->value(), 0);
    QCOMPARE(form.ProgressBar1->maximum(), 100);
    QCOMPARE(form.windowTitle(), Identity().AppCaption);
    QCOMPARE(form.ExportFlavor(), QString());

    // Fixed size, no maximise.
    QCOMPARE(form.size(), QSize(497, 308));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(form.acceptDrops());

    // Menus in order, with their icons.
    QCOMPARE(form.FileMenu->title(), QStringLiteral("File"));
    QCOMPARE(Texts(form.FileMenu->actions()),
             QStringList({QStringLiteral("Clear"), kLoadCaption, QStringLiteral("Export to File..."),
                          QStringLiteral("-"), QStringLiteral("Exit")}));
    QCOMPARE(form.HelpMenu->title(), QStringLiteral("Help"));
    QCOMPARE(Texts(form.HelpMenu->actions()),
             QStringList({QStringLiteral("Online Help"), QStringLiteral("-"), QStringLiteral("Update Notifications"),
                          QStringLiteral("-"), QStringLiteral("Language..."), QStringLiteral("Send Feedback..."),
                          QStringLiteral("About")}));
    QCOMPARE(form.Action2->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(Texts(form.PopupMenu1->actions()),
             QStringList({QStringLiteral("Online Help"), QStringLiteral("-"), QStringLiteral("Language..."),
                          QStringLiteral("Send Feedback..."), QStringLiteral("About"), QStringLiteral("-"),
                          QStringLiteral("Exit")}));
    QCOMPARE(Texts(form.PopupMenu3->actions()), QStringList({QStringLiteral("Clear")}));
    QCOMPARE(Texts(form.PopupMenu2->actions()),
             QStringList({QStringLiteral("Comma-Separated Values File (CSV)..."), QStringLiteral("Excel File (XLS)..."),
                          QStringLiteral("Text File (TXT)...")}));
    QCOMPARE(form.PopupMenu2->actions().constFirst()->menu(), form.CommaseparatedvaluesCSV1);
    QCOMPARE(Texts(form.CommaseparatedvaluesCSV1->actions()),
             QStringList({QStringLiteral("Default CSV Format"), QStringLiteral("Excel CSV Format"),
                          QStringLiteral("Google CSV Format"), QStringLiteral("Outlook CSV Format"),
                          QStringLiteral("Yahoo CSV Format")}));
    for (QMenu *menu : {form.FileMenu, form.HelpMenu, form.PopupMenu1, form.PopupMenu2, form.CommaseparatedvaluesCSV1}) {
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator() && action != form.UpdateNotifications1)
                QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        }
    }
    for (QPushButton *button : {static_cast<QPushButton *>(form.BitBtn1), static_cast<QPushButton *>(form.BitBtn2),
                                form.Button1, form.Button2})
        QVERIFY2(!button->icon().pixmap(32).isNull(), qPrintable(button->text()));

    QVERIFY(form.TimerChecker->isActive());
    QCOMPARE(form.TimerChecker->interval(), 1000);
}

void TestMainWindow::layoutFitsAndNothingOverlaps()
{
    TAppForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The longest load caption the window shows in ordinary use.
    Loaded().LoadedFileCount = 99;
    form.Ekle(WriteFile(path(QStringLiteral("fit.vcf")), Cards(1, QStringLiteral("Fit"))));

    QCOMPARE(form.Label1->width(), form.Label2->width());
    QCOMPARE(form.RadioButton1->mapTo(&form, QPoint()).x(), form.CheckBox2->mapTo(&form, QPoint()).x());
    const QList<QWidget *> controls{form.ActionMainMenuBar1, form.BitBtn1, form.Label1, form.RadioButton1,
                                    form.RadioButton2, form.RadioButton3, form.Label2, form.CheckBox2,
                                    form.CheckBox1, form.BitBtn2, form.Button1, form.Button2, form.ProgressBar1};
    QList<QRect> rects;
    for (QWidget *control : controls) {
        const QRect rect(control->mapTo(&form, QPoint()), control->size());
        QVERIFY2(form.rect().contains(rect), control->metaObject()->className());
        for (qsizetype i = 0; i < rects.size(); ++i)
            QVERIFY2(!rects.at(i).intersects(rect), qPrintable(QStringLiteral("%1 overlaps control %2")
                                                                   .arg(QLatin1String(control->metaObject()->className()))
                                                                   .arg(i)));
        rects.append(rect);
        // Captions are never cut.
        QVERIFY2(control->width() >= control->sizeHint().width() || control == form.ProgressBar1
                     || control == form.ActionMainMenuBar1,
                 qPrintable(control->objectName() + QString::number(control->width())));
    }
    QCOMPARE(form.ActionMainMenuBar1->height(), 25);
    QCOMPARE(form.BitBtn1->height(), 50);
    QCOMPARE(form.BitBtn2->height(), 50);
    QCOMPARE(form.Panel3->height(), 40);
    QCOMPARE(form.ProgressBar1->height(), 17);
    QCOMPARE(form.Button1->height(), 50);
    for (QPushButton *button : {static_cast<QPushButton *>(form.BitBtn1), static_cast<QPushButton *>(form.BitBtn2)}) {
        const int needed = 10 + 32 + button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(needed < button->width(), qPrintable(button->text()));
    }
}

void TestMainWindow::withoutTrayTheWindowRunsOn()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a notification area");
    TAppForm form;
    QCOMPARE(form.TrayIcon1, nullptr);
    QVERIFY(form.PopupMenu1 != nullptr); // the menu is still there for a tray that comes later
    form.show();
    form.Ekle(WriteFile(path(QStringLiteral("tray.vcf")), Cards(1, QStringLiteral("Tray"))));
    QCOMPARE(form.BitBtn1->text(), kLoadCaption + QStringLiteral(" [1]"));
}

void TestMainWindow::longTranslatedCaptionsWiden_data()
{
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("sort");
    QTest::newRow("German") << QStringLiteral("Kopfzeile") << QStringLiteral("Sortieren");
    QTest::newRow("long Headers") << QStringLiteral("Kopfzeilen der Spalten schreiben") << QStringLiteral("Sortieren");
}

void TestMainWindow::longTranslatedCaptionsWiden()
{
    QFETCH(QString, headers);
    QFETCH(QString, sort);
    int englishWidth = 0;
    {
        TAppForm english;
        englishWidth = english.CheckBox1->width();
    }
    SetActiveLanguage(path(QStringLiteral("Test.lang.txt")), QStringLiteral("Test"),
                      {QStringLiteral("{Headers}") + headers, QStringLiteral("{Sort}") + sort,
                       QStringLiteral("{Encoding:}Codierung:"), QStringLiteral("{Options:}Optionen der Ausgabe:")});
    TAppForm form;
    QCOMPARE(form.CheckBox1->text(), headers);
    QCOMPARE(form.CheckBox2->text(), sort);
    QCOMPARE(form.Label2->text(), QStringLiteral("Optionen der Ausgabe:"));
    QCOMPARE(form.RadioButton1->text(), QStringLiteral("ANSI")); // never translated
    QCOMPARE(form.windowTitle(), Identity().AppCaption);
    for (QCheckBox *box : {form.CheckBox1, form.CheckBox2})
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(box->text()) + 30);
    if (headers.size() > 10)
        QVERIFY(form.CheckBox1->width() > englishWidth);
    // The wider label sets both widths.
    QCOMPARE(form.Label1->width(), form.Label2->width());
    QVERIFY(form.Label1->width() >= form.Label2->fontMetrics().horizontalAdvance(form.Label2->text()));
}

// ---- loading ----------------------------------------------------------------------------------

void TestMainWindow::loadOneThenTwo()
{
    TAppForm form;
    const QString first = WriteFile(path(QStringLiteral("first.vcf")), Cards(2, QStringLiteral("First")));
    const QString second = WriteFile(path(QStringLiteral("second.vcf")), Cards(1, QStringLiteral("Second")));

    Dialogs::SetNextOpenFileNames({first});
    form.BitBtn1->click();
    QCOMPARE(form.BitBtn1->text(), kLoadCaption + QStringLiteral(" [1]"));
    QVERIFY(AllEnabled(ExportControls(form), true));
    QCOMPARE(Loaded().LoadedFileCount, 1);

    // The File menu entry does what the button does; files load in the dialog's order.
    Dialogs::SetNextOpenFileNames({second, first});
    form.Action7->trigger();
    QCOMPARE(form.BitBtn1->text(), kLoadCaption + QStringLiteral(" [3]"));
    QCOMPARE(Loaded().LoadedFileCount, 3);
    const QStringList lines = Loaded().LoadedLines.toStringList();
    QCOMPARE(lines.count(QString()), 3); // one empty line after each file
    QVERIFY(lines.indexOf(QStringLiteral("FN:Second 1")) < lines.lastIndexOf(QStringLiteral("FN:First 1")));
    QCOMPARE(lines.count(QStringLiteral("FN:First 2")), 2);
    QCOMPARE(Dialogs::OpenDialogCount(), 2);
    QVERIFY(Dialogs::TakeShownMessages().isEmpty());

    // A cancelled dialog does nothing.
    form.BitBtn1->click();
    QCOMPARE(Loaded().LoadedFileCount, 3);
}

void TestMainWindow::loadWarnings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("textStart");
    QTest::addColumn<int>("count");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("Warning")
                                << QStringLiteral("The file is empty!\r\rFilename: ") << 1;
    QTest::newRow("not UTF-8") << QByteArray("BEGIN:VCARD\r\nFN:J\xf6rg\r\nEND:VCARD\r\n") << QStringLiteral("WARNING")
                               << QStringLiteral("No mapping for the Unicode character exists") << 0;
}

void TestMainWindow::loadWarnings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, caption);
    QFETCH(QString, textStart);
    QFETCH(int, count);
    TAppForm form;
    const QString file = WriteFile(path(QStringLiteral("warn.vcf")), bytes);
    form.Ekle(file);
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Warning);
    QCOMPARE(messages.at(0).caption, caption);
    QVERIFY2(messages.at(0).text.startsWith(textStart), qPrintable(messages.at(0).text));
    QCOMPARE(Loaded().LoadedFileCount, count);
    // Even a failed load shows the count and enables the export controls.
    QCOMPARE(form.BitBtn1->text(), kLoadCaption + QStringLiteral(" [%1]").arg(count));
    QVERIFY(AllEnabled(ExportControls(form), true));
}

void TestMainWindow::typedMissingFileLoadsNothing()
{
    TAppForm form;
    Dialogs::SetNextOpenFileNames({path(QStringLiteral("no such file.vcf"))});
    form.BitBtn1->click();
    QCOMPARE(Loaded().LoadedFileCount, 0);
    QCOMPARE(form.BitBtn1->text(), kLoadCaption);
    QVERIFY(AllEnabled(ExportControls(form), false));
    QVERIFY(Dialogs::TakeShownMessages().isEmpty());
}

void TestMainWindow::clearKeepsOptions_data()
{
    QTest::addColumn<bool>("fromLoadButtonMenu");
    QTest::newRow("File menu") << false;
    QTest::newRow("load button menu") << true;
}

void TestMainWindow::clearKeepsOptions()
{
    QFETCH(bool, fromLoadButtonMenu);
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("clear.vcf")), Cards(3, QStringLiteral("Clear"))));
    form.OutlookCSVFormat1Click(); // dialog cancelled: ANSI, Headers, "outlook" stay
    form.CheckBox1->setChecked(false);
    form.CheckBox2->setChecked(false);
    form.ProgressDegistir(55);

    (fromLoadButtonMenu ? form.Clear1 : form.Action8)->trigger();
    QVERIFY(Loaded().LoadedLines.isEmpty());
    QCOMPARE(Loaded().LoadedFileCount, 0);
    QCOMPARE(form.BitBtn1->text(), kLoadCaption);
    QVERIFY(AllEnabled(ExportControls(form), false));
    QCOMPARE(form.ProgressBar1->value(), 0);
    QVERIFY(form.RadioButton1->isChecked());
    QVERIFY(!form.CheckBox1->isChecked());
    QVERIFY(!form.CheckBox2->isChecked());
    QCOMPARE(form.ExportFlavor(), QStringLiteral("outlook"));

    // Clear with nothing loaded only disables the controls.
    form.EnabledYap();
    form.ClearNow();
    QVERIFY(AllEnabled(ExportControls(form), false));
    QCOMPARE(form.BitBtn1->text(), kLoadCaption);
}

void TestMainWindow::dropLoadsOnlyVcfFiles()
{
    TAppForm form;
    form.show();
    const QString folder = path(QStringLiteral("folder.vcf"));
    QDir().mkpath(folder);
    const QString text = WriteFile(path(QStringLiteral("notes.txt")), Cards(1, QStringLiteral("Text")));
    const QString upper = WriteFile(path(QStringLiteral("UPPER.VCF")), Cards(1, QStringLiteral("Upper")));
    // A path longer than 255 characters is taken whole.
    QString deep = m_dir.path();
    while (deep.size() < 300)
        deep += QStringLiteral("/a-rather-long-folder-name");
    const QString longPath = WriteFile(deep + QStringLiteral("/long.vcf"), Cards(1, QStringLiteral("Long")));
    QVERIFY(longPath.size() > 255);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(text), QUrl::fromLocalFile(upper),
                  QUrl::fromLocalFile(longPath)});
    const QPoint at = form.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);

    QCOMPARE(Loaded().LoadedFileCount, 2);
    const QStringList lines = Loaded().LoadedLines.toStringList();
    QVERIFY(!lines.contains(QStringLiteral("FN:Text 1")));
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) >= 0);
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) < lines.indexOf(QStringLiteral("FN:Long 1")));
    QCOMPARE(form.BitBtn1->text(), kLoadCaption + QStringLiteral(" [2]"));
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("count");
    const QString spaced = path(QStringLiteral("my address book.vcf"));
    const QString plain = path(QStringLiteral("plain.vcf"));
    QTest::newRow("unquoted path with blanks") << spaced.split(u' ') << 1;
    QTest::newRow("quoted path with blanks") << QStringList{spaced} << 1;
    QTest::newRow("two files") << QStringList{plain, plain} << 0;
    QTest::newRow("missing file") << QStringList{path(QStringLiteral("missing.vcf"))} << 0;
    QTest::newRow("a folder") << QStringList{m_dir.path()} << 0;
    QTest::newRow("none") << QStringList() << 0;
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, count);
    WriteFile(path(QStringLiteral("my address book.vcf")), Cards(1, QStringLiteral("Spaced")));
    WriteFile(path(QStringLiteral("plain.vcf")), Cards(1, QStringLiteral("Plain")));
    TAppForm form(arguments);
    QCOMPARE(Loaded().LoadedFileCount, 0); // the file loads when the window shows
    form.show();
    QCOMPARE(Loaded().LoadedFileCount, count);
    QCOMPARE(AllEnabled(ExportControls(form), true), count > 0);
    form.hide();
    form.show(); // only the first showing loads
    QCOMPARE(Loaded().LoadedFileCount, count);
}

// ---- export menu --------------------------------------------------------------------------------

void TestMainWindow::exportPresets_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("encodingBefore"); // 1 ANSI, 2 UTF-8, 3 UTF-16
    QTest::addColumn<bool>("headersBefore");
    QTest::addColumn<int>("encodingAfter");
    QTest::addColumn<bool>("headersAfter");
    QTest::addColumn<QString>("flavourAfter"); // "*" for unchanged ("before")
    QTest::addColumn<int>("filterIndex");

    QTest::newRow("Default, UTF-16") << "DefaultFormat1" << 3 << false << 3 << false << "" << 3;
    QTest::newRow("Excel CSV, ANSI") << "ExcelCSVFormat1" << 1 << false << 3 << false << "" << 3;
    QTest::newRow("Google, ANSI") << "GoogleCSVFormat1" << 1 << false << 1 << true << "google" << 3;
    QTest::newRow("Google, UTF-16") << "GoogleCSVFormat1" << 3 << false << 2 << true << "google" << 3;
    QTest::newRow("Outlook, UTF-8") << "OutlookCSVFormat1" << 2 << false << 1 << true << "outlook" << 3;
    QTest::newRow("Yahoo, UTF-16") << "YahooCSVFormat1" << 3 << true << 2 << true << "yahoo" << 3;
    QTest::newRow("Yahoo, ANSI") << "YahooCSVFormat1" << 1 << false << 1 << true << "yahoo" << 3;
    QTest::newRow("XLS, UTF-16") << "ExcelXLS1" << 3 << false << 3 << false << "*" << 1;
    QTest::newRow("TXT, ANSI") << "extTXT1" << 1 << true << 1 << true << "*" << 4;
}

void TestMainWindow::exportPresets()
{
    QFETCH(QString, entry);
    QFETCH(int, encodingBefore);
    QFETCH(bool, headersBefore);
    QFETCH(int, encodingAfter);
    QFETCH(bool, headersAfter);
    QFETCH(QString, flavourAfter);
    QFETCH(int, filterIndex);

    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("presets.vcf")), Cards(2, QStringLiteral("Preset"))));
    form.OutlookCSVFormat1Click(); // cancelled; leaves the flavour "outlook"
    QRadioButton *radios[] = {form.RadioButton1, form.RadioButton2, form.RadioButton3};
    radios[encodingBefore - 1]->setChecked(true);
    form.CheckBox1->setChecked(headersBefore);
    form.CheckBox2->setChecked(false);
    Dialogs::TakeSaveRequests();

    // The entry is chosen from the menu; no answer is queued, so the save dialog is cancelled.
    const QMap<QString, QAction *> entries{{QStringLiteral("DefaultFormat1"), form.DefaultFormat1},
                                           {QStringLiteral("ExcelCSVFormat1"), form.ExcelCSVFormat1},
                                           {QStringLiteral("GoogleCSVFormat1"), form.GoogleCSVFormat1},
                                           {QStringLiteral("OutlookCSVFormat1"), form.OutlookCSVFormat1},
                                           {QStringLiteral("YahooCSVFormat1"), form.YahooCSVFormat1},
                                           {QStringLiteral("ExcelXLS1"), form.ExcelXLS1},
                                           {QStringLiteral("extTXT1"), form.extTXT1}};
    QAction *action = entries.value(entry);
    QVERIFY(action);
    action->trigger();
    QList<Dialogs::SaveRequest> requests;
    QTRY_VERIFY(!(requests += Dialogs::TakeSaveRequests()).isEmpty());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).filterIndex, filterIndex);

    QVERIFY(radios[encodingAfter - 1]->isChecked());
    QCOMPARE(form.CheckBox1->isChecked(), headersAfter);
    QVERIFY(!form.CheckBox2->isChecked()); // Sort is never changed
    QCOMPARE(form.ExportFlavor(), flavourAfter == QLatin1String("*") ? QStringLiteral("outlook") : flavourAfter);
    QCOMPARE(form.RunningJobs(), 0);
    QVERIFY(Dialogs::TakeShownMessages().isEmpty());
    QTest::qWait(20);
    QCOMPARE(form.RunningJobs(), 0);
}

void TestMainWindow::xlsAfterYahooKeepsFlavour()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("yahoo.vcf")), Cards(2, QStringLiteral("Yahoo"))));
    const QString csv = path(QStringLiteral("yahoo.csv"));
    const QString xls = path(QStringLiteral("after-yahoo.xls"));
    AnswerSave(csv);
    form.YahooCSVFormat1Click();
    QVERIFY(WaitForJobs(form));
    AnswerSave(xls, 1);
    form.ExcelXLS1Click();
    QVERIFY(WaitForJobs(form));
    QCOMPARE(form.ExportFlavor(), QStringLiteral("yahoo"));
    const QList<Dialogs::SaveRequest> requests = Dialogs::TakeSaveRequests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).filterIndex, 3);
    QCOMPARE(requests.at(1).filterIndex, 1);
    QCOMPARE(requests.at(1).initialPath, csv); // the path chosen last time
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(1).caption, QStringLiteral("SUCCESS"));
    // The workbook has the default layout: it starts with the OLE2 signature and is not CSV text.
    QVERIFY(ReadFile(xls).startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")));
}

void TestMainWindow::wholeExportToCsv()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("whole.vcf")), Cards(3, QStringLiteral("Whole"))));
    const QString target = path(QStringLiteral("out dir/whole export.csv"));
    QDir().mkpath(QFileInfo(target).absolutePath());
    AnswerSave(target);
    form.DefaultFormat1->trigger();
    QTRY_COMPARE(form.RunningJobs(), 1);
    QVERIFY(WaitForJobs(form));

    const QList<Dialogs::SaveRequest> requests = Dialogs::TakeSaveRequests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).nameFilters,
             QStringList({QStringLiteral("Excel File (*.xls)"), QStringLiteral("Excel 2007 File (*.xlsx)"),
                          QStringLiteral("CSV File (*.csv)"), QStringLiteral("Text File (*.txt)")}));
    QCOMPARE(requests.at(0).filterIndex, 3);
    QCOMPARE(requests.at(0).defaultSuffix, QStringLiteral("xls"));
    QCOMPARE(requests.at(0).initialPath, QString());

    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Information);
    QCOMPARE(messages.at(0).caption, QStringLiteral("SUCCESS"));
    QCOMPARE(messages.at(0).text, QStringLiteral("Process completed!\r\rFilename: ") + target);
    QCOMPARE(Dialogs::DisplayText(messages.at(0).text), QStringLiteral("Process completed!\n\nFilename: ") + target);

    const QByteArray written = ReadFile(target);
    QVERIFY(written.startsWith("\xef\xbb\xbf\"Name\""));
    QVERIFY(written.contains("\"Whole 1\""));
    QVERIFY(written.contains("\"Whole 3\""));
    QVERIFY(written.endsWith("\r\n"));
    QCOMPARE(form.ProgressBar1->value(), 0);
    QVERIFY(form.BitBtn2->isEnabled());
}

void TestMainWindow::noDataFound()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("nothing.vcf")), QByteArray()));
    Dialogs::TakeShownMessages(); // the empty-file warning
    const QString target = path(QStringLiteral("nothing.csv"));
    AnswerSave(target);
    QList<int> progress;
    connect(&form, &TAppForm::progressShown, &form, [&progress](int value) { progress.append(value); });
    form.DefaultFormat1Click();
    QVERIFY(WaitForJobs(form));
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Warning);
    QCOMPARE(messages.at(0).caption, QStringLiteral("Warning"));
    QCOMPARE(messages.at(0).text, QStringLiteral("No data found!"));
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(progress.constFirst(), 0);
    QCOMPARE(progress.mid(progress.size() - 2), QList<int>({100, 0}));
    QVERIFY(form.BitBtn2->isEnabled());
}

void TestMainWindow::exportButtonDuringJob()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("ten.vcf")), Cards(10, QStringLiteral("Ten"))));
    const QString target = path(QStringLiteral("ten.txt"));
    AnswerSave(target, 4);

    QList<int> progress;
    QList<bool> buttonAtProgress;
    connect(&form, &TAppForm::progressShown, &form, [&](int value) {
        progress.append(value);
        buttonAtProgress.append(form.BitBtn2->isEnabled());
        QCOMPARE(form.ProgressBar1->value(), value);
    });
    bool enabledBeforeWriting = false;
    connect(&form, &TAppForm::exportControlsEnabled, &form, [&] {
        enabledBeforeWriting = form.RunningJobs() == 1 && !QFileInfo::exists(target) && form.BitBtn2->isEnabled();
    });
    int beepsWhileBuilding = -1;
    bool boxSeenWithButtonEnabled = false;
    Dialogs::SetMessageHandler([&](const Dialogs::ShownMessage &) {
        boxSeenWithButtonEnabled = form.BitBtn2->isEnabled() && form.ProgressBar1->value() == 100
                                   && QFileInfo::exists(target) && QApplication::overrideCursor() != nullptr;
    });
    connect(&form, &TAppForm::progressShown, &form, [&](int value) {
        if (value == 10) {
            // The File menu's export entry only beeps while the job builds its rows.
            const int before = Dialogs::BeepCount();
            form.Action3->trigger();
            beepsWhileBuilding = Dialogs::BeepCount() - before;
        }
    });

    form.extTXT1Click();
    QVERIFY(WaitForJobs(form));
    QCOMPARE(progress, QList<int>({0, 10, 20, 26, 32, 38, 44, 50, 56, 62, 68, 74, 80, 80, 80, 100, 0}));
    // Disabled from the job's start until its rows were finished.
    for (qsizetype i = 1; i < 13; ++i)
        QVERIFY2(!buttonAtProgress.at(i), qPrintable(QString::number(progress.at(i))));
    QVERIFY(enabledBeforeWriting);
    QVERIFY(boxSeenWithButtonEnabled);
    QCOMPARE(beepsWhileBuilding, 1);
    QCOMPARE(Dialogs::TakeShownMessages().size(), 1);
    QCOMPARE(ReadFile(target).count("Ten "), 10);
}

void TestMainWindow::secondExportWhileFirstWrites()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("one.vcf")), Cards(4, QStringLiteral("Early"))));
    const QString first = path(QStringLiteral("first.csv"));
    const QString second = path(QStringLiteral("second.csv"));
    const QString later = WriteFile(path(QStringLiteral("later.vcf")), Cards(2, QStringLiteral("Later")));

    bool changedDuringFirst = false;
    int jobsWhenSecondStarted = 0;
    connect(&form, &TAppForm::progressShown, &form, [&](int value) {
        if (value == 0 && !changedDuringFirst && form.RunningJobs() == 1) {
            // Clear and load while the first job is about to scan: it goes on with its snapshot.
            changedDuringFirst = true;
            form.ClearNow();
            form.Ekle(later);
        }
    });
    bool secondStarted = false;
    connect(&form, &TAppForm::exportControlsEnabled, &form, [&] {
        if (changedDuringFirst && !secondStarted && form.RunningJobs() == 1 && !QFileInfo::exists(first)) {
            secondStarted = true;
            AnswerSave(second);
            form.GoogleCSVFormat1Click();
            jobsWhenSecondStarted = form.RunningJobs();
        }
    });

    AnswerSave(first);
    form.DefaultFormat1Click();
    QVERIFY(WaitForJobs(form));
    QVERIFY(secondStarted);
    QCOMPARE(jobsWhenSecondStarted, 2);

    const QByteArray one = ReadFile(first);
    QVERIFY2(one.contains("\"Early 4\"") && !one.contains("Later"), one.constData());
    QVERIFY(one.startsWith("\xef\xbb\xbf\"Name\",\"Phone\"")); // default layout, not Google's
    const QByteArray two = ReadFile(second);
    QVERIFY2(two.contains("\"Later 2\"") && !two.contains("Early"), two.constData());
    QVERIFY(two.contains("Phone 1 - Value"));

    QStringList texts;
    for (const Dialogs::ShownMessage &message : Dialogs::TakeShownMessages())
        texts.append(message.text);
    texts.sort();
    QCOMPARE(texts, QStringList({QStringLiteral("Process completed!\r\rFilename: ") + first,
                                 QStringLiteral("Process completed!\r\rFilename: ") + second}));
}

void TestMainWindow::clearAndLoadRightAfterTheStart()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("before.vcf")), Cards(3000, QStringLiteral("Before"))));
    const QString later = WriteFile(path(QStringLiteral("after.vcf")), Cards(5, QStringLiteral("After")));
    const QString target = path(QStringLiteral("before.csv"));
    AnswerSave(target);
    form.DefaultFormat1Click();
    // At once, before the job has necessarily read anything: it still exports what was loaded.
    form.ClearNow();
    form.Ekle(later);
    QCOMPARE(Loaded().LoadedFileCount, 1);
    QVERIFY(WaitForJobs(form));
    const QByteArray written = ReadFile(target);
    QCOMPARE(written.count("\"Before "), 3000);
    QVERIFY(!written.contains("After"));
    QCOMPARE(Loaded().LoadedLines.toStringList().count(QStringLiteral("END:VCARD")), 5);
}

void TestMainWindow::closingWhileJobRuns()
{
    auto *form = new TAppForm;
    form->Ekle(WriteFile(path(QStringLiteral("closing.vcf")), Cards(20000, QStringLiteral("Closing"))));
    const QString target = path(QStringLiteral("closing.csv"));
    AnswerSave(target);
    form->DefaultFormat1Click();
    QCOMPARE(form->RunningJobs(), 1);
    delete form; // waits for the job, which finishes its file without a window
    QVERIFY(Dialogs::TakeShownMessages().isEmpty());
    QCOMPARE(ReadFile(target).count("\"Closing "), 20000);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestMainWindow::clearLoadAndExportWhileAWorkbookIsWritten()
{
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("book.vcf")), Cards(3000, QStringLiteral("Book"))));
    const QString later = WriteFile(path(QStringLiteral("meanwhile.vcf")), Cards(2, QStringLiteral("Meanwhile")));
    const QString book = path(QStringLiteral("written meanwhile.xlsx"));
    const QString csv = path(QStringLiteral("meanwhile.csv"));

    // Once the first job is adding rows to its workbook: Clear, load, and a second export.
    bool done = false;
    connect(&form, &TAppForm::progressShown, &form, [&](int value) {
        if (done || value <= 85 || form.RunningJobs() != 1)
            return;
        done = true;
        form.ClearNow();
        form.Ekle(later);
        AnswerSave(csv);
        form.DefaultFormat1Click();
    });
    AnswerSave(book, 2);
    form.DefaultFormat1Click();
    QVERIFY(WaitForJobs(form));
    QVERIFY(done);
    QCOMPARE(Dialogs::TakeShownMessages().size(), 2);

    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile; "
                                 "print(zipfile.ZipFile(sys.argv[1]).read('xl/worksheets/sheet1.xml').decode().count('Book '))"),
                  book});
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.readAllStandardOutput().trimmed(), QByteArray("3000"));
    const QByteArray two = ReadFile(csv);
    QCOMPARE(two.count("\"Meanwhile "), 2);
    QVERIFY(!two.contains("Book"));
}

void TestMainWindow::outputFolderRemovedDuringJob_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("removeAt"); // the progress value at which the folder goes
    QTest::newRow("csv, while scanning") << QStringLiteral("out.csv") << 10;
    QTest::newRow("txt, while scanning") << QStringLiteral("out.txt") << 10;
    QTest::newRow("xls, while scanning") << QStringLiteral("out.xls") << 10;
    QTest::newRow("xlsx, while scanning") << QStringLiteral("out.xlsx") << 10;
    QTest::newRow("xlsx, while writing its rows") << QStringLiteral("out.xlsx") << 90;
}

void TestMainWindow::outputFolderRemovedDuringJob()
{
    QFETCH(QString, name);
    QFETCH(int, removeAt);
    TAppForm form;
    form.Ekle(WriteFile(path(QStringLiteral("removed.vcf")), Cards(50, QStringLiteral("Removed"))));
    const QString folder = path(QStringLiteral("going away"));
    const QString target = folder + u'/' + name;
    QDir().mkpath(folder);
    bool removed = false;
    connect(&form, &TAppForm::progressShown, &form, [&](int value) {
        if (!removed && value >= removeAt)
            removed = QDir(folder).removeRecursively();
    });
    AnswerSave(target);
    form.DefaultFormat1Click();
    QVERIFY(WaitForJobs(form));
    QVERIFY(removed);

    // The reason, then the failure; nothing is written anywhere and the window goes on.
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).caption, QStringLiteral("WARNING"));
    QCOMPARE(messages.at(0).text,
             QStringLiteral("Cannot create file \"") + target + QStringLiteral("\". No such file or directory"));
    QCOMPARE(messages.at(1).icon, MessageIcon::Error);
    QCOMPARE(messages.at(1).text, QStringLiteral("The file could not be created!"));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(form.BitBtn2->isEnabled());
    QCOMPARE(form.ProgressBar1->value(), 0);
}

void TestMainWindow::languageFileRemovedAfterStart()
{
    // A program folder of its own whose language file goes away once it is loaded.
    const QString program = path(QStringLiteral("program"));
    QDir().mkpath(program + QStringLiteral("/Languages"));
    QVERIFY(QFile::copy(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources/Languages/German.lang.txt"),
                        program + QStringLiteral("/Languages/German.lang.txt")));
    QVERIFY(LoadLanguageFrom(QStringLiteral("German.lang.txt"), program, 1033));
    QVERIFY(QDir(program).removeRecursively());

    // The texts stay as loaded: in a new window and in an export's messages.
    TAppForm form;
    QCOMPARE(form.Action8->text(), QStringLiteral("Leeren"));
    form.Ekle(WriteFile(path(QStringLiteral("german.vcf")), Cards(1, QStringLiteral("Deutsch"))));
    AnswerSave(path(QStringLiteral("german.csv")));
    form.DefaultFormat1Click();
    QVERIFY(WaitForJobs(form));
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).caption, QStringLiteral("ERFOLG"));
    QVERIFY(messages.at(0).text.startsWith(QStringLiteral("Vorgang abgeschlossen!")));
}

// ---- menus, beep, help -----------------------------------------------------------------------------

void TestMainWindow::menuUnderButtonGuard_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("gap");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("click that closes the menu") << quint32(5000) << quint32(40) << false;
    QTest::newRow("99 ms") << quint32(5000) << quint32(99) << false;
    QTest::newRow("100 ms") << quint32(5000) << quint32(100) << true;
    QTest::newRow("later click") << quint32(5000) << quint32(2000) << true;
    QTest::newRow("counter wraps") << quint32(0xFFFFFFF0u) << quint32(0x30) << false;
}

void TestMainWindow::menuUnderButtonGuard()
{
    QFETCH(quint32, start);
    QFETCH(quint32, gap);
    QFETCH(bool, reopens);
    quint32 now = start;
    TAppForm::TickCount = [&now] { return now; };
    TAppForm form;
    form.show();
    form.Ekle(WriteFile(path(QStringLiteral("menu.vcf")), Cards(1, QStringLiteral("Menu"))));
    MenuWatch watch(form.PopupMenu2);

    form.BitBtn2->click();
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos, form.BitBtn2->mapToGlobal(QPoint(0, form.BitBtn2->height())));
    now += gap;
    form.BitBtn2->click();
    QCOMPARE(watch.shown, reopens ? 2 : 1);
    // Either way a click 100 ms after the menu closed opens it again.
    now += 100;
    form.BitBtn2->click();
    QCOMPARE(watch.shown, reopens ? 3 : 2);
    TAppForm::TickCount = [] { return quint32(QDateTime::currentMSecsSinceEpoch()); };
}

void TestMainWindow::fileMenuExportBeepsWhenDisabled()
{
    TAppForm form;
    MenuWatch watch(form.PopupMenu2);
    form.Action3->trigger();
    QCOMPARE(Dialogs::BeepCount(), 1);
    QCOMPARE(watch.shown, 0);
    form.Ekle(WriteFile(path(QStringLiteral("beep.vcf")), Cards(1, QStringLiteral("Beep"))));
    form.Action3->trigger();
    QCOMPARE(Dialogs::BeepCount(), 1);
    QCOMPARE(watch.shown, 1);
}

void TestMainWindow::helpAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    qputenv("TESSALY_WEB_HOST", "127.0.0.1:8080");
    TAppForm form;
    form.Action2->trigger();
    form.Help1->trigger();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    qunsetenv("TESSALY_WEB_HOST");
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QString page = Identity().AppDescription.toLower();
    page.replace(u' ', u'-');
    QVERIFY(!page.isEmpty());
    const QUrl expected(QStringLiteral("http://127.0.0.1:8080/help/") + page + u'/');
    QCOMPARE(catcher.urls, QList<QUrl>({expected, expected, expected}));
}

// ---- the real dialogs behind the wrapper ----------------------------------------------------------

void TestMainWindow::messageBoxShowsPlainText()
{
    Dialogs::SetAnsweringMode(false);
    QString shownText;
    QString shownTitle;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        shownText = box->text();
        shownTitle = box->windowTitle();
        format = box->textFormat();
        icon = box->icon();
        box->accept();
    });
    Dialogs::ShowMessage(nullptr, MessageIcon::Error, QStringLiteral("ERROR"),
                         QStringLiteral("<b>not bold</b>\r\rFilename: /tmp/a&b.csv"));
    QCOMPARE(shownTitle, QStringLiteral("ERROR"));
    QCOMPARE(shownText, QStringLiteral("<b>not bold</b>\n\nFilename: /tmp/a&b.csv"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(icon, QMessageBox::Critical);
}

void TestMainWindow::saveDialogSettings()
{
    Dialogs::SetAnsweringMode(false);
    const QStringList filters{QStringLiteral("Excel File (*.xls)"), QStringLiteral("Excel 2007 File (*.xlsx)"),
                              QStringLiteral("CSV File (*.csv)"), QStringLiteral("Text File (*.txt)")};
    struct Seen {
        QString filter;
        bool confirmsOverwrite = false;
        QString typedResult;
    } seen;
    const auto runDialog = [&](int index, const QString &initial, int pickIndex, const QString &typed) {
        QTimer::singleShot(0, [&, pickIndex, typed] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen.filter = dialog->selectedNameFilter();
            seen.confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            if (pickIndex > 0) {
                // As the user does it: choose the type in the list.
                auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                if (types) {
                    types->setFocus();
                    QTest::keyClick(types, Qt::Key_Home);
                    for (int i = 1; i < pickIndex; ++i)
                        QTest::keyClick(types, Qt::Key_Down);
                }
            }
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(typed);
            static_cast<QDialog *>(dialog)->accept();
        });
        Dialogs::SaveRequest request;
        request.nameFilters = filters;
        request.filterIndex = index;
        request.initialPath = initial;
        request.defaultSuffix = QStringLiteral("xls");
        return Dialogs::GetSaveFileName(nullptr, request);
    };

    const QString initial = path(QStringLiteral("earlier.csv"));
    std::optional<Dialogs::SaveAnswer> answer = runDialog(3, initial, 0, QStringLiteral("typed"));
    QVERIFY(answer);
    QCOMPARE(seen.filter, filters.at(2));
    QVERIFY(seen.confirmsOverwrite);
    QCOMPARE(answer->fileName, path(QStringLiteral("typed.csv"))); // the selected type's extension
    QCOMPARE(answer->filterIndex, 3);

    answer = runDialog(1, initial, 2, QStringLiteral("book"));
    QVERIFY(answer);
    QCOMPARE(seen.filter, filters.at(0));
    QCOMPARE(answer->fileName, path(QStringLiteral("book.xlsx")));
    QCOMPARE(answer->filterIndex, 2);

    answer = runDialog(4, initial, 0, QStringLiteral("notes.csv"));
    QVERIFY(answer);
    QCOMPARE(answer->fileName, path(QStringLiteral("notes.csv"))); // a typed extension stays
}

// ---- update check ------------------------------------------------------------------------------

namespace {

QSettings UpdateSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ORVANTA"), QStringLiteral("Tessaly"));
}

/* A fresh store and a local server answering the update check with reply. */
void ServeUpdateReply(TestWebServer &server, const QByteArray &reply)
{
    UpdateSettings().clear();
    CannedReply canned;
    canned.body = reply;
    server.setReply(true, canned);
    qputenv("TESSALY_WEB_HOST", server.host().toUtf8());
}

/* Lets the window's own timer start the check and apply its results. */
bool WaitForUpdateCheck(const TAppForm &form)
{
    return QTest::qWaitFor([&form] { return !form.TimerChecker->isActive(); }, 30000);
}

} // namespace

void TestMainWindow::updateCheck_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("important");
    const QByteArray tail = "\n\n<result>1</result>\n";
    QTest::newRow("same version") << "<version>" + Identity().AppVersion.toUtf8() + "</version>\n<url></url>" + tail
                                  << false << QString();
    QTest::newRow("new version") << "<version>9.9</version>\n<url>https://127.0.0.1/get</url>" + tail << true << QString();
    QTest::newRow("important message")
        << "<version>9.9</version>\n<url></url>" + tail + "\n<important>Please <b>update</b></important>\n" << true
        << QStringLiteral("Please <b>update</b>");
    QTest::newRow("server error") << QByteArray("ERROR: busy") << false << QString();
}

void TestMainWindow::updateCheck()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, notice);
    QFETCH(QString, important);
    TestWebServer server;
    ServeUpdateReply(server, reply);

    TAppForm form;
    QVERIFY(WaitForUpdateCheck(form));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(server.requests().constFirst().tls);
    QVERIFY(server.requests().constFirst().body.startsWith("cmd=check&appname="));
    QVERIFY(form.UpdateNotifications1->isEnabled() && form.UpdateNotifications1->isChecked());
    TNewVer *shown = form.findChild<TNewVer *>();
    QCOMPARE(shown != nullptr, notice);

    // The server's message is shown by the window, as a warning, while the check waits.
    const QList<Dialogs::ShownMessage> messages = Dialogs::TakeShownMessages();
    QCOMPARE(messages.size(), important.isEmpty() ? 0 : 1);
    if (!important.isEmpty()) {
        QCOMPARE(messages.constFirst().caption, QStringLiteral("IMPORTANT"));
        QCOMPARE(messages.constFirst().text, important);
        QCOMPARE(messages.constFirst().icon, MessageIcon::Warning);
    }
    qunsetenv("TESSALY_WEB_HOST");
}

void TestMainWindow::updateNotificationsSwitch()
{
    TestWebServer server;
    ServeUpdateReply(server, QByteArray());
    UpdateSettings().setValue(QStringLiteral("Settings/ShowUpdate"), QStringLiteral("0"));

    TAppForm form;
    QVERIFY(WaitForUpdateCheck(form));
    QVERIFY(server.requests().isEmpty()); // switched off: no request at all
    QVERIFY(form.UpdateNotifications1->isEnabled());
    QVERIFY(!form.UpdateNotifications1->isChecked());

    form.UpdateNotifications1->trigger();
    QVERIFY(form.UpdateNotifications1->isChecked());
    QCOMPARE(UpdateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("1"));
    form.UpdateNotifications1->trigger();
    QVERIFY(!form.UpdateNotifications1->isChecked());
    QCOMPARE(UpdateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("0"));
    qunsetenv("TESSALY_WEB_HOST");
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
