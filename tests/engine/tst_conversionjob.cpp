#include "recordingevents.h"

#include "engine/conversionjob.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

TextLines makeCards(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << u"BEGIN:VCARD"_qs << QStringLiteral("FN:Person %1").arg(count - i) << u"END:VCARD"_qs;
    lines << QString();
    return TextLines::fromStringList(lines);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/* The row-building reports: what lies between the 20 and the first 80. */
QList<int> rowBuildingReports(const QList<int> &progress)
{
    const qsizetype from = progress.indexOf(20) + 1;
    return progress.mid(from, progress.indexOf(80, from) - from + 1);
}

} // namespace

class TestConversionJob : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void scaledProgressRoundsHalvesToEven_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("reports");
        QTest::newRow("ten cards") << 10 << QList<int>{26, 32, 38, 44, 50, 56, 62, 68, 74, 80};
        QTest::newRow("eight cards") << 8 << QList<int>{28, 35, 42, 50, 58, 65, 72, 80};
        QTest::newRow("one card") << 1 << QList<int>{80};
        QTest::newRow("at most sixty") << 1000 << QList<int>();
    }

    void scaledProgressRoundsHalvesToEven()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, reports);
        RecordingEvents host;
        const QString path = m_dir.filePath(u"progress.csv"_qs);
        QCOMPARE(runExport(makeCards(count), host.request(ExportType::Csv, path), host), ExportOutcome::Written);
        const QList<int> building = rowBuildingReports(host.progress);
        if (reports.isEmpty()) {
            QCOMPARE(building.size(), 60);
            QCOMPARE(building.first(), 21);
        } else {
            QCOMPARE(building, reports);
        }
        QCOMPARE(host.progress.mid(host.progress.size() - 3), (QList<int>{80, 80, 100}));
    }

    void successfulCsvExport()
    {
        RecordingEvents host;
        const QString path = m_dir.filePath(u"people.CSV"_qs); // the extension test ignores case
        QCOMPARE(runExport(makeCards(2), host.request(ExportType::Txt, path), host), ExportOutcome::Written);
        QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF\"Name\"\r\n\"Person 1\"\r\n\"Person 2\"\r\n"));
        // The options are read once the rows are built, before the writing stage; the message
        // names the path as chosen.
        QCOMPARE(host.events.first(), u"progress 0"_qs);
        QCOMPARE(host.events.mid(host.events.indexOf(u"options"_qs)),
                 (QStringList{u"options"_qs, u"writing 80"_qs, u"progress 100"_qs, u"message SUCCESS"_qs}));
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].caption, u"SUCCESS"_qs);
        QCOMPARE(host.messages[0].paragraphs, (QStringList{u"Process completed!"_qs, u"Filename: "_qs + path}));
        QCOMPARE(host.messages[0].countsNote, u"2 rows from 2 contacts (0 duplicates dropped)"_qs);
        QVERIFY(host.messages[0].encodingNote.isEmpty());
    }

    void formulaGuardByLayout_data()
    {
        // A card's note as the vCard holds it, the layout, and whether the field gets an apostrophe.
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("guarded");
        // (The fifteen columns drop a value's leading "=" signs, which leaves "1+1" harmless.)
        const std::tuple<QString, bool, bool> values[] = {
            // note, whether a formula in the fifteen columns, and in All fields
            {u"=1+1"_qs, false, true},
            {u"@SUM(A1)"_qs, true, true},
            {u"=HYPERLINK(\"http://example.com\"\\,\"click\")"_qs, false, true},
            {u"@=HYPERLINK(\"http://example.com\"\\,\"click\")"_qs, true, true},
            {u"+49 30 1234"_qs, false, false},
            {u"-5"_qs, false, false},
            {u"+1 (555) 010-0142 ext. 42"_qs, false, false},
            {u"-2h"_qs, true, true},
            {u"+1 (555) CALL-NOW"_qs, true, true},
            {u"Call at 10=11"_qs, false, false},
        };
        // Only the default and Excel CSV files are opened in spreadsheets.
        const std::pair<QString, bool> layouts[] = {
            {u"default"_qs, true},
            {u"excel"_qs, true},
            {u"google"_qs, false},
            {u"txt"_qs, false},
            {u"all fields default"_qs, true},
            {u"all fields google"_qs, false},
        };
        for (const auto &[layout, guards] : layouts) {
            const bool allFields = layout.startsWith(u"all fields"_qs);
            for (const auto &[note, fifteenFormula, allFieldsFormula] : values) {
                QTest::addRow("%s, %s", qPrintable(layout), qPrintable(note))
                    << note << layout << (guards && (allFields ? allFieldsFormula : fifteenFormula));
            }
        }
    }

    void formulaGuardByLayout()
    {
        QFETCH(QString, note);
        QFETCH(QString, layout);
        QFETCH(bool, guarded);
        const TextLines cards = TextLines::fromStringList(
            {u"BEGIN:VCARD"_qs, u"FN:Ann Lee"_qs, u"NOTE:"_qs + note, u"END:VCARD"_qs, QString()});
        RecordingEvents host;
        host.options.encoding = layout == u"excel"_qs ? TextEncoding::Utf16 : TextEncoding::Utf8;
        const bool text = layout == u"txt"_qs;
        const QString path = m_dir.filePath(text ? u"guard.txt"_qs : u"guard.csv"_qs);
        ExportRequest request
            = host.flavoredRequest(text ? ExportType::Txt : ExportType::Csv,
                                   layout.endsWith(u"google"_qs) ? CsvFlavor::Google : CsvFlavor::Plain, path);
        if (layout.startsWith(u"all fields"_qs))
            request.columns = ColumnModel::AllFields;
        QCOMPARE(runExport(cards, request, host), ExportOutcome::Written);

        const QByteArray bytes = readAll(path);
        const QString written
            = layout == u"excel"_qs ? QStringDecoder(QStringDecoder::Utf16)(bytes) : QString::fromUtf8(bytes);
        QString value = QString(note).remove(u'\\');
        if (!layout.startsWith(u"all fields"_qs)) // the fifteen columns: no leading "=", commas as spaces
            value.remove(QRegularExpression(u"^=+"_qs)).replace(u',', u' ');
        const QString quoted = text ? value : u'"' + QString(value).replace(u"\""_qs, u"\"\""_qs) + u'"';
        const QString field = text ? value : u'"' + (guarded ? u"'"_qs : QString()) + quoted.sliced(1);
        QVERIFY2(written.contains(field), qPrintable(written));
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].formulaNote,
                 guarded ? u"1 fields began like a spreadsheet formula (=, +, - or @) and were written with an "
                           "apostrophe before them, so that a spreadsheet shows them as text."_qs
                         : QString());
    }

    void charactersTheEncodingCannotHold_data()
    {
        // The tests run with an English locale: the ANSI code page is 1252.
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("note"); // the message's last part, if any
        QTest::addColumn<int>("flavor");
        const QString note
            = u"Characters written as \"?\" because the chosen encoding cannot hold them: 6, in 2 of the "
              "rows; choose UTF-8 to keep them."_qs;
        QTest::newRow("ANSI CSV") << u"ansi.csv"_qs << int(TextEncoding::Ansi)
                                  << QByteArray("\"Name\"\r\n\"Ay?e Y?lmaz\"\r\n\"?? ??\"\r\n\"J\xFCrgen\"\r\n") << note
                                  << int(CsvFlavor::Plain);
        // The Outlook preset writes ANSI whatever was chosen: the note names it, not UTF-8.
        QTest::newRow("Outlook CSV")
            << u"outlook.csv"_qs << int(TextEncoding::Ansi)
            << QByteArray("\"First Name\"\r\n\"Ay?e Y?lmaz\"\r\n\"?? ??\"\r\n\"J\xFCrgen\"\r\n")
            << u"The Outlook format is written in ANSI; characters it cannot hold were written as \"?\": 6, in 2 of "
               "the rows."_qs
            << int(CsvFlavor::Outlook);
        QTest::newRow("ANSI text") << u"ansi.txt"_qs << int(TextEncoding::Ansi)
                                   << QByteArray("Ay?e Y?lmaz\r\n\r\n?? ??\r\n\r\nJ\xFCrgen\r\n\r\n") << note
                                   << int(CsvFlavor::Outlook); // a TXT file has no flavour
        QTest::newRow("UTF-8") << u"utf8.csv"_qs << int(TextEncoding::Utf8)
                               << QByteArray(
                                      "\xEF\xBB\xBF\"Name\"\r\n\"Ayşe Yılmaz\"\r\n\"山田 太郎\"\r\n\"Jürgen\"\r\n")
                               << QString() << int(CsvFlavor::Plain);
    }

    void charactersTheEncodingCannotHold()
    {
        // The file is written as asked; the success message says what became "?".
        QFETCH(QString, name);
        QFETCH(int, encoding);
        QFETCH(QString, note);
        const TextLines cards = TextLines::fromStringList({u"BEGIN:VCARD"_qs, u"FN:Ayşe Yılmaz"_qs, u"END:VCARD"_qs,
                                                           u"BEGIN:VCARD"_qs, u"FN:山田 太郎"_qs, u"END:VCARD"_qs,
                                                           u"BEGIN:VCARD"_qs, u"FN:Jürgen"_qs, u"END:VCARD"_qs});
        RecordingEvents host;
        host.options.encoding = TextEncoding(encoding);
        host.options.sort = false;
        const QString path = m_dir.filePath(name);
        const ExportType type = name.endsWith(u".txt"_qs) ? ExportType::Txt : ExportType::Csv;
        QFETCH(int, flavor);
        QCOMPARE(runExport(cards, host.flavoredRequest(type, CsvFlavor(flavor), path), host), ExportOutcome::Written);
        QTEST(readAll(path), "written");
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].icon, MessageIcon::Information);
        QCOMPARE(host.messages[0].caption, u"SUCCESS"_qs);
        QCOMPARE(host.messages[0].paragraphs, (QStringList{u"Process completed!"_qs, u"Filename: "_qs + path}));
        QCOMPARE(host.messages[0].countsNote, u"3 rows from 3 contacts (0 duplicates dropped)"_qs);
        QCOMPARE(host.messages[0].encodingNote, note);
    }

    void outputKindFollowsTheExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("txt") << u"a.txt"_qs << QByteArray("Person 2\r\n\r\nPerson 1\r\n\r\n");
        QTest::newRow("no extension") << u"plain"_qs << QByteArray("Person 2\r\n\r\nPerson 1\r\n\r\n");
        QTest::newRow("csv") << u"b.csv"_qs << QByteArray("\"Name\"\r\n\"Person 1\"\r\n\"Person 2\"\r\n");
    }

    void outputKindFollowsTheExtension()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        RecordingEvents host;
        host.options.encoding = TextEncoding::Ansi;
        const QString path = m_dir.filePath(name);
        runExport(makeCards(2), host.request(ExportType::Xls, path), host);
        QCOMPARE(readAll(path), expected);
    }

    void noDataFound()
    {
        RecordingEvents host;
        const QString path = m_dir.filePath(u"nothing.csv"_qs);
        const TextLines lines = TextLines::fromStringList({u"BEGIN:VCARD"_qs, u"END:VCARD"_qs, QString()});
        QCOMPARE(runExport(lines, host.request(ExportType::Csv, path), host), ExportOutcome::NoData);
        QCOMPARE(host.progress, (QList<int>{0, 10, 20, 80, 80, 100}));
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].caption, u"Warning"_qs);
        QCOMPARE(host.messages[0].paragraphs, QStringList{u"No data found!"_qs});
        QVERIFY(!host.events.contains(u"options"_qs));
        QVERIFY(!QFile::exists(path));
    }

    void failedWriteIsNeverSuccess_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("cards");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("started"); // whether writing began, so that it could fail
        QTest::newRow("path is a folder") << u"folder.csv"_qs << 1 << u"Is a directory"_qs << true;
        QTest::newRow("more rows than .xls holds")
            << u"kept.xls"_qs << 65536
            << u"The table has 65,537 rows. An Excel 97-2003 workbook (.xls) holds at most "
               "65,536 rows. Save it as an Excel 2007 workbook (.xlsx) instead."_qs
            << false;
    }

    void failedWriteIsNeverSuccess()
    {
        // An older file of the same name must neither be reported as the result nor damaged.
        QFETCH(QString, name);
        QFETCH(int, cards);
        QFETCH(QString, reason);
        const QString target = m_dir.filePath(name);
        if (name.endsWith(u".csv"_qs)) {
            QVERIFY(QDir().mkdir(target));
        } else {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        RecordingEvents host;
        QCOMPARE(runExport(makeCards(cards), host.request(ExportType::Xls, target), host), ExportOutcome::NotWritten);
        // A table beyond a workbook's limits is refused with the limit alone: no second box
        // that would read like a fault of the disk.
        QFETCH(bool, started);
        QCOMPARE(host.messages.size(), started ? 2 : 1);
        QCOMPARE(host.messages[0].caption, u"WARNING"_qs);
        const QString warning = host.messages[0].paragraphs.join(u' ');
        QVERIFY2(warning.endsWith(reason), qPrintable(warning));
        if (started) {
            QCOMPARE(host.messages[1].caption, u"ERROR"_qs);
            QCOMPARE(host.messages[1].paragraphs, QStringList{u"The file could not be created!"_qs});
        }
        QCOMPARE(host.progress.constLast(), 100);
        if (!name.endsWith(u".csv"_qs))
            QCOMPARE(readAll(target), QByteArray("old"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter(u"tessaly"_qs), QStringList());
    }

    void stopLeavesTheOldFile_data()
    {
        // The output, and the report at which the stop is asked for.
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("percent");
        const int reading = int(ExportStage::Reading), rows = int(ExportStage::BuildingRows);
        const int writing = int(ExportStage::Writing);
        QTest::newRow("while the cards are read") << u"read.csv"_qs << reading << 0;
        QTest::newRow("while the rows are built") << u"rows.csv"_qs << rows << 50;
        QTest::newRow("before the rows are sorted") << u"sort.csv"_qs << rows << 80;
        QTest::newRow("while a CSV is written") << u"write.csv"_qs << writing << 80;
        QTest::newRow("while a text file is written") << u"write.txt"_qs << writing << 80;
        QTest::newRow("while an .xls is written") << u"write.xls"_qs << writing << 85;
        QTest::newRow("while an .xlsx is written") << u"write.xlsx"_qs << writing << 85;
        QTest::newRow("as the last .xlsx rows are written") << u"last.xlsx"_qs << writing << 89;
    }

    void stopLeavesTheOldFile()
    {
        // Enough cards that every stage runs on two threads and the writers take many steps.
        QFETCH(QString, name);
        QFETCH(int, stage);
        QFETCH(int, percent);
        QTemporaryDir dir;
        const QString target = dir.filePath(name);
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        std::stop_source stop;
        RecordingEvents host;
        host.onProgress = [&](ExportStage at, int value) {
            if (int(at) == stage && value >= percent)
                stop.request_stop();
        };
        QCOMPARE(runExport(makeCards(60000), host.request(ExportType::Csv, target), host, stop.get_token()),
                 ExportOutcome::Stopped);
        QCOMPARE(host.messages.size(), 1);
        QCOMPARE(host.messages[0].paragraphs, QStringList{u"The export was stopped. Nothing was written."_qs});
        QCOMPARE(readAll(target), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{name});
    }
};

QTEST_GUILESS_MAIN(TestConversionJob)
#include "tst_conversionjob.moc"
