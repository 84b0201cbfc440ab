// The main window's export menu: its entries, the export button that opens it, what each entry
// sets before the save dialog (encoding, Headers, CSV layout, file type), the save dialog's
// settings and answers, and the files written (offscreen platform, real files).

#include "windowtesting.h"

#include "testserver.h"

#include "core/startup.h"
#include "i18n/translate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>

using namespace WindowTesting;

class TestExportMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void menuEntries();
    void exportButtonOpensMenuUnderIt();
    void fileMenuExportBeepsWhenDisabled();
    void exportPresets_data();
    void exportPresets();
    void xlsAfterYahooKeepsFlavour();
    void wholeExportToCsv();
    void ansiExportTellsWhatBecameQuestionMarks();
    void utf8FileAfterTheOutlookPresetKeepsItsLetters();
    void allFieldsIsRememberedAndReachesTheExports();
    void allFieldsNotStoredIsReported();
    void leftOutNoteFollowsTheOtherNotes();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The real clock, put back in cleanup() whatever the case did.
    const std::function<quint32()> m_clock = MenuUnderButton::clock;
};

void TestExportMenu::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestWebServer::trustTestAuthority(); // no proxy between the window's update check and 127.0.0.1
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
}

void TestExportMenu::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestExportMenu::cleanup()
{
    MenuUnderButton::clock = m_clock;
    clearActiveLanguage();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

void TestExportMenu::menuEntries()
{
    MainWindow form;
    QCOMPARE(
        actionTexts(control<QMenu>(form, "exportMenu")->actions()),
        QStringList({QStringLiteral("&Comma-Separated Values File (CSV)..."), QStringLiteral("&Excel File (XLS)..."),
                     QStringLiteral("&Text File (TXT)..."), QStringLiteral("-"), QStringLiteral("&All fields"),
                     QStringLiteral("-"), QStringLiteral("&Preview..."), QStringLiteral("&Stop Export")}));
    QVERIFY(control<QAction>(form, "allFieldsAction")->isCheckable());
    QCOMPARE(control<QMenu>(form, "exportMenu")->actions().constLast(),
             control<QAction>(form, "stopExportAction"));              // the File menu's entry
    QVERIFY(!control<QAction>(form, "stopExportAction")->isEnabled()); // until an export runs
    QCOMPARE(control<QMenu>(form, "exportMenu")->actions().constFirst()->menu(), control<QMenu>(form, "csvMenu"));
    QCOMPARE(actionTexts(control<QMenu>(form, "csvMenu")->actions()),
             QStringList({QStringLiteral("&Default CSV Format"), QStringLiteral("&Excel CSV Format"),
                          QStringLiteral("&Google CSV Format"), QStringLiteral("&Outlook CSV Format"),
                          QStringLiteral("&Yahoo CSV Format")}));
    // Every command has an icon; the option shows its check mark instead.
    for (QMenu *menu : {control<QMenu>(form, "exportMenu"), control<QMenu>(form, "csvMenu")}) {
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator())
                QVERIFY2(action->icon().isNull() == action->isCheckable(), qPrintable(action->text()));
        }
    }
}

void TestExportMenu::exportButtonOpensMenuUnderIt()
{
    // The guard's timing is tested with MenuUnderButton; here only that the button uses it.
    quint32 now = 5000;
    MenuUnderButton::clock = [&now] { return now; };
    MainWindow form;
    form.show();
    form.loadFile(writeFile(path(QStringLiteral("menu.vcf")), makeCards(1, QStringLiteral("Menu"))));
    MenuWatch watch(control<QMenu>(form, "exportMenu"));

    control<GlyphButton>(form, "exportButton")->click();
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.lastPos, control<GlyphButton>(form, "exportButton")
                                ->mapToGlobal(QPoint(0, control<GlyphButton>(form, "exportButton")->height())));
    // The click that closes the menu reaches the button at once and opens nothing.
    control<GlyphButton>(form, "exportButton")->click();
    QCOMPARE(watch.shown, 1);
    control<GlyphButton>(form, "exportButton")->click();
    QCOMPARE(watch.shown, 2);
}

void TestExportMenu::fileMenuExportBeepsWhenDisabled()
{
    MainWindow form;
    MenuWatch watch(control<QMenu>(form, "exportMenu"));
    control<QAction>(form, "exportAction")->trigger();
    QCOMPARE(Dialogs::beepCount(), 1);
    QCOMPARE(watch.shown, 0);
    form.loadFile(writeFile(path(QStringLiteral("beep.vcf")), makeCards(1, QStringLiteral("Beep"))));
    control<QAction>(form, "exportAction")->trigger();
    QCOMPARE(Dialogs::beepCount(), 1);
    QCOMPARE(watch.shown, 1);
}

void TestExportMenu::exportPresets_data()
{
    QTest::addColumn<QString>("entry");      // the menu entry's object name
    QTest::addColumn<int>("encodingBefore"); // 1 ANSI, 2 UTF-8, 3 UTF-16
    QTest::addColumn<bool>("headersBefore");
    QTest::addColumn<int>("encodingAfter");
    QTest::addColumn<bool>("headersAfter");
    QTest::addColumn<CsvFlavor>("flavourAfter"); // XLS and TXT keep the flavour from before, Outlook
    QTest::addColumn<int>("filterIndex");

    QTest::newRow("Default, UTF-16") << "defaultCsvAction" << 3 << false << 3 << false << CsvFlavor::Plain << 3;
    QTest::newRow("Excel CSV, ANSI") << "excelCsvAction" << 1 << false << 3 << false << CsvFlavor::Plain << 3;
    QTest::newRow("Google, ANSI") << "googleCsvAction" << 1 << false << 1 << true << CsvFlavor::Google << 3;
    QTest::newRow("Google, UTF-16") << "googleCsvAction" << 3 << false << 2 << true << CsvFlavor::Google << 3;
    QTest::newRow("Outlook, UTF-8") << "outlookCsvAction" << 2 << false << 1 << true << CsvFlavor::Outlook << 3;
    QTest::newRow("Yahoo, UTF-16") << "yahooCsvAction" << 3 << true << 2 << true << CsvFlavor::Yahoo << 3;
    QTest::newRow("Yahoo, ANSI") << "yahooCsvAction" << 1 << false << 1 << true << CsvFlavor::Yahoo << 3;
    QTest::newRow("XLS, UTF-16") << "xlsAction" << 3 << false << 3 << false << CsvFlavor::Outlook << 1;
    QTest::newRow("TXT, ANSI") << "txtAction" << 1 << true << 1 << true << CsvFlavor::Outlook << 4;
}

void TestExportMenu::exportPresets()
{
    QFETCH(QString, entry);
    QFETCH(int, encodingBefore);
    QFETCH(bool, headersBefore);
    QFETCH(int, encodingAfter);
    QFETCH(bool, headersAfter);
    QFETCH(CsvFlavor, flavourAfter);
    QFETCH(int, filterIndex);

    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("presets.vcf")), makeCards(2, QStringLiteral("Preset"))));
    form.exportOutlookCsv(); // cancelled; leaves the Outlook flavour
    QRadioButton *radios[] = {control<QRadioButton>(form, "ansiRadio"), control<QRadioButton>(form, "utf8Radio"),
                              control<QRadioButton>(form, "utf16Radio")};
    radios[encodingBefore - 1]->setChecked(true);
    control<QCheckBox>(form, "headersCheck")->setChecked(headersBefore);
    control<QCheckBox>(form, "sortCheck")->setChecked(false);
    Dialogs::takeSaveRequests();

    // The entry is chosen from the menu; no answer is queued, so the save dialog is cancelled.
    QAction *action = control<QAction>(form, qPrintable(entry));
    QVERIFY(action);
    action->trigger();
    QList<Dialogs::SaveRequest> requests;
    QTRY_VERIFY(!(requests += Dialogs::takeSaveRequests()).isEmpty());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).filterIndex, filterIndex);

    QVERIFY(radios[encodingAfter - 1]->isChecked());
    QCOMPARE(control<QCheckBox>(form, "headersCheck")->isChecked(), headersAfter);
    QVERIFY(!control<QCheckBox>(form, "sortCheck")->isChecked()); // Sort is never changed
    QCOMPARE(form.exportFlavor(), flavourAfter);
    QCOMPARE(form.runningJobs(), 0);
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
    QTest::qWait(20);
    QCOMPARE(form.runningJobs(), 0);
}

void TestExportMenu::xlsAfterYahooKeepsFlavour()
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
    QCOMPARE(form.exportFlavor(), CsvFlavor::Yahoo);
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

void TestExportMenu::wholeExportToCsv()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("whole.vcf")), makeCards(3, QStringLiteral("Whole"))));
    const QString target = path(QStringLiteral("out dir/whole export.csv"));
    QDir().mkpath(QFileInfo(target).absolutePath());
    answerSave(target);
    control<QAction>(form, "defaultCsvAction")->trigger();
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
    QCOMPARE(messages.at(0).text, QStringLiteral("Process completed!\r\rFilename: ") + target
                                      + QStringLiteral("\r\r3 rows from 3 contacts (0 duplicates dropped)"));
    QCOMPARE(Dialogs::displayText(messages.at(0).text),
             QStringLiteral("Process completed!\n\nFilename: ") + target
                 + QStringLiteral("\n\n3 rows from 3 contacts (0 duplicates dropped)"));

    const QByteArray written = readFile(target);
    QVERIFY(written.startsWith("\xef\xbb\xbf\"Name\""));
    QVERIFY(written.contains("\"Whole 1\""));
    QVERIFY(written.contains("\"Whole 3\""));
    QVERIFY(written.endsWith("\r\n"));
    QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), 0);
    QVERIFY(control<GlyphButton>(form, "exportButton")->isEnabled());
}

void TestExportMenu::ansiExportTellsWhatBecameQuestionMarks()
{
    // The Outlook preset writes ANSI (code page 1252 in the tests' English locale): the file is
    // written as asked, and the success box says what became "?" and that UTF-8 keeps it.
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("names.vcf")),
                            "BEGIN:VCARD\r\nFN:Ay\xC5\x9F"
                            "e Y\xC4\xB1lmaz\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nFN:\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nFN:J\xC3\xBCrgen\r\nEND:VCARD\r\n"));
    const QString target = path(QStringLiteral("outlook.csv"));
    answerSave(target);
    form.exportOutlookCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(control<QRadioButton>(form, "ansiRadio")->isChecked());

    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Information);
    QCOMPARE(messages.at(0).caption, QStringLiteral("SUCCESS"));
    QCOMPARE(Dialogs::displayText(messages.at(0).text),
             QStringLiteral("Process completed!\n\nFilename: ") + target
                 + QStringLiteral("\n\n3 rows from 3 contacts (0 duplicates dropped)")
                 + QStringLiteral("\n\nThe Outlook format is written in ANSI; characters it cannot hold were written "
                                  "as \"?\": 6, in 2 of the rows."));
    const QByteArray written = readFile(target);
    QVERIFY(written.contains("\"Ay?e Y?lmaz\""));
    QVERIFY(written.contains("\"?? ??\""));
    QVERIFY(written.contains("\"J\xFCrgen\""));
}

void TestExportMenu::utf8FileAfterTheOutlookPresetKeepsItsLetters()
{
    // The Outlook preset leaves the encoding at ANSI; a UTF-8 file loaded next still reads as
    // UTF-8, without a word, and its names reach the next export whole.
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("first.vcf")), "BEGIN:VCARD\r\nFN:Ann Lee\r\nEND:VCARD\r\n"));
    answerSave(path(QStringLiteral("first.csv")));
    form.exportOutlookCsv();
    QVERIFY(waitForJobs(form));
    Dialogs::takeShownMessages();
    QVERIFY(control<QRadioButton>(form, "ansiRadio")->isChecked());

    form.loadFile(writeFile(path(QStringLiteral("utf8.vcf")),
                            "BEGIN:VCARD\r\nFN:Zo\xC3\xAB M\xC3\xBCller\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nFN:Ay\xC5\x9F"
                            "e Y\xC4\xB1lmaz\r\nEND:VCARD\r\n"));
    QVERIFY(Dialogs::takeShownMessages().isEmpty());
    QVERIFY(control<QRadioButton>(form, "ansiRadio")->isChecked());

    const QString target = path(QStringLiteral("second.csv"));
    answerSave(target);
    form.exportOutlookCsv();
    QVERIFY(waitForJobs(form));
    Dialogs::takeShownMessages();
    const QByteArray written = readFile(target);
    QVERIFY(written.contains("\"Zo\xEB M\xFCller\""));
    QVERIFY(written.contains("\"Ay?e Y?lmaz\"")); // ANSI lacks these two letters, not the mojibake's
    QVERIFY(!written.contains("\xC3"));
}

void TestExportMenu::allFieldsIsRememberedAndReachesTheExports()
{
    const OwnDataFolder data;
    const QString yahoo = QStringLiteral("&Yahoo CSV Format");
    {
        MainWindow form;
        auto *entry = control<QAction>(form, "allFieldsAction");
        QVERIFY(!entry->isChecked()); // off while settings.ini does not say otherwise
        QCOMPARE(control<QAction>(form, "yahooCsvAction")->text(), yahoo);
        entry->trigger();
        QTRY_COMPARE(readFile(data.settingsPath()), QByteArray("\xEF\xBB\xBF[Settings]\r\nAllFields=1\r\n\r\n"));
        // Yahoo's layout keeps its fifteen columns, and its entry says so.
        QCOMPARE(control<QAction>(form, "yahooCsvAction")->text(), yahoo + QStringLiteral(" (15 columns)"));
    }

    // A new window starts with the stored choice, and its exports and presets go by it: Google's
    // layout with All fields writes UTF-8 whatever the encoding chosen.
    MainWindow form;
    auto *entry = control<QAction>(form, "allFieldsAction");
    QVERIFY(entry->isChecked());
    QCOMPARE(control<QAction>(form, "yahooCsvAction")->text(), yahoo + QStringLiteral(" (15 columns)"));
    form.loadFile(writeFile(path(QStringLiteral("all.vcf")), makeCards(2, QStringLiteral("All"))));
    control<QRadioButton>(form, "ansiRadio")->setChecked(true);
    answerSave(path(QStringLiteral("all.csv")));
    form.exportGoogleCsv();
    QVERIFY(control<QRadioButton>(form, "utf8Radio")->isChecked());
    // The run holds its own copy of the request until the window has taken its end.
    QList<ExportRun *> runs = form.findChildren<ExportRun *>();
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.at(0)->request().flavor, CsvFlavor::Google);
    QCOMPARE(runs.at(0)->request().columns, ColumnModel::AllFields);
    QVERIFY(waitForJobs(form));

    // Cleared again: stored, and the next export (a workbook) has the fifteen columns.
    entry->trigger();
    QTRY_COMPARE(readFile(data.settingsPath()), QByteArray("\xEF\xBB\xBF[Settings]\r\nAllFields=0\r\n\r\n"));
    QCOMPARE(control<QAction>(form, "yahooCsvAction")->text(), yahoo);
    answerSave(path(QStringLiteral("fifteen.xlsx")), 2);
    form.exportXls();
    runs = form.findChildren<ExportRun *>();
    QVERIFY(!runs.isEmpty());
    QCOMPARE(runs.constLast()->request().columns, ColumnModel::Fifteen); // the newest child
    QVERIFY(waitForJobs(form));
    QCOMPARE(Dialogs::takeShownMessages().size(), 2); // the two exports' results, no error
}

void TestExportMenu::allFieldsNotStoredIsReported()
{
    const OwnDataFolder data;
    QVERIFY(QDir().mkpath(data.settingsPath() + QStringLiteral("/inside"))); // a folder where the file goes
    MainWindow form;
    control<QAction>(form, "allFieldsAction")->trigger();
    QList<Dialogs::ShownMessage> shown;
    QTRY_VERIFY(!(shown += Dialogs::takeShownMessages()).isEmpty());
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).icon, MessageIcon::Error);
    QCOMPARE(shown.at(0).caption, QStringLiteral("ERROR"));
    QVERIFY2(shown.at(0).text.contains(data.settingsPath()), qPrintable(shown.at(0).text));
    // The choice holds until the program ends all the same.
    QCOMPARE(form.columnModel(), ColumnModel::AllFields);
}

void TestExportMenu::leftOutNoteFollowsTheOtherNotes()
{
    // A message of a run takes the window's own way to the box: the run's signal, the queue of
    // boxes, the text joined from its parts.
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("noted.vcf")), makeCards(2, QStringLiteral("Noted"))));
    answerSave(path(QStringLiteral("noted.csv")));
    form.exportDefaultCsv();
    auto *run = form.findChild<ExportRun *>();
    QVERIFY(run);
    ExportMessage message;
    message.caption = QStringLiteral("SUCCESS");
    message.paragraphs = {QStringLiteral("Process completed!"), QStringLiteral("Filename: noted.csv")};
    message.countsNote = QStringLiteral("2 rows from 2 contacts (0 duplicates dropped)");
    message.encodingNote = QStringLiteral("Some characters became \"?\".");
    message.leftOutNote = QStringLiteral("3 values had no column (2 phones, 1 birthday); All fields keeps them.");
    Q_EMIT run->messageReady(message);
    QVERIFY(waitForJobs(form));

    const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
    QCOMPARE(shown.size(), 2); // this one, then the export's own
    QCOMPARE(shown.at(0).icon, MessageIcon::Information);
    QCOMPARE(Dialogs::displayText(shown.at(0).text),
             QStringLiteral("Process completed!\n\nFilename: noted.csv\n\n2 rows from 2 contacts (0 duplicates "
                            "dropped)\n\nSome characters became \"?\".\n\n3 values had no column (2 phones, 1 "
                            "birthday); All fields keeps them."));
}

QTEST_MAIN(TestExportMenu)
#include "tst_exportmenu.moc"
