#include "csvtable.h"
#include "recordingevents.h"
#include "testfiles.h"
#include "workbookdump.h"

#include "engine/conversionjob.h"
#include "engine/workbookexport.h"
#include "engine/xlsxfile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

/* Cards whose values a spreadsheet would be tempted to reinterpret. */
TextLines trickyCards()
{
    return TextLines::fromStringList({
        u"BEGIN:VCARD"_qs,
        u"FN:Şişli İğdır"_qs,
        u"TEL:0555 123"_qs,
        u"NOTE:+1-2"_qs,
        u"END:VCARD"_qs,
        u"BEGIN:VCARD"_qs,
        u"FN:Дмитрий Иванов"_qs,
        u"TEL:00123"_qs,
        u"ORG:東京 \"Ltd\""_qs,
        u"END:VCARD"_qs,
        u"BEGIN:VCARD"_qs,
        u"FN:Emoji 😀"_qs,
        u"TEL:+44 20 7946 0000"_qs,
        u"NOTE:1/2"_qs,
        u"END:VCARD"_qs,
        QString(),
    });
}

const QList<QStringList> kTrickyTable{
    {u"Name"_qs, u"Phone"_qs, u"Organization"_qs, u"Note"_qs},
    {u"Şişli İğdır"_qs, u"0555 123"_qs, QString(), u"+1-2"_qs},
    {u"Дмитрий Иванов"_qs, u"00123"_qs, u"東京 \"Ltd\""_qs, QString()},
    {u"Emoji 😀"_qs, u"+44 20 7946 0000"_qs, QString(), u"1/2"_qs},
};

/* Cards whose cells hold what a workbook's XML cannot carry as it is, or would read as an escape. */
TextLines escapeCards()
{
    return TextLines::fromStringList({
        u"BEGIN:VCARD"_qs,
        u"FN:_x0041_"_qs,
        u"ORG:Nul"_qs + QChar(0) + u"after"_qs,
        u"NOTE;ENCODING=QUOTED-PRINTABLE:one=0Btwo"_qs,
        u"END:VCARD"_qs,
        u"BEGIN:VCARD"_qs,
        u"FN:Emoji 😀"_qs,
        u"ORG:_x005F_x0041_ _X0041_"_qs,
        u"NOTE;ENCODING=QUOTED-PRINTABLE:_x0041=01 and =EF=BF=BF"_qs,
        u"END:VCARD"_qs,
        QString(),
    });
}

const QList<QStringList> kEscapeTable{
    {u"Name"_qs, u"Organization"_qs, u"Note"_qs},
    {u"_x0041_"_qs, u"Nul"_qs + QChar(0) + u"after"_qs, u"one\vtwo"_qs},
    {u"Emoji 😀"_qs, u"_x005F_x0041_ _X0041_"_qs, u"_x0041"_qs + QChar(1) + u" and "_qs + QChar(0xFFFF)},
};

/* The cells of a CSV file as written with the default row format (quoted fields, commas, CR LF). */
QList<QStringList> csvTable(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readCsvTable(QString::fromUtf8(file.readAll()));
}

/* Delimited rows as an export finishes them, in their own order and without a header row. */
FinishedRows finishedRows(const QStringList &rows)
{
    return FinishedRows(TextLines::fromStringList(rows), {}, false, QString());
}

} // namespace

class TestWorkbookExport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void realReadersSeeTextCells_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("xlsx") << u"contacts.xlsx"_qs;
        QTest::newRow("XLSX in capitals") << u"CONTACTS2.XLSX"_qs;
        QTest::newRow("xls") << u"contacts.xls"_qs;
    }

    void realReadersSeeTextCells()
    {
        QFETCH(QString, name);
        RecordingEvents host;
        host.options.sort = false;
        const QString path = m_dir.filePath(name);
        QCOMPARE(runExport(trickyCards(), host.flavoredRequest(ExportType::Xls, CsvFlavor::Google, path), host),
                 ExportOutcome::Written);
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].caption, u"SUCCESS"_qs);

        // The workbook gets the permissions of any newly saved file, not those of a temporary one.
        QFile plain(m_dir.filePath(name + u".plain"_qs));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QCOMPARE(QFileInfo(path).permissions(), plain.permissions());

        const QJsonObject dump = dumpWorkbook(path);
        QCOMPARE(dump.value(u"sheets"_qs).toInt(), 1);
        QCOMPARE(jsonTable(dump.value(u"cells"_qs).toArray()), kTrickyTable);
        for (const QStringList &formats : jsonTable(dump.value(u"formats"_qs).toArray()))
            QCOMPARE(formats, QStringList(4, u"@"_qs));
        const QJsonObject widths = dump.value(u"widths"_qs).toObject();
        QCOMPARE(widths.keys(), (QStringList{u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs}));
        for (const QJsonValue &width : widths)
            QVERIFY2(width.toDouble() >= 40 && width.toDouble() < 41, qPrintable(QString::number(width.toDouble())));
    }

    void quoteMarksReachEveryWriter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("CSV") << u"quotes.csv"_qs;
        QTest::newRow("TXT") << u"quotes.txt"_qs;
        QTest::newRow("xls") << u"quotes.xls"_qs;
        QTest::newRow("xlsx") << u"quotes.xlsx"_qs;
    }

    void quoteMarksReachEveryWriter()
    {
        // A quote mark inside a value, at its start and at its end is read back as written.
        QFETCH(QString, name);
        const TextLines cards = TextLines::fromStringList({
            u"BEGIN:VCARD"_qs,
            u"FN:Robert \"Bob\" Smith"_qs,
            u"ORG:\"Quotes\" & Co"_qs,
            u"NOTE:He said \"hi\""_qs,
            u"END:VCARD"_qs,
            u"BEGIN:VCARD"_qs,
            u"FN:Ann Lee"_qs,
            u"ORG:5\" Disks Ltd"_qs,
            u"NOTE:\""_qs,
            u"END:VCARD"_qs,
            QString(),
        });
        RecordingEvents host;
        host.options.sort = false;
        const QString path = m_dir.filePath(name);
        const bool text = name.endsWith(u".txt"_qs);
        const ExportType type = name.endsWith(u".csv"_qs) ? ExportType::Csv : text ? ExportType::Txt : ExportType::Xls;
        QCOMPARE(runExport(cards, host.request(type, path), host), ExportOutcome::Written);

        const QList<QStringList> table{
            {u"Name"_qs, u"Organization"_qs, u"Note"_qs},
            {u"Robert \"Bob\" Smith"_qs, u"\"Quotes\" & Co"_qs, u"He said \"hi\""_qs},
            {u"Ann Lee"_qs, u"5\" Disks Ltd"_qs, u"\""_qs},
        };
        if (text) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QStringList lines = QString::fromUtf8(file.readAll()).remove(QChar(0xFEFF)).split(u"\r\n"_qs);
            QCOMPARE(lines, (QStringList{table[1][0], table[1][1], table[1][2], QString(), table[2][0], table[2][1],
                                         table[2][2], QString(), QString()}));
        } else if (type == ExportType::Csv) {
            QCOMPARE(csvTable(path), table);
        } else {
            QCOMPARE(jsonTable(dumpWorkbook(path).value(u"cells"_qs).toArray()), table);
        }
    }

    void readersSeeWhatTheCsvHolds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reader");
        QTest::newRow("xlsx, openpyxl decoding as Excel does") << u"escapes.xlsx"_qs << u"openpyxl"_qs;
        QTest::newRow("xlsx, xlrd") << u"escapes.xlsx"_qs << u"xlrd"_qs;
        QTest::newRow("xlsx, LibreOffice") << u"escapes.xlsx"_qs << u"libreoffice"_qs;
        // LibreOffice reads a NUL in an .xls cell as "?" and a CR as a line feed, whatever the file holds.
        QTest::newRow("xls, xlrd") << u"escapes.xls"_qs << u"xlrd"_qs;
    }

    void readersSeeWhatTheCsvHolds()
    {
        // A NUL, a CR, text that looks like the .xlsx escape and an emoji: every reader shows
        // each cell as the CSV holds it.
        QFETCH(QString, name);
        QFETCH(QString, reader);
        if (reader == u"libreoffice" && QStandardPaths::findExecutable(u"soffice"_qs).isEmpty())
            QSKIP("LibreOffice is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir dir;
        for (const QString &output : {u"escapes.csv"_qs, name}) {
            RecordingEvents host;
            host.options.sort = false;
            QCOMPARE(runExport(escapeCards(), host.request(ExportType::Xls, dir.filePath(output)), host),
                     ExportOutcome::Written);
        }
        QCOMPARE(csvTable(dir.filePath(u"escapes.csv"_qs)), kEscapeTable);
        const QJsonObject dump = dumpWorkbook(dir.filePath(name),
                                              {u"--reader"_qs, reader, u"--profile"_qs, m_dir.filePath(u"profile"_qs)});
        QCOMPARE(jsonTable(dump.value(u"cells"_qs).toArray()), kEscapeTable);
    }

    void limitsAreCheckedBeforeWriting_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("message");
        auto fields = [](int count) {
            QStringList row;
            for (int i = 0; i < count; ++i)
                row.append(QStringLiteral("\"f%1\"").arg(i));
            return row.join(u',');
        };
        QTest::newRow("columns of .xls")
            << u"wide.xls"_qs << fields(257)
            << u"The table has 257 columns. An Excel 97-2003 workbook (.xls) holds at most 256 columns. "
               "Save it as an Excel 2007 workbook (.xlsx) instead."_qs;
        QTest::newRow("columns of .xlsx") << u"wide.xlsx"_qs << fields(16385)
                                          << u"The table has 16,385 columns. An Excel workbook (.xlsx) holds at most "
                                             "16,384 columns. Save it as a CSV file instead."_qs;
        QTest::newRow("cell length") << u"long.xlsx"_qs << u"\""_qs + QString(32768, u'x') + u"\""_qs
                                     << u"A value has 32,768 characters. A workbook cell holds at most 32,767 "
                                        "characters. Save it as a CSV file instead."_qs;
        // Two control characters take seven characters each in the file.
        QTest::newRow("cell length with escapes")
            << u"long.xlsx"_qs << u"\""_qs + QString(32760, u'x') + QString(2, QChar(1)) + u"\""_qs
            << u"A value has 32,774 characters. A workbook cell holds at most 32,767 characters. Save it as a CSV "
               "file instead."_qs;
    }

    void limitsAreCheckedBeforeWriting()
    {
        QFETCH(QString, name);
        QFETCH(QString, row);
        QFETCH(QString, message);
        RecordingEvents host;
        const QString path = m_dir.filePath(name);
        QString error;
        QCOMPARE(exportToWorkbook(finishedRows({row}), u',', path, host, {}, &error), WriteResult::DoesNotFit);
        QCOMPARE(error, message);
        QVERIFY(host.messages.isEmpty());
        QVERIFY(host.progress.isEmpty());
        QVERIFY(!QFile::exists(path));
    }

    void largeTablesReadBackWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QChar>("delimiter");
        QTest::newRow("xlsx") << u"large.xlsx"_qs << QChar(u',');
        QTest::newRow("xls") << u"large.xls"_qs << QChar(u',');
        // A delimiter that takes two bytes in UTF-8.
        QTest::newRow("xlsx, delimiter ¦") << u"broken-bar.xlsx"_qs << QChar(u'¦');
        QTest::newRow("xls, delimiter ¦") << u"broken-bar.xls"_qs << QChar(u'¦');
    }

    void largeTablesReadBackWhole()
    {
        // More rows than the writers take in one batch, texts that repeat and texts that do
        // not, empty fields, an escape look-alike and a short last row: every cell comes back
        // where it was, across the batches' edges.
        QFETCH(QString, name);
        QFETCH(QChar, delimiter);
        QStringList rows;
        QList<QStringList> expected;
        constexpr int kRows = 9000;
        for (int r = 0; r < kRows; ++r) {
            const QStringList cells{u"name %1"_qs.arg(r % 700), r % 3 ? u"v%1"_qs.arg(r) : QString(), u"x_%1"_qs.arg(r),
                                    r % 5 ? u"Şişli %1"_qs.arg(r) : u"_x0041_"_qs};
            expected.append(r + 1 < kRows ? cells : QStringList{cells[0], QString(), QString(), QString()});
            QStringList fields;
            for (const QString &cell : r + 1 < kRows ? cells : cells.first(1))
                fields.append(u'"' + cell + u'"');
            rows.append(fields.join(delimiter));
        }
        RecordingEvents host;
        const QString path = m_dir.filePath(name);
        QString error;
        QVERIFY2(exportToWorkbook(finishedRows(rows), delimiter, path, host, {}, &error) == WriteResult::Written,
                 qPrintable(error));
        QVERIFY(host.messages.isEmpty());
        QCOMPARE(jsonTable(dumpWorkbook(path).value(u"cells"_qs).toArray()), expected);
    }

    void progressRunsFrom81To100()
    {
        RecordingEvents host;
        QStringList rows;
        for (int i = 0; i < 8; ++i)
            rows.append(QStringLiteral("\"row %1\"").arg(i));
        QString error;
        QVERIFY2(exportToWorkbook(finishedRows(rows), u',', m_dir.filePath(u"progress.xlsx"_qs), host, {}, &error)
                     == WriteResult::Written,
                 qPrintable(error));
        // The rows handed to the writer take it to 90; packing them (too short here for more
        // than a report or two) and the complete file take it to 100.
        QCOMPARE(host.progress.mid(0, 8), (QList<int>{81, 82, 84, 85, 86, 88, 89, 90}));
        QCOMPARE(host.progress.constLast(), 100);
        for (qsizetype i = 1; i < host.progress.size(); ++i)
            QVERIFY(host.progress[i] > host.progress[i - 1]);
    }

    void failedWorkbookGivesTheSystemsReason()
    {
        // The library's own text names its step and the file it could not create; the
        // system's reason says what happened.
        XlsxFile workbook(m_dir.filePath(u"no such folder/out.xlsx"_qs), 1, m_dir.path());
        QVERIFY(workbook.isStarted());
        QVERIFY(!workbook.close());
        QCOMPARE(workbook.errorString(), u"No such file or directory"_qs);
        QCOMPARE(openFilesIn(m_dir.path()), QStringList()); // the sheet's rows are let go too
    }

    void abandonedWorkbookLeavesNothing()
    {
        // A workbook that is not closed (the export stopped or failed) is not packed: nothing
        // is written to its path, and none of its temporary files stays open.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.xlsx"_qs);
        {
            XlsxFile workbook(path, 2, dir.path());
            QVERIFY(workbook.isStarted());
            XlsxRowBatch batch;
            for (int r = 0; r < 5000; ++r) {
                const QByteArray first = "row " + QByteArray::number(r);
                const QByteArrayView cells[] = {first, "Şişli"};
                batch.appendRow(cells);
            }
            for (qsizetype r = 0; r < batch.rowCount(); ++r)
                QVERIFY(workbook.addRow(batch, r));
            QVERIFY(!openFilesIn(dir.path()).isEmpty()); // the sheet's rows so far
        }
        QCOMPARE(openFilesIn(dir.path()), QStringList());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    void libreOfficeReadsBothKinds()
    {
        const QString office = QStandardPaths::findExecutable(u"soffice"_qs);
        if (office.isEmpty())
            QSKIP("LibreOffice is not installed (scripts/install-deps.sh installs it)");
        for (const QString &name : {u"office.xlsx"_qs, u"office.xls"_qs}) {
            RecordingEvents host;
            host.options.sort = false;
            const QString path = m_dir.filePath(name);
            QCOMPARE(runExport(trickyCards(), host.request(ExportType::Xls, path), host), ExportOutcome::Written);
            const QString outDir = m_dir.filePath(name + u"-csv"_qs);
            QProcess process;
            process.start(office, {u"-env:UserInstallation=file://"_qs + m_dir.filePath(u"profile"_qs),
                                   u"--headless"_qs, u"--convert-to"_qs,
                                   u"csv:Text - txt - csv (StarCalc):44,34,76,1"_qs, u"--outdir"_qs, outDir, path});
            QVERIFY(process.waitForFinished(180000));
            QFile csv(outDir + u'/' + QFileInfo(name).completeBaseName() + u".csv"_qs);
            QVERIFY2(csv.open(QIODevice::ReadOnly), process.readAllStandardError().constData());
            QCOMPARE(readCsvTable(QString::fromUtf8(csv.readAll())), kTrickyTable);
        }
    }
};

QTEST_GUILESS_MAIN(TestWorkbookExport)
#include "tst_workbookexport.moc"
