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

QList<QWidget *> exportControls(const MainWindow &form)
{
    return {form.exportButton, form.ansiRadio, form.utf8Radio, form.utf16Radio,
            form.headersCheck, form.sortCheck, form.encodingLabel, form.optionsLabel};
}

bool allEnabled(const QList<QWidget *> &controls, bool enabled)
{
    return std::all_of(controls.begin(), controls.end(), [enabled](QWidget *w) { return w->isEnabled() == enabled; });
}

QStringList actionTexts(const QList<QAction *> &actions)
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
    void testHelpAddress();

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
    TestWebServer::trustTestAuthority();
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
}

void TestMainWindow::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestMainWindow::cleanup()
{
    clearActiveLanguage();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

// ---- start ----------------------------------------------------------------------------------

void TestMainWindow::stateAtStart()
{
    MainWindow form;
    QVERIFY(allEnabled(exportControls(form), false));
    QVERIFY(form.loadButton->isEnabled() && form.feedbackButton->isEnabled() && form.aboutButton->isEnabled());
    QVERIFY(!form.ansiRadio->isChecked() && form.utf8Radio->isChecked() && !form.utf16Radio->isChecked());
    QVERIFY(form.headersCheck->isChecked() && form.sortCheck->isChecked());
    QVERIFY(!form.updateNotificationsAction->isEnabled());
    QVERIFY(form.updateNotificationsAction->isCheckable() && form.updateNotificationsAction->isChecked());
    QCOMPARE(form.loadButton->text(), kLoadCaption);
    QCOMPARE(form.exportButton->text(), QStringLiteral("Export to File..."));
    QCOMPARE(form.feedbackButton->text(), QStringLiteral("Send Feedback..."));
    QCOMPARE(form.aboutButton->text(), QStringLiteral("About..."));
    QCOMPARE(form.encodingLabel->text(), QStringLiteral("Encoding:"));
    QCOMPARE(form.optionsLabel->text(), QStringLiteral("Options:"));
    QCOMPARE(form.headersCheck->toolTip(), QStringLiteral("This is required for importing in Gmail and Outlook."));
    QCOMPARE(form.progressBar->value(), 0);
    QCOMPARE(form.progressBar->maximum(), 100);
    QCOMPARE(form.windowTitle(), appIdentity().appCaption);
    QCOMPARE(form.exportFlavor(), QString());

    // Fixed size, no maximise.
    QCOMPARE(form.size(), QSize(497, 308));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(form.acceptDrops());

    // Menus in order, with their icons.
    QCOMPARE(form.fileMenu->title(), QStringLiteral("File"));
    QCOMPARE(actionTexts(form.fileMenu->actions()),
             QStringList({QStringLiteral("Clear"), kLoadCaption, QStringLiteral("Export to File..."),
                          QStringLiteral("-"), QStringLiteral("Exit")}));
    QCOMPARE(form.helpMenu->title(), QStringLiteral("Help"));
    QCOMPARE(actionTexts(form.helpMenu->actions()),
             QStringList({QStringLiteral("Online Help"), QStringLiteral("-"), QStringLiteral("Update Notifications"),
                          QStringLiteral("-"), QStringLiteral("Language..."), QStringLiteral("Send Feedback..."),
                          QStringLiteral("About")}));
    QCOMPARE(form.helpAction->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(actionTexts(form.trayMenu->actions()),
             QStringList({QStringLiteral("Online Help"), QStringLiteral("-"), QStringLiteral("Language..."),
                          QStringLiteral("Send Feedback..."), QStringLiteral("About"), QStringLiteral("-"),
                          QStringLiteral("Exit")}));
    QCOMPARE(actionTexts(form.loadMenu->actions()), QStringList({QStringLiteral("Clear")}));
    QCOMPARE(actionTexts(form.exportMenu->actions()),
             QStringList({QStringLiteral("Comma-Separated Values File (CSV)..."), QStringLiteral("Excel File (XLS)..."),
                          QStringLiteral("Text File (TXT)...")}));
    QCOMPARE(form.exportMenu->actions().constFirst()->menu(), form.csvMenu);
    QCOMPARE(actionTexts(form.csvMenu->actions()),
             QStringList({QStringLiteral("Default CSV Format"), QStringLiteral("Excel CSV Format"),
                          QStringLiteral("Google CSV Format"), QStringLiteral("Outlook CSV Format"),
                          QStringLiteral("Yahoo CSV Format")}));
    for (QMenu *menu : {form.fileMenu, form.helpMenu, form.trayMenu, form.exportMenu, form.csvMenu}) {
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator() && action != form.updateNotificationsAction)
                QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        }
    }
    for (QPushButton *button : {static_cast<QPushButton *>(form.loadButton), static_cast<QPushButton *>(form.exportButton),
                                form.feedbackButton, form.aboutButton})
        QVERIFY2(!button->icon().pixmap(32).isNull(), qPrintable(button->text()));

    QVERIFY(form.updateCheckTimer->isActive());
    QCOMPARE(form.updateCheckTimer->interval(), 1000);
}

void TestMainWindow::layoutFitsAndNothingOverlaps()
{
    MainWindow form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The longest load caption the window shows in ordinary use.
    loadedCards().loadedFileCount = 99;
    form.loadFile(writeFile(path(QStringLiteral("fit.vcf")), makeCards(1, QStringLiteral("Fit"))));

    QCOMPARE(form.encodingLabel->width(), form.optionsLabel->width());
    QCOMPARE(form.ansiRadio->mapTo(&form, QPoint()).x(), form.sortCheck->mapTo(&form, QPoint()).x());
    const QList<QWidget *> controls{form.mainMenuBar, form.loadButton, form.encodingLabel, form.ansiRadio,
                                    form.utf8Radio, form.utf16Radio, form.optionsLabel, form.sortCheck,
                                    form.headersCheck, form.exportButton, form.feedbackButton, form.aboutButton, form.progressBar};
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
        QVERIFY2(control->width() >= control->sizeHint().width() || control == form.progressBar
                     || control == form.mainMenuBar,
                 qPrintable(control->objectName() + QString::number(control->width())));
    }
    QCOMPARE(form.mainMenuBar->height(), 25);
    QCOMPARE(form.loadButton->height(), 50);
    QCOMPARE(form.exportButton->height(), 50);
    QCOMPARE(form.encodingPanel->height(), 40);
    QCOMPARE(form.progressBar->height(), 17);
    QCOMPARE(form.feedbackButton->height(), 50);
    for (QPushButton *button : {static_cast<QPushButton *>(form.loadButton), static_cast<QPushButton *>(form.exportButton)}) {
        const int needed = 10 + 32 + button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(needed < button->width(), qPrintable(button->text()));
    }
}

void TestMainWindow::withoutTrayTheWindowRunsOn()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a notification area");
    MainWindow form;
    QCOMPARE(form.trayIcon, nullptr);
    QVERIFY(form.trayMenu != nullptr); // the menu is still there for a tray that comes later
    form.show();
    form.loadFile(writeFile(path(QStringLiteral("tray.vcf")), makeCards(1, QStringLiteral("Tray"))));
    QCOMPARE(form.loadButton->text(), kLoadCaption + QStringLiteral(" [1]"));
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
        MainWindow english;
        englishWidth = english.headersCheck->width();
    }
    setActiveLanguage(path(QStringLiteral("Test.lang.txt")), QStringLiteral("Test"),
                      {QStringLiteral("{Headers}") + headers, QStringLiteral("{Sort}") + sort,
                       QStringLiteral("{Encoding:}Codierung:"), QStringLiteral("{Options:}Optionen der Ausgabe:")});
    MainWindow form;
    QCOMPARE(form.headersCheck->text(), headers);
    QCOMPARE(form.sortCheck->text(), sort);
    QCOMPARE(form.optionsLabel->text(), QStringLiteral("Optionen der Ausgabe:"));
    QCOMPARE(form.ansiRadio->text(), QStringLiteral("ANSI")); // never translated
    QCOMPARE(form.windowTitle(), appIdentity().appCaption);
    for (QCheckBox *box : {form.headersCheck, form.sortCheck})
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(box->text()) + 30);
    if (headers.size() > 10)
        QVERIFY(form.headersCheck->width() > englishWidth);
    // The wider label sets both widths.
    QCOMPARE(form.encodingLabel->width(), form.optionsLabel->width());
    QVERIFY(form.encodingLabel->width() >= form.optionsLabel->fontMetrics().horizontalAdvance(form.optionsLabel->text()));
}

// ---- loading ----------------------------------------------------------------------------------

void TestMainWindow::loadOneThenTwo()
{
    MainWindow form;
    const QString first = writeFile(path(QStringLiteral("first.vcf")), makeCards(2, QStringLiteral("First")));
    const QString second = writeFile(path(QStringLiteral("second.vcf")), makeCards(1, QStringLiteral("Second")));

    Dialogs::setNextOpenFileNames({first});
    form.loadButton->click();
    QCOMPARE(form.loadButton->text(), kLoadCaption + QStringLiteral(" [1]"));
    QVERIFY(allEnabled(exportControls(form), true));
    QCOMPARE(loadedCards().loadedFileCount, 1);

    // The File menu entry does what the button does; files load in the dialog's order.
    Dialogs::setNextOpenFileNames({second, first});
    form.loadAction->trigger();
    QCOMPARE(form.loadButton->text(), kLoadCaption + QStringLiteral(" [3]"));
    QCOMPARE(loadedCards().loadedFileCount, 3);
    const QStringList lines = loadedCards().loadedLines.toStringList();
    QCOMPARE(lines.count(QString()), 3); // one empty line after each file
    QVERIFY(lines.indexOf(QStringLiteral("FN:Second 1")) < lines.lastIndexOf(QStringLiteral("FN:First 1")));
    QCOMPARE(lines.count(QStringLiteral("FN:First 2")), 2);
    QCOMPARE(Dialogs::openDialogCount(), 2);
    QVERIFY(Dialogs::takeShownMessages().isEmpty());

    // A cancelled dialog does nothing.
    form.loadButton->click();
    QCOMPARE(loadedCards().loadedFileCount, 3);
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
    MainWindow form;
    const QString file = writeFile(path(QStringLiteral("warn.vcf")), bytes);
    form.loadFile(file);
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Warning);
    QCOMPARE(messages.at(0).caption, caption);
    QVERIFY2(messages.at(0).text.startsWith(textStart), qPrintable(messages.at(0).text));
    QCOMPARE(loadedCards().loadedFileCount, count);
    // Even a failed load shows the count and enables the export controls.
    QCOMPARE(form.loadButton->text(), kLoadCaption + QStringLiteral(" [%1]").arg(count));
    QVERIFY(allEnabled(exportControls(form), true));
}

void TestMainWindow::typedMissingFileLoadsNothing()
{
    MainWindow form;
    Dialogs::setNextOpenFileNames({path(QStringLiteral("no such file.vcf"))});
    form.loadButton->click();
    QCOMPARE(loadedCards().loadedFileCount, 0);
    QCOMPARE(form.loadButton->text(), kLoadCaption);
    QVERIFY(allEnabled(exportControls(form), false));
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
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
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("clear.vcf")), makeCards(3, QStringLiteral("Clear"))));
    form.exportOutlookCsv(); // dialog cancelled: ANSI, Headers, "outlook" stay
    form.headersCheck->setChecked(false);
    form.sortCheck->setChecked(false);
    form.setProgress(55);

    (fromLoadButtonMenu ? form.loadMenuClearAction : form.clearAction)->trigger();
    QVERIFY(loadedCards().loadedLines.isEmpty());
    QCOMPARE(loadedCards().loadedFileCount, 0);
    QCOMPARE(form.loadButton->text(), kLoadCaption);
    QVERIFY(allEnabled(exportControls(form), false));
    QCOMPARE(form.progressBar->value(), 0);
    QVERIFY(form.ansiRadio->isChecked());
    QVERIFY(!form.headersCheck->isChecked());
    QVERIFY(!form.sortCheck->isChecked());
    QCOMPARE(form.exportFlavor(), QStringLiteral("outlook"));

    // Clear with nothing loaded only disables the controls.
    form.enableExportControls();
    form.clearLoaded();
    QVERIFY(allEnabled(exportControls(form), false));
    QCOMPARE(form.loadButton->text(), kLoadCaption);
}

void TestMainWindow::dropLoadsOnlyVcfFiles()
{
    MainWindow form;
    form.show();
    const QString folder = path(QStringLiteral("folder.vcf"));
    QDir().mkpath(folder);
    const QString text = writeFile(path(QStringLiteral("notes.txt")), makeCards(1, QStringLiteral("Text")));
    const QString upper = writeFile(path(QStringLiteral("UPPER.VCF")), makeCards(1, QStringLiteral("Upper")));
    // A path longer than 255 characters is taken whole.
    QString deep = m_dir.path();
    while (deep.size() < 300)
        deep += QStringLiteral("/a-rather-long-folder-name");
    const QString longPath = writeFile(deep + QStringLiteral("/long.vcf"), makeCards(1, QStringLiteral("Long")));
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

    QCOMPARE(loadedCards().loadedFileCount, 2);
    const QStringList lines = loadedCards().loadedLines.toStringList();
    QVERIFY(!lines.contains(QStringLiteral("FN:Text 1")));
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) >= 0);
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) < lines.indexOf(QStringLiteral("FN:Long 1")));
    QCOMPARE(form.loadButton->text(), kLoadCaption + QStringLiteral(" [2]"));
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
    writeFile(path(QStringLiteral("my address book.vcf")), makeCards(1, QStringLiteral("Spaced")));
    writeFile(path(QStringLiteral("plain.vcf")), makeCards(1, QStringLiteral("Plain")));
    MainWindow form(arguments);
    QCOMPARE(loadedCards().loadedFileCount, 0); // the file loads when the window shows
    form.show();
    QCOMPARE(loadedCards().loadedFileCount, count);
    QCOMPARE(allEnabled(exportControls(form), true), count > 0);
    form.hide();
    form.show(); // only the first showing loads
    QCOMPARE(loadedCards().loadedFileCount, count);
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

    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("presets.vcf")), makeCards(2, QStringLiteral("Preset"))));
    form.exportOutlookCsv(); // cancelled; leaves the flavour "outlook"
    QRadioButton *radios[] = {form.ansiRadio, form.utf8Radio, form.utf16Radio};
    radios[encodingBefore - 1]->setChecked(true);
    form.headersCheck->setChecked(headersBefore);
    form.sortCheck->setChecked(false);
    Dialogs::takeSaveRequests();

    // The entry is chosen from the menu; no answer is queued, so the save dialog is cancelled.
    const QMap<QString, QAction *> entries{{QStringLiteral("DefaultFormat1"), form.defaultCsvAction},
                                           {QStringLiteral("ExcelCSVFormat1"), form.excelCsvAction},
                                           {QStringLiteral("GoogleCSVFormat1"), form.googleCsvAction},
                                           {QStringLiteral("OutlookCSVFormat1"), form.outlookCsvAction},
                                           {QStringLiteral("YahooCSVFormat1"), form.yahooCsvAction},
                                           {QStringLiteral("ExcelXLS1"), form.xlsAction},
                                           {QStringLiteral("extTXT1"), form.txtAction}};
    QAction *action = entries.value(entry);
    QVERIFY(action);
    action->trigger();
    QList<Dialogs::SaveRequest> requests;
    QTRY_VERIFY(!(requests += Dialogs::takeSaveRequests()).isEmpty());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).filterIndex, filterIndex);

    QVERIFY(radios[encodingAfter - 1]->isChecked());
    QCOMPARE(form.headersCheck->isChecked(), headersAfter);
    QVERIFY(!form.sortCheck->isChecked()); // Sort is never changed
    QCOMPARE(form.exportFlavor(), flavourAfter == QLatin1String("*") ? QStringLiteral("outlook") : flavourAfter);
    QCOMPARE(form.runningJobs(), 0);
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
    QTest::qWait(20);
    QCOMPARE(form.runningJobs(), 0);
}

void TestMainWindow::xlsAfterYahooKeepsFlavour()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("yahoo.vcf")), makeCards(2, QStringLiteral("Yahoo"))));
    const QString csv = path(QStringLiteral("yahoo.csv"));
    const QString xls = path(QStringLiteral("after-yahoo.xls"));
    answerSave(csv);
    form.exportYahooCsv();
    QVERIFY(waitForJobs(form));
    answerSave(xls, 1);
    form.exportXls();
    QVERIFY(waitForJobs(form));
    QCOMPARE(form.exportFlavor(), QStringLiteral("yahoo"));
    const QList<Dialogs::SaveRequest> requests = Dialogs::takeSaveRequests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).filterIndex, 3);
    QCOMPARE(requests.at(1).filterIndex, 1);
    QCOMPARE(requests.at(1).initialPath, path(QStringLiteral("yahoo.xls"))); // the last name, the type's extension
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(1).caption, QStringLiteral("SUCCESS"));
    // The workbook has the default layout: it starts with the OLE2 signature and is not CSV text.
    QVERIFY(readFile(xls).startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")));
}

void TestMainWindow::wholeExportToCsv()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("whole.vcf")), makeCards(3, QStringLiteral("Whole"))));
    const QString target = path(QStringLiteral("out dir/whole export.csv"));
    QDir().mkpath(QFileInfo(target).absolutePath());
    answerSave(target);
    form.defaultCsvAction->trigger();
    QTRY_COMPARE(form.runningJobs(), 1);
    QVERIFY(waitForJobs(form));

    const QList<Dialogs::SaveRequest> requests = Dialogs::takeSaveRequests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).nameFilters,
             QStringList({QStringLiteral("Excel File (*.xls)"), QStringLiteral("Excel 2007 File (*.xlsx)"),
                          QStringLiteral("CSV File (*.csv)"), QStringLiteral("Text File (*.txt)")}));
    QCOMPARE(requests.at(0).filterIndex, 3);
    QCOMPARE(requests.at(0).defaultSuffix, QStringLiteral("xls"));
    QCOMPARE(requests.at(0).initialPath, QString());

    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Information);
    QCOMPARE(messages.at(0).caption, QStringLiteral("SUCCESS"));
    QCOMPARE(messages.at(0).text, QStringLiteral("Process completed!\r\rFilename: ") + target);
    QCOMPARE(Dialogs::displayText(messages.at(0).text), QStringLiteral("Process completed!\n\nFilename: ") + target);

    const QByteArray written = readFile(target);
    QVERIFY(written.startsWith("\xef\xbb\xbf\"Name\""));
    QVERIFY(written.contains("\"Whole 1\""));
    QVERIFY(written.contains("\"Whole 3\""));
    QVERIFY(written.endsWith("\r\n"));
    QCOMPARE(form.progressBar->value(), 0);
    QVERIFY(form.exportButton->isEnabled());
}

void TestMainWindow::noDataFound()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("nothing.vcf")), QByteArray()));
    Dialogs::takeShownMessages(); // the empty-file warning
    const QString target = path(QStringLiteral("nothing.csv"));
    answerSave(target);
    QList<int> progress;
    connect(&form, &MainWindow::progressShown, &form, [&progress](int value) { progress.append(value); });
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Warning);
    QCOMPARE(messages.at(0).caption, QStringLiteral("Warning"));
    QCOMPARE(messages.at(0).text, QStringLiteral("No data found!"));
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(progress.constFirst(), 0);
    QCOMPARE(progress.mid(progress.size() - 2), QList<int>({100, 0}));
    QVERIFY(form.exportButton->isEnabled());
}

void TestMainWindow::exportButtonDuringJob()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("ten.vcf")), makeCards(10, QStringLiteral("Ten"))));
    const QString target = path(QStringLiteral("ten.txt"));
    answerSave(target, 4);

    QList<int> progress;
    QList<bool> buttonAtProgress;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        progress.append(value);
        buttonAtProgress.append(form.exportButton->isEnabled());
        QCOMPARE(form.progressBar->value(), value);
    });
    bool enabledBeforeWriting = false;
    connect(&form, &MainWindow::exportControlsEnabled, &form, [&] {
        enabledBeforeWriting = form.runningJobs() == 1 && !QFileInfo::exists(target) && form.exportButton->isEnabled();
    });
    int beepsWhileBuilding = -1;
    bool boxSeenWithButtonEnabled = false;
    Dialogs::setMessageHandler([&](const Dialogs::ShownMessage &) {
        boxSeenWithButtonEnabled = form.exportButton->isEnabled() && form.progressBar->value() == 100
                                   && QFileInfo::exists(target) && QApplication::overrideCursor() != nullptr;
    });
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (value == 10) {
            // The File menu's export entry only beeps while the job builds its rows.
            const int before = Dialogs::beepCount();
            form.exportAction->trigger();
            beepsWhileBuilding = Dialogs::beepCount() - before;
        }
    });

    form.exportTxt();
    QVERIFY(waitForJobs(form));
    QCOMPARE(progress, QList<int>({0, 10, 20, 26, 32, 38, 44, 50, 56, 62, 68, 74, 80, 80, 80, 100, 0}));
    // Disabled from the job's start until its rows were finished.
    for (qsizetype i = 1; i < 13; ++i)
        QVERIFY2(!buttonAtProgress.at(i), qPrintable(QString::number(progress.at(i))));
    QVERIFY(enabledBeforeWriting);
    QVERIFY(boxSeenWithButtonEnabled);
    QCOMPARE(beepsWhileBuilding, 1);
    QCOMPARE(Dialogs::takeShownMessages().size(), 1);
    QCOMPARE(readFile(target).count("Ten "), 10);
}

void TestMainWindow::secondExportWhileFirstWrites()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("one.vcf")), makeCards(4, QStringLiteral("Early"))));
    const QString first = path(QStringLiteral("first.csv"));
    const QString second = path(QStringLiteral("second.csv"));
    const QString later = writeFile(path(QStringLiteral("later.vcf")), makeCards(2, QStringLiteral("Later")));

    bool changedDuringFirst = false;
    int jobsWhenSecondStarted = 0;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (value == 0 && !changedDuringFirst && form.runningJobs() == 1) {
            // Clear and load while the first job is about to scan: it goes on with its snapshot.
            changedDuringFirst = true;
            form.clearLoaded();
            form.loadFile(later);
        }
    });
    bool secondStarted = false;
    connect(&form, &MainWindow::exportControlsEnabled, &form, [&] {
        if (changedDuringFirst && !secondStarted && form.runningJobs() == 1 && !QFileInfo::exists(first)) {
            secondStarted = true;
            answerSave(second);
            form.exportGoogleCsv();
            jobsWhenSecondStarted = form.runningJobs();
        }
    });

    answerSave(first);
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(secondStarted);
    QCOMPARE(jobsWhenSecondStarted, 2);

    const QByteArray one = readFile(first);
    QVERIFY2(one.contains("\"Early 4\"") && !one.contains("Later"), one.constData());
    QVERIFY(one.startsWith("\xef\xbb\xbf\"Name\",\"Phone\"")); // default layout, not Google's
    const QByteArray two = readFile(second);
    QVERIFY2(two.contains("\"Later 2\"") && !two.contains("Early"), two.constData());
    QVERIFY(two.contains("Phone 1 - Value"));

    QStringList texts;
    for (const Dialogs::ShownMessage &message : Dialogs::takeShownMessages())
        texts.append(message.text);
    texts.sort();
    QCOMPARE(texts, QStringList({QStringLiteral("Process completed!\r\rFilename: ") + first,
                                 QStringLiteral("Process completed!\r\rFilename: ") + second}));
}

void TestMainWindow::clearAndLoadRightAfterTheStart()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("before.vcf")), makeCards(3000, QStringLiteral("Before"))));
    const QString later = writeFile(path(QStringLiteral("after.vcf")), makeCards(5, QStringLiteral("After")));
    const QString target = path(QStringLiteral("before.csv"));
    answerSave(target);
    form.exportDefaultCsv();
    // At once, before the job has necessarily read anything: it still exports what was loaded.
    form.clearLoaded();
    form.loadFile(later);
    QCOMPARE(loadedCards().loadedFileCount, 1);
    QVERIFY(waitForJobs(form));
    const QByteArray written = readFile(target);
    QCOMPARE(written.count("\"Before "), 3000);
    QVERIFY(!written.contains("After"));
    QCOMPARE(loadedCards().loadedLines.toStringList().count(QStringLiteral("END:VCARD")), 5);
}

void TestMainWindow::closingWhileJobRuns()
{
    auto *form = new MainWindow;
    form->loadFile(writeFile(path(QStringLiteral("closing.vcf")), makeCards(20000, QStringLiteral("Closing"))));
    const QString target = path(QStringLiteral("closing.csv"));
    answerSave(target);
    form->exportDefaultCsv();
    QCOMPARE(form->runningJobs(), 1);
    delete form; // waits for the job, which finishes its file without a window
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
    QCOMPARE(readFile(target).count("\"Closing "), 20000);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestMainWindow::clearLoadAndExportWhileAWorkbookIsWritten()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("book.vcf")), makeCards(3000, QStringLiteral("Book"))));
    const QString later = writeFile(path(QStringLiteral("meanwhile.vcf")), makeCards(2, QStringLiteral("Meanwhile")));
    const QString book = path(QStringLiteral("written meanwhile.xlsx"));
    const QString csv = path(QStringLiteral("meanwhile.csv"));

    // Once the first job is adding rows to its workbook: Clear, load, and a second export.
    bool done = false;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (done || value <= 85 || form.runningJobs() != 1)
            return;
        done = true;
        form.clearLoaded();
        form.loadFile(later);
        answerSave(csv);
        form.exportDefaultCsv();
    });
    answerSave(book, 2);
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(done);
    QCOMPARE(Dialogs::takeShownMessages().size(), 2);

    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile; "
                                 "print(zipfile.ZipFile(sys.argv[1]).read('xl/worksheets/sheet1.xml').decode().count('Book '))"),
                  book});
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.readAllStandardOutput().trimmed(), QByteArray("3000"));
    const QByteArray two = readFile(csv);
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
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("removed.vcf")), makeCards(50, QStringLiteral("Removed"))));
    const QString folder = path(QStringLiteral("going away"));
    const QString target = folder + u'/' + name;
    QDir().mkpath(folder);
    bool removed = false;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (!removed && value >= removeAt)
            removed = QDir(folder).removeRecursively();
    });
    answerSave(target);
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(removed);

    // The reason, then the failure; nothing is written anywhere and the window goes on.
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).caption, QStringLiteral("WARNING"));
    QCOMPARE(messages.at(0).text,
             QStringLiteral("Cannot create file \"") + target + QStringLiteral("\". No such file or directory"));
    QCOMPARE(messages.at(1).icon, MessageIcon::Error);
    QCOMPARE(messages.at(1).text, QStringLiteral("The file could not be created!"));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(form.exportButton->isEnabled());
    QCOMPARE(form.progressBar->value(), 0);
}

void TestMainWindow::languageFileRemovedAfterStart()
{
    // A program folder of its own whose language file goes away once it is loaded.
    const QString program = path(QStringLiteral("program"));
    QDir().mkpath(program + QStringLiteral("/Languages"));
    QVERIFY(QFile::copy(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources/Languages/German.lang.txt"),
                        program + QStringLiteral("/Languages/German.lang.txt")));
    QVERIFY(loadLanguageFrom(QStringLiteral("German.lang.txt"), program, 1033));
    QVERIFY(QDir(program).removeRecursively());

    // The texts stay as loaded: in a new window and in an export's messages.
    MainWindow form;
    QCOMPARE(form.clearAction->text(), QStringLiteral("Leeren"));
    form.loadFile(writeFile(path(QStringLiteral("german.vcf")), makeCards(1, QStringLiteral("Deutsch"))));
    answerSave(path(QStringLiteral("german.csv")));
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
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
    MainWindow::tickCount = [&now] { return now; };
    MainWindow form;
    form.show();
    form.loadFile(writeFile(path(QStringLiteral("menu.vcf")), makeCards(1, QStringLiteral("Menu"))));
    MenuWatch watch(form.exportMenu);

    form.exportButton->click();
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos, form.exportButton->mapToGlobal(QPoint(0, form.exportButton->height())));
    now += gap;
    form.exportButton->click();
    QCOMPARE(watch.shown, reopens ? 2 : 1);
    // Either way a click 100 ms after the menu closed opens it again.
    now += 100;
    form.exportButton->click();
    QCOMPARE(watch.shown, reopens ? 3 : 2);
    MainWindow::tickCount = [] { return quint32(QDateTime::currentMSecsSinceEpoch()); };
}

void TestMainWindow::fileMenuExportBeepsWhenDisabled()
{
    MainWindow form;
    MenuWatch watch(form.exportMenu);
    form.exportAction->trigger();
    QCOMPARE(Dialogs::beepCount(), 1);
    QCOMPARE(watch.shown, 0);
    form.loadFile(writeFile(path(QStringLiteral("beep.vcf")), makeCards(1, QStringLiteral("Beep"))));
    form.exportAction->trigger();
    QCOMPARE(Dialogs::beepCount(), 1);
    QCOMPARE(watch.shown, 1);
}

void TestMainWindow::testHelpAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    qputenv("TESSALY_WEB_HOST", "127.0.0.1:8080");
    MainWindow form;
    form.helpAction->trigger();
    form.trayHelpAction->trigger();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    qunsetenv("TESSALY_WEB_HOST");
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QString page = appIdentity().appDescription.toLower();
    page.replace(u' ', u'-');
    QVERIFY(!page.isEmpty());
    const QUrl expected(QStringLiteral("http://127.0.0.1:8080/help/") + page + u'/');
    QCOMPARE(catcher.urls, QList<QUrl>({expected, expected, expected}));
}

// ---- the real dialogs behind the wrapper ----------------------------------------------------------

void TestMainWindow::messageBoxShowsPlainText()
{
    Dialogs::setAnsweringMode(false);
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
    Dialogs::showMessage(nullptr, MessageIcon::Error, QStringLiteral("ERROR"),
                         QStringLiteral("<b>not bold</b>\r\rFilename: /tmp/a&b.csv"));
    QCOMPARE(shownTitle, QStringLiteral("ERROR"));
    QCOMPARE(shownText, QStringLiteral("<b>not bold</b>\n\nFilename: /tmp/a&b.csv"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(icon, QMessageBox::Critical);
}

void TestMainWindow::saveDialogSettings()
{
    Dialogs::setAnsweringMode(false);
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
        return Dialogs::getSaveFileName(nullptr, request);
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

QSettings updateSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ORVANTA"), QStringLiteral("Tessaly"));
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

/* Lets the window's own timer start the check and apply its results. */
bool waitForUpdateCheck(const MainWindow &form)
{
    return QTest::qWaitFor([&form] { return !form.updateCheckTimer->isActive(); }, 30000);
}

} // namespace

void TestMainWindow::updateCheck_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("important");
    const QByteArray tail = "\n\n<result>1</result>\n";
    QTest::newRow("same version") << "<version>" + appIdentity().appVersion.toUtf8() + "</version>\n<url></url>" + tail
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
    serveUpdateReply(server, reply);

    MainWindow form;
    QVERIFY(waitForUpdateCheck(form));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(server.requests().constFirst().tls);
    QVERIFY(server.requests().constFirst().body.startsWith("cmd=check&appname="));
    QVERIFY(form.updateNotificationsAction->isEnabled() && form.updateNotificationsAction->isChecked());
    NewVersionNotice *shown = form.findChild<NewVersionNotice *>();
    QCOMPARE(shown != nullptr, notice);

    // The server's message is shown by the window, as a warning, while the check waits.
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
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
    serveUpdateReply(server, QByteArray());
    updateSettings().setValue(QStringLiteral("Settings/ShowUpdate"), QStringLiteral("0"));

    MainWindow form;
    QVERIFY(waitForUpdateCheck(form));
    QVERIFY(server.requests().isEmpty()); // switched off: no request at all
    QVERIFY(form.updateNotificationsAction->isEnabled());
    QVERIFY(!form.updateNotificationsAction->isChecked());

    form.updateNotificationsAction->trigger();
    QVERIFY(form.updateNotificationsAction->isChecked());
    QCOMPARE(updateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("1"));
    form.updateNotificationsAction->trigger();
    QVERIFY(!form.updateNotificationsAction->isChecked());
    QCOMPARE(updateSettings().value(QStringLiteral("Settings/ShowUpdate")).toString(), QStringLiteral("0"));
    qunsetenv("TESSALY_WEB_HOST");
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
