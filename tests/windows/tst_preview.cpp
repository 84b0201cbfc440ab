// The Preview window (offscreen, real files): its table against the CSV file that the same
// export writes, the first rows before the whole table, the work stopped when the window
// closes early, and its entries in the main window.

#include "windowtesting.h"

#include "testserver.h"

#include "core/startup.h"
#include "engine/loading.h"
#include "i18n/translate.h"
#include "windows/previewwindow.h"

#include "engine/recordingevents.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>

using namespace WindowTesting;

namespace {

const QString kCardsDir = QStringLiteral(TESSALY_TEST_DATA_DIR "/cards");
constexpr RowFormat kCommaFormat{u',', u'"'};

/* A CSV file as written (UTF-8 with its mark, CR LF, every field quoted): its rows, each as its fields. */
QList<QStringList> parseWrittenCsv(const QByteArray &bytes)
{
    QList<QStringList> rows;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    for (const QString &line : std::as_const(lines)) {
        QStringList fields;
        qsizetype at = 0;
        while (at < line.size()) {
            // A field is the text between two quote marks; the export removes every quote mark inside.
            const qsizetype close = line.indexOf(u'"', at + 1);
            if (line.at(at) != u'"' || close < 0) {
                qWarning("not a written CSV row: %s", qPrintable(line));
                return {};
            }
            fields.append(line.sliced(at + 1, close - at - 1));
            at = close + 2; // past the quote mark and the delimiter
        }
        rows.append(fields);
    }
    return rows;
}

/* The model's header and cells in the same form. */
QList<QStringList> modelTable(const QAbstractItemModel &model)
{
    QList<QStringList> rows;
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        header.append(model.headerData(column, Qt::Horizontal).toString());
    rows.append(header);
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells.append(model.data(model.index(row, column)).toString());
        rows.append(cells);
    }
    return rows;
}

/* Loads the files into a list of lines as the main window does. */
TextLines loadLines(const QStringList &paths)
{
    LoadedVcards loaded;
    for (const QString &path : paths) {
        if (appendVcfFile(path, TextEncoding::Utf8, loaded).kind != LoadOutcome::Loaded)
            qWarning("could not load %s", qPrintable(path));
    }
    return loaded.loadedLines;
}

/*
 * The number of this process's threads that Qt did not start: Qt names its threads ("Thread
 * (pooled)" for the raster painter's helpers, "QtTest Watchdog"), a std::thread keeps the
 * process's own name.
 */
qsizetype plainThreadCount()
{
    const QByteArray processName = readFile(QStringLiteral("/proc/self/comm"));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    qsizetype count = 0;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += readFile(tasks.filePath(task + u"/comm"_qs)) == processName ? 1 : 0;
    return count;
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TestWebServer::trustTestAuthority(); // no proxy between the window's update check and 127.0.0.1
        runStartup(QCoreApplication::applicationFilePath());
        clearActiveLanguage();
    }

    void init()
    {
        loadedCards().clearLoaded();
        Dialogs::setAnsweringMode(true);
    }

    void tableIsTheWrittenCsv_data();
    void tableIsTheWrittenCsv();
    void firstRowsComeBeforeTheWholeTable_data();
    void firstRowsComeBeforeTheWholeTable();
    void closingEarlyStopsTheWork();
    void mainWindowEntries();
    void allFieldsIsTheMainWindowsOption();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestPreview::tableIsTheWrittenCsv_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("preset");
    QTest::addColumn<bool>("sort");
    const QStringList folders = {u"preset-default"_qs,         u"duplicates-sorted"_qs, u"no-headers-no-sort"_qs,
                                 u"many-phones-and-emails"_qs, u"untidy-card-ends"_qs,  u"nested-and-agent-cards"_qs};
    const std::pair<const char *, CsvPreset> presets[] = {{"default", CsvPreset::Default},
                                                          {"excel", CsvPreset::Excel},
                                                          {"google", CsvPreset::Google},
                                                          {"outlook", CsvPreset::Outlook},
                                                          {"yahoo", CsvPreset::Yahoo}};
    for (const QString &folder : folders) {
        for (const auto &[name, preset] : presets) {
            for (const bool sort : {true, false})
                QTest::addRow("%s, %s, %s", qPrintable(folder), name, sort ? "sorted" : "file order")
                    << folder << int(preset) << sort;
        }
    }
}

void TestPreview::tableIsTheWrittenCsv()
{
    // The export writes the file with the preset's layout and a header row, in UTF-8 (the
    // preview shows text, not its encoding); the preview of the same lines shows the same table.
    QFETCH(QString, folder);
    QFETCH(int, preset);
    QFETCH(bool, sort);
    const TextLines lines = loadLines({kCardsDir + u'/' + folder + u"/input.vcf"_qs});
    QVERIFY(!lines.isEmpty());

    RecordingEvents host;
    host.options.sort = sort;
    const QString written = path(u"written.csv"_qs);
    const CsvFlavor flavor = applyCsvPreset(CsvPreset(preset), host.options);
    host.options.encoding = TextEncoding::Utf8;
    host.options.headers = true;
    QCOMPARE(runExport(lines, host.flavoredRequest(ExportType::Csv, flavor, written), host), ExportOutcome::Written);
    const QList<QStringList> expected = parseWrittenCsv(readFile(written));
    QVERIFY(expected.size() > 1);

    PreviewWindow window;
    QSignalSpy shown(&window, &PreviewWindow::tableShown);
    auto *combo = control<QComboBox>(window, "presetCombo");
    combo->setCurrentIndex(combo->findData(preset));
    window.showTable(lines, kCommaFormat, sort);
    QVERIFY(shown.wait());
    const QAbstractItemModel &model = *control<QTableView>(window, "previewTable")->model();
    QCOMPARE(modelTable(model), expected);

    // The counts line tells the export's counts and the file's shape.
    const QRegularExpressionMatch counts
        = QRegularExpression(u"^(\\d+) rows from (\\d+) contacts \\((\\d+) duplicates dropped\\)$"_qs)
              .match(host.messages.constLast().countsNote);
    QVERIFY2(counts.hasMatch(), qPrintable(host.messages.constLast().countsNote));
    QCOMPARE(counts.captured(1).toLongLong(), expected.size() - 1);
    QCOMPARE(control<QLabel>(window, "countsLabel")->text(),
             u"%1 contacts read, %2 rows after duplicates were dropped, %3 columns"_qs.arg(
                 counts.captured(2), counts.captured(1), QString::number(expected.constFirst().size())));
    QVERIFY(!window.isBuilding());
}

void TestPreview::firstRowsComeBeforeTheWholeTable_data()
{
    QTest::addColumn<bool>("sort");
    QTest::addColumn<QString>("firstRowsLine");
    // The tests run in an English locale, which groups digits by thousands with a comma.
    const QString counting = u"Still counting: the first 2,000 contacts give 2,000 rows in 2 columns."_qs;
    QTest::newRow("sorted") << true << counting + u" They are shown in file order until all rows are sorted."_qs;
    QTest::newRow("file order") << false << counting;
}

void TestPreview::firstRowsComeBeforeTheWholeTable()
{
    // The first cards' rows come first, in file order and marked as such; then the whole table
    // replaces them, which is the written file's.
    QFETCH(bool, sort);
    QFETCH(QString, firstRowsLine);
    const TextLines lines = loadLines({writeFile(path(u"5000.vcf"_qs), makeCards(5000, u"Card"_qs))});

    PreviewWindow window;
    QList<QStringList> firstTable;
    QString firstLine;
    connect(&window, &PreviewWindow::firstRowsShown, this, [&] {
        firstTable = modelTable(*control<QTableView>(window, "previewTable")->model());
        firstLine = control<QLabel>(window, "countsLabel")->text();
    });
    QSignalSpy shown(&window, &PreviewWindow::tableShown);
    window.showTable(lines, kCommaFormat, sort);
    QVERIFY(shown.wait(60000));

    QCOMPARE(firstTable.size(), 1 + kPreviewFirstCards);
    QCOMPARE(firstTable.constFirst(), (QStringList{u"Name"_qs, u"Phone"_qs}));
    QCOMPARE(firstTable.at(1), (QStringList{u"Card 1"_qs, u"+1 555 1001"_qs}));
    QCOMPARE(firstTable.at(2).constFirst(), u"Card 2"_qs);
    QCOMPARE(firstTable.constLast().constFirst(), u"Card 2000"_qs);
    QCOMPARE(firstLine, firstRowsLine);

    RecordingEvents host;
    host.options.sort = sort;
    const QString written = path(u"5000.csv"_qs);
    QCOMPARE(runExport(lines, host.request(ExportType::Csv, written, kCommaFormat), host), ExportOutcome::Written);
    const QList<QStringList> whole = modelTable(*control<QTableView>(window, "previewTable")->model());
    QCOMPARE(whole, parseWrittenCsv(readFile(written)));
    QCOMPARE(whole.at(2).constFirst(), sort ? u"Card 10"_qs : u"Card 2"_qs);
    QCOMPARE(control<QLabel>(window, "countsLabel")->text(),
             u"5,000 contacts read, 5,000 rows after duplicates were dropped, 2 columns"_qs);
}

void TestPreview::closingEarlyStopsTheWork()
{
    // The window closes while its thread starts on the whole table: the work stops there, the
    // window and its thread go, and the table is never finished.
    const TextLines lines = loadLines({writeFile(path(u"large.vcf"_qs), makeCards(300000, u"Large"_qs))});
    std::atomic<bool> closed = false;
    std::atomic<bool> started = false;
    std::atomic<bool> finished = false;
    auto *window = new PreviewWindow;
    const QPointer<PreviewWindow> alive(window);
    window->setRunObserver([&](ExportStage stage, int percent) {
        if (stage == ExportStage::Done)
            finished = true;
        if (percent == 0) {
            started = true;
            holdUntil(closed);
        }
    });
    const qsizetype threadsBefore = plainThreadCount();
    window->show();
    window->showTable(lines, kCommaFormat, true);
    QVERIFY(QTest::qWaitFor([&] { return started.load(); }, 30000));
    QTRY_COMPARE(control<QTableView>(window, "previewTable")->model()->rowCount(), int(kPreviewFirstCards));
    QVERIFY(window->isBuilding());
    QCOMPARE(plainThreadCount(), threadsBefore + 1); // the run's own, waiting at the start of the whole table

    window->close();
    closed = true;
    QTRY_VERIFY(alive.isNull()); // deleted, which waits for the thread
    QCOMPARE(plainThreadCount(), threadsBefore);
    QVERIFY(!finished);
}

void TestPreview::mainWindowEntries()
{
    MainWindow form;
    auto *preview = control<QAction>(form, "previewAction");
    QCOMPARE(preview->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    QVERIFY(control<QMenu>(form, "fileMenu")->actions().contains(preview));
    QVERIFY(control<QMenu>(form, "exportMenu")->actions().contains(preview));
    QVERIFY(!preview->isEnabled()); // nothing loaded yet

    form.loadFile(writeFile(path(u"three.vcf"_qs), "BEGIN:VCARD\r\nFN:Cara\r\nEND:VCARD\r\n"
                                                   "BEGIN:VCARD\r\nFN:abe\r\nTEL:555 0101\r\nEND:VCARD\r\n"
                                                   "BEGIN:VCARD\r\nFN:Bea\r\nEND:VCARD\r\n"));
    QVERIFY(preview->isEnabled());
    control<QCheckBox>(form, "headersCheck")->setChecked(false);
    preview->trigger();
    QTRY_VERIFY(form.findChild<PreviewWindow *>() != nullptr);
    PreviewWindow *window = form.findChild<PreviewWindow *>();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), u"Preview"_qs);
    QCOMPARE(control<QLabel>(*window, "presetLabel")->text(), u"&Layout:"_qs);
    const QAbstractItemModel *model = control<QTableView>(*window, "previewTable")->model();
    const auto names = [model] {
        QStringList shown;
        for (int row = 0; row < model->rowCount(); ++row)
            shown.append(model->index(row, 0).data().toString());
        return shown;
    };
    // Sorted as the main window's Sort says, letter case aside; the header shows although Headers is off.
    QTRY_COMPARE(names(), (QStringList{u"abe"_qs, u"Bea"_qs, u"Cara"_qs}));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), u"Phone"_qs);

    // A layout chosen in the preview changes none of the main window's controls.
    auto *combo = control<QComboBox>(*window, "presetCombo");
    QCOMPARE(combo->count(), 5);
    QCOMPARE(combo->itemText(3), u"Outlook CSV Format"_qs);
    QSignalSpy shown(window, &PreviewWindow::tableShown);
    combo->setCurrentIndex(3);
    QVERIFY(shown.wait());
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), u"First Name"_qs);
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), u"Home Phone"_qs);
    QVERIFY(control<QRadioButton>(form, "utf8Radio")->isChecked());
    QVERIFY(!control<QCheckBox>(form, "headersCheck")->isChecked());
    QCOMPARE(form.exportFlavor(), CsvFlavor::Plain);

    // The Sort check box is followed while the window is open.
    control<QCheckBox>(form, "sortCheck")->setChecked(false);
    QVERIFY(shown.wait());
    QCOMPARE(names(), (QStringList{u"Cara"_qs, u"abe"_qs, u"Bea"_qs}));

    // "Clear" disables the entry; the open window keeps the table it shows.
    form.clearLoaded();
    QVERIFY(!preview->isEnabled());
    QCOMPARE(model->rowCount(), 3);

    // Choosing the entry again shows the same window with what is loaded then.
    form.loadFile(writeFile(path(u"one.vcf"_qs), makeCards(1, u"Dan"_qs)));
    preview->trigger();
    QVERIFY(shown.wait());
    QCOMPARE(form.findChildren<PreviewWindow *>().size(), 1);
    QCOMPARE(names(), QStringList{u"Dan 1"_qs});
    QCOMPARE(control<QLabel>(*window, "countsLabel")->text(),
             u"1 contacts read, 1 rows after duplicates were dropped, 2 columns"_qs);
}

void TestPreview::allFieldsIsTheMainWindowsOption()
{
    // One option: the preview opens with the export menu's choice, a click on either side moves
    // the other and settings.ini, and every table the preview builds asks for that model.
    const OwnDataFolder data;
    MainWindow form;
    form.loadFile(writeFile(path(u"option.vcf"_qs), makeCards(3, u"Option"_qs)));
    auto *entry = control<QAction>(form, "allFieldsAction");
    entry->trigger();
    QTRY_VERIFY(readFile(data.settingsPath()).contains("AllFields=1\r\n"));

    form.openPreview();
    auto *window = form.findChild<PreviewWindow *>();
    QVERIFY(window);
    auto *check = control<QCheckBox>(*window, "allFieldsCheck");
    auto *combo = control<QComboBox>(*window, "presetCombo");
    // Each change starts a run at once, and nothing below lets it end before it is looked at.
    // The newest run is the last child; an ended one may wait for its deletion before it.
    const auto newestRequest = [window] {
        const QList<PreviewRun *> runs = window->findChildren<PreviewRun *>();
        if (runs.isEmpty())
            qFatal("the preview has no run");
        return runs.constLast()->request();
    };
    QVERIFY(check->isChecked());
    QCOMPARE(check->text(), u"&All fields"_qs);
    QCOMPARE(newestRequest().columns, ColumnModel::AllFields);
    QCOMPARE(combo->itemText(4), u"Yahoo CSV Format (15 columns)"_qs);

    check->click();
    QCOMPARE(newestRequest().columns, ColumnModel::Fifteen);
    QVERIFY(!entry->isChecked());
    QCOMPARE(combo->itemText(4), u"Yahoo CSV Format"_qs);
    QCOMPARE(control<QAction>(form, "yahooCsvAction")->text(), u"&Yahoo CSV Format"_qs);
    QVERIFY(readFile(data.settingsPath()).contains("AllFields=0\r\n"));

    combo->setCurrentIndex(2); // Google's layout keeps the model
    QCOMPARE(newestRequest().preset, CsvPreset::Google);
    QCOMPARE(newestRequest().columns, ColumnModel::Fifteen);
    entry->trigger();
    QCoreApplication::sendPostedEvents(&form, QEvent::MetaCall); // the entry's queued handler, alone
    QVERIFY(check->isChecked());
    QCOMPARE(newestRequest().preset, CsvPreset::Google);
    QCOMPARE(newestRequest().columns, ColumnModel::AllFields);
    QVERIFY(readFile(data.settingsPath()).contains("AllFields=1\r\n"));
    QTRY_VERIFY(!window->isBuilding());
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
