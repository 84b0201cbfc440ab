// Exports from the main window as jobs on worker threads: the progress shown, the snapshot each
// job takes of the loaded cards, several exports at once, failures while a job runs and
// closing the window during an export (offscreen platform, real files).

#include "windowtesting.h"

#include "testserver.h"

#include "core/startup.h"
#include "i18n/translate.h"
#include "platform/terminationsignal.h"

#include <QAction>
#include <QApplication>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

#include <atomic>
#include <csignal>

using namespace WindowTesting;

class TestExportJobs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void noDataFound();
    void exportButtonDuringJob();
    void secondExportWhileFirstWrites();
    void clearAndLoadRightAfterTheStart();
    void destroyingTheWindowStopsItsExport();
    void stoppingFromTheWindow_data();
    void stoppingFromTheWindow();
    void terminationSignalStopsAndEnds();
    void clearLoadAndExportWhileAWorkbookIsWritten();
    void outputFolderRemovedDuringJob_data();
    void outputFolderRemovedDuringJob();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    /* A folder of its own with an old file at name in it; returns the file's path. */
    static QString oldFileIn(const QTemporaryDir &folder, const QString &name);
    /* The names in folder: a stopped export leaves only the old file. */
    static QStringList namesIn(const QTemporaryDir &folder);
};

QString TestExportJobs::oldFileIn(const QTemporaryDir &folder, const QString &name)
{
    return writeFile(folder.filePath(name), "old");
}

QStringList TestExportJobs::namesIn(const QTemporaryDir &folder)
{
    return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

void TestExportJobs::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestWebServer::trustTestAuthority(); // no proxy between the window's update check and 127.0.0.1
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
}

void TestExportJobs::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestExportJobs::cleanup()
{
    clearActiveLanguage();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

void TestExportJobs::noDataFound()
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
    QVERIFY(control<GlyphButton>(form, "exportButton")->isEnabled());
}

void TestExportJobs::exportButtonDuringJob()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("ten.vcf")), makeCards(10, QStringLiteral("Ten"))));
    const QString target = path(QStringLiteral("ten.txt"));
    answerSave(target, 4);

    QList<int> progress;
    QList<bool> buttonAtProgress;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        progress.append(value);
        buttonAtProgress.append(control<GlyphButton>(form, "exportButton")->isEnabled());
        QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), value);
    });
    // The export waits at its writing stage until the window has taken that report.
    std::atomic<bool> windowReachedWriting = false;
    form.setExportObserver([&](ExportStage stage, int) {
        if (stage == ExportStage::Writing)
            holdUntil(windowReachedWriting);
    });
    bool enabledBeforeWriting = false;
    connect(&form, &MainWindow::exportControlsEnabled, &form, [&] {
        enabledBeforeWriting = form.runningJobs() == 1 && !QFileInfo::exists(target)
                               && control<GlyphButton>(form, "exportButton")->isEnabled();
        windowReachedWriting = true;
    });
    int beepsWhileBuilding = -1;
    bool boxSeenWithButtonEnabled = false;
    Dialogs::setMessageHandler([&](const Dialogs::ShownMessage &) {
        boxSeenWithButtonEnabled = control<GlyphButton>(form, "exportButton")->isEnabled()
                                   && control<QProgressBar>(form, "progressBar")->value() == 100
                                   && QFileInfo::exists(target) && QApplication::overrideCursor() != nullptr;
    });
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (value == 10) {
            // The File menu's export entry only beeps while the job builds its rows.
            const int before = Dialogs::beepCount();
            control<QAction>(form, "exportAction")->trigger();
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

void TestExportJobs::secondExportWhileFirstWrites()
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
    // The first export waits at its writing stage until the second has started.
    std::atomic<bool> secondStarted = false;
    form.setExportObserver([&](ExportStage stage, int) {
        if (stage == ExportStage::Writing)
            holdUntil(secondStarted);
    });
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
    // Each export counts its own snapshot: four cards, then the two loaded in their place.
    QCOMPARE(texts, QStringList({QStringLiteral("Process completed!\r\rFilename: ") + first
                                     + QStringLiteral("\r\r4 rows from 4 contacts (0 duplicates dropped)"),
                                 QStringLiteral("Process completed!\r\rFilename: ") + second
                                     + QStringLiteral("\r\r2 rows from 2 contacts (0 duplicates dropped)")}));
}

void TestExportJobs::clearAndLoadRightAfterTheStart()
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

void TestExportJobs::destroyingTheWindowStopsItsExport()
{
    // Nothing runs on without its window: the export stops and leaves the old file.
    auto *form = new MainWindow;
    form->loadFile(writeFile(path(QStringLiteral("closing.vcf")), makeCards(100000, QStringLiteral("Closing"))));
    QTemporaryDir folder;
    const QString target = oldFileIn(folder, QStringLiteral("closing.csv"));
    answerSave(target);
    form->exportDefaultCsv();
    QCOMPARE(form->runningJobs(), 1);
    delete form;
    QVERIFY(Dialogs::takeShownMessages().isEmpty()); // the message went to standard error
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(namesIn(folder), QStringList{QStringLiteral("closing.csv")});
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestExportJobs::stoppingFromTheWindow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("byKey"); // Esc instead of the File menu's entry
    QTest::addColumn<int>("stopAt"); // the progress value after which the user stops
    QTest::newRow("csv, Stop Export while the rows are built") << QStringLiteral("out.csv") << false << 21;
    QTest::newRow("csv, Esc at once") << QStringLiteral("out.csv") << true << 0;
    QTest::newRow("xlsx, Esc while the rows are written") << QStringLiteral("out.xlsx") << true << 85;
    QTest::newRow("xls, Stop Export while writing") << QStringLiteral("out.xls") << false << 81;
}

void TestExportJobs::stoppingFromTheWindow()
{
    QFETCH(QString, name);
    QFETCH(bool, byKey);
    QFETCH(int, stopAt);
    MainWindow form;
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.loadFile(writeFile(path(QStringLiteral("stop.vcf")), makeCards(60000, QStringLiteral("Stop"))));
    QTemporaryDir folder;
    const QString target = oldFileIn(folder, name);
    // The export waits at the report until the user has stopped it.
    std::atomic<bool> stopped = false;
    form.setExportObserver([&](ExportStage, int value) {
        if (value >= stopAt)
            holdUntil(stopped);
    });
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (stopped || value < stopAt || form.runningJobs() == 0)
            return;
        stopped = true;
        QVERIFY(control<QAction>(form, "stopExportAction")->isEnabled());
        if (byKey)
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            control<QAction>(form, "stopExportAction")->trigger();
    });
    answerSave(target, name.endsWith(QStringLiteral(".csv")) ? 3 : 2);
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(stopped);
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).text, QStringLiteral("The export was stopped. Nothing was written."));
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(namesIn(folder), QStringList{name});
    QVERIFY(!control<QAction>(form, "stopExportAction")->isEnabled());
    QVERIFY(control<GlyphButton>(form, "exportButton")->isEnabled());
    QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), 0);
}

void TestExportJobs::terminationSignalStopsAndEnds()
{
    // SIGTERM during an export: no question, the export stops, and the program ends at once.
    MainWindow form;
    QVERIFY(onTerminationSignal(&form, [&form] { form.endOnTerminationSignal(); }));
    form.show();
    form.loadFile(writeFile(path(QStringLiteral("signal.vcf")), makeCards(100000, QStringLiteral("Signal"))));
    QTemporaryDir folder;
    const QString target = oldFileIn(folder, QStringLiteral("signal.csv"));
    std::atomic<bool> sent = false;
    form.setExportObserver([&](ExportStage, int value) {
        if (value >= 21)
            holdUntil(sent);
    });
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (sent || value < 21)
            return;
        sent = true;
        std::raise(SIGTERM);
    });
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    safety.start(30000);
    answerSave(target);
    form.exportDefaultCsv();
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(sent);
    QCOMPARE(form.runningJobs(), 0);
    QVERIFY(Dialogs::takeAskedDialogs().isEmpty());
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(namesIn(folder), QStringList{QStringLiteral("signal.csv")});
}

void TestExportJobs::clearLoadAndExportWhileAWorkbookIsWritten()
{
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("book.vcf")), makeCards(3000, QStringLiteral("Book"))));
    const QString later = writeFile(path(QStringLiteral("meanwhile.vcf")), makeCards(2, QStringLiteral("Meanwhile")));
    const QString book = path(QStringLiteral("written meanwhile.xlsx"));
    const QString csv = path(QStringLiteral("meanwhile.csv"));

    // Once the first job is adding rows to its workbook: Clear, load, and a second export. The
    // job waits there until the window has done so.
    std::atomic<bool> done = false;
    form.setExportObserver([&](ExportStage stage, int value) {
        if (stage == ExportStage::Writing && value > 85)
            holdUntil(done);
    });
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
    reader.start(
        QStringLiteral("/usr/bin/python3"),
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

void TestExportJobs::outputFolderRemovedDuringJob_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("removeAt"); // the progress value at which the folder goes
    QTest::newRow("csv, while scanning") << QStringLiteral("out.csv") << 10;
    QTest::newRow("txt, while scanning") << QStringLiteral("out.txt") << 10;
    QTest::newRow("xls, while scanning") << QStringLiteral("out.xls") << 10;
    QTest::newRow("xlsx, while scanning") << QStringLiteral("out.xlsx") << 10;
    QTest::newRow("xlsx, while writing its rows") << QStringLiteral("out.xlsx") << 90;
}

void TestExportJobs::outputFolderRemovedDuringJob()
{
    QFETCH(QString, name);
    QFETCH(int, removeAt);
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("removed.vcf")), makeCards(50, QStringLiteral("Removed"))));
    const QString folder = path(QStringLiteral("going away"));
    const QString target = folder + u'/' + name;
    QDir().mkpath(folder);
    std::atomic<bool> removed = false;
    form.setExportObserver([&](ExportStage, int value) {
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
    // No temporary file of the export is held open: removed, it would keep its disk space
    // until the program ends.
    QCOMPARE(openFilesIn(folder), QStringList());
    QVERIFY(control<GlyphButton>(form, "exportButton")->isEnabled());
    QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), 0);
}

QTEST_MAIN(TestExportJobs)
#include "tst_exportjobs.moc"
