#include "engine/exporttable.h"
#include "engine/rowsort.h"
#include "text/textwriter.h"

#include <QBuffer>
#include <QCollator>
#include <QSet>
#include <QTest>

namespace {

ContactFields makeCard(std::initializer_list<std::pair<ContactColumn, QString>> values)
{
    ContactFields fields;
    for (const auto &[column, text] : values)
        fields[size_t(column)] = text;
    return fields;
}

/* Every column holds a value, so only the flavour decides which columns stay. */
ContactFields fullCard()
{
    ContactFields fields;
    for (int column = 0; column < kContactColumnCount; ++column)
        fields[size_t(column)] = QStringLiteral("v%1").arg(column);
    return fields;
}

ExportTable buildTable(const std::vector<ContactFields> &cardFields, ExportType fileType = ExportType::Csv,
                       CsvFlavor flavor = CsvFlavor::Plain)
{
    CardList cards;
    for (const ContactFields &fields : cardFields)
        cards.append(fields);
    const ColumnPresence presence = computeColumnPresence(cards);
    return buildExportTable(std::move(cards), presence, fileType, flavor, RowFormat{});
}

/* Applies finishRows to rows given as text. */
QStringList finishedRows(const QStringList &rows, bool headers, bool sort, const QString &headerRow)
{
    return finishRows(TextLines::fromStringList(rows), headers, sort, headerRow).toStringList();
}

QByteArray writtenBytes(const QStringList &lines, TextEncoding encoding)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!writeTextLines(lines, buffer, encoding, &error))
        qFatal("write failed");
    return bytes;
}

/* A device that takes room bytes and then fails, as a full disk does. */
class DeviceWithRoom final : public QIODevice
{
public:
    explicit DeviceWithRoom(qint64 room)
        : m_room(room)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    QByteArray written;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 taken = std::min(size, m_room - written.size());
        if (taken <= 0) {
            setErrorString(u"No space left on device"_qs);
            return -1;
        }
        written.append(data, taken);
        return taken;
    }

private:
    qint64 m_room;
};

} // namespace

class TestExportTable : public QObject
{
    Q_OBJECT

private slots:
    void defaultLayoutExample()
    {
        using C = ContactColumn;
        std::vector<ContactFields> cards{
            makeCard({{C::FormattedName, u"Ann Lee"_qs}, {C::Phone1, u"555 0100"_qs}}),
            makeCard({{C::FormattedName, u"Bo"_qs}, {C::Email1, u"bo@x"_qs}}),
        };
        const ExportTable table = buildTable(cards);
        QCOMPARE(table.rows.toStringList(),
                 (QStringList{u"\"Ann Lee\",\"555 0100\",\"\""_qs, u"\"Bo\",\"\",\"bo@x\""_qs}));
        QCOMPARE(table.txtLines.toStringList(),
                 (QStringList{u"Ann Lee"_qs, u"555 0100"_qs, QString(), u"Bo"_qs, u"bo@x"_qs, QString()}));
        QCOMPARE(buildHeaderRow(table.presence, ExportType::Csv, CsvFlavor::Plain, RowFormat{}),
                 u"\"Name\",\"Phone\",\"Email\""_qs);
        QCOMPARE(buildHeaderRow(table.presence, ExportType::Csv, CsvFlavor::Plain, RowFormat{u';', u'"'}),
                 u"\"Name\";\"Phone\";\"Email\""_qs);
    }

    void duplicatesAndQuotes()
    {
        using C = ContactColumn;
        const ExportTable table = buildTable({
            makeCard({{C::FormattedName, u"Ann"_qs}}),
            makeCard({{C::FormattedName, u"Ann"_qs}}),
            makeCard({{C::FormattedName, u"ann"_qs}}),
            makeCard({{C::FormattedName, u"An\"n\""_qs}, {C::Note, u"\"\""_qs}}),
        });
        // Identical rows are kept once and case counts; a quote mark stays in the value, written
        // twice inside its quoted field, and the text layout holds the value as it is.
        QCOMPARE(table.rows.toStringList(),
                 (QStringList{u"\"Ann\",\"\""_qs, u"\"ann\",\"\""_qs, u"\"An\"\"n\"\"\",\"\"\"\"\"\""_qs}));
        QCOMPARE(table.txtLines.toStringList().count(u"Ann"_qs), 2); // every card keeps its TXT block
        QVERIFY(table.txtLines.toStringList().contains(u"An\"n\""_qs));
        QVERIFY(table.txtLines.toStringList().contains(u"\"\""_qs));
    }

    void largeTablesKeepTheFirstOfIdenticalRows()
    {
        // Enough cards for two threads to build the rows; a row repeats within the earlier
        // cards, within the later ones and across the two.
        using C = ContactColumn;
        std::vector<ContactFields> cards;
        QStringList expected;
        QSet<QString> seen;
        for (int i = 0; i < 50000; ++i) {
            const QString name = u"n"_qs + QString::number(i * 7919 % 17000);
            cards.push_back(makeCard({{C::FormattedName, name}}));
            if (!seen.contains(name)) {
                seen.insert(name);
                expected.append(u'"' + name + u'"');
            }
        }
        const ExportTable table = buildTable(cards);
        QCOMPARE(table.rows.toStringList(), expected);
        QCOMPARE(table.txtLines.size(), 2 * 50000);
    }

    void flavours_data()
    {
        QTest::addColumn<ExportType>("fileType");
        QTest::addColumn<CsvFlavor>("flavor");
        QTest::addColumn<QString>("header");
        QTest::newRow("default") << ExportType::Csv << CsvFlavor::Plain
                                 << u"Name,Given Name,Phone,Phone2,Phone3,Organization,Address,Revision,Email,Email2,"
                                    "Email3,Email4,Email5,URL,Note"_qs;
        QTest::newRow("outlook") << ExportType::Csv << CsvFlavor::Outlook
                                 << u"First Name,Home Phone,Business Phone,Business Phone 2,Company,Home Address,"
                                    "E-mail Address,E-mail 2 Address,E-mail 3 Address,Web Page,Notes"_qs;
        QTest::newRow("google") << ExportType::Csv << CsvFlavor::Google
                                << u"Name,Phone 1 - Value,Phone 2 - Value,Phone 3 - Value,"
                                   "Organization 1 - Name,Address 1 - Formatted,E-mail 1 - Value,"
                                   "E-mail 2 - Value,Website 1 - Value,Notes"_qs;
        QTest::newRow("yahoo") << ExportType::Csv << CsvFlavor::Yahoo
                               << u"First Name,Phone,Home,Work,Company,Home Address,Email,Home Email,"
                                  "Work Email,website,Notes"_qs;
        QTest::newRow("XLS after a yahoo CSV")
            << ExportType::Xls << CsvFlavor::Yahoo
            << u"Name,Given Name,Phone,Phone2,Phone3,Organization,Address,Revision,Email,Email2,Email3,Email4,"
               "Email5,URL,Note"_qs;
        QTest::newRow("TXT after a google CSV")
            << ExportType::Txt << CsvFlavor::Google
            << u"Name,Given Name,Phone,Phone2,Phone3,Organization,Address,Revision,Email,Email2,Email3,Email4,"
               "Email5,URL,Note"_qs;
    }

    void flavours()
    {
        QFETCH(ExportType, fileType);
        QFETCH(CsvFlavor, flavor);
        QFETCH(QString, header);
        const ExportTable table = buildTable({fullCard()}, fileType, flavor);
        const QStringList names = header.split(u',');
        QCOMPARE(buildHeaderRow(table.presence, fileType, flavor, RowFormat{}),
                 u"\""_qs + names.join(u"\",\""_qs) + u"\""_qs);
        // The row holds exactly the columns the header names.
        QCOMPARE(table.rows.at(0).count(u','), names.size() - 1);
    }

    /* The importers' layouts have no structured-name column: a card without FN is named by its N. */
    void importerLayoutsNameEveryCard_data()
    {
        QTest::addColumn<ExportType>("fileType");
        QTest::addColumn<CsvFlavor>("flavor");
        QTest::addColumn<QStringList>("rows");
        const QStringList named{u"\"Ann Lee\",\"+1 555 0100\""_qs, u"\"Lee Bo\",\"+1 555 0101\""_qs};
        QTest::newRow("outlook") << ExportType::Csv << CsvFlavor::Outlook << named;
        QTest::newRow("google") << ExportType::Csv << CsvFlavor::Google << named;
        QTest::newRow("yahoo") << ExportType::Csv << CsvFlavor::Yahoo << named;
        QTest::newRow("default keeps both columns")
            << ExportType::Csv << CsvFlavor::Plain
            << QStringList{u"\"Ann Lee\",\"Lee Ann\",\"+1 555 0100\""_qs, u"\"\",\"Lee Bo\",\"+1 555 0101\""_qs};
        QTest::newRow("workbook after an outlook CSV")
            << ExportType::Xls << CsvFlavor::Outlook
            << QStringList{u"\"Ann Lee\",\"Lee Ann\",\"+1 555 0100\""_qs, u"\"\",\"Lee Bo\",\"+1 555 0101\""_qs};
    }

    void importerLayoutsNameEveryCard()
    {
        QFETCH(ExportType, fileType);
        QFETCH(CsvFlavor, flavor);
        QFETCH(QStringList, rows);
        const ExportTable table = buildTable(
            {makeCard({{ContactColumn::FormattedName, u"Ann Lee"_qs},
                       {ContactColumn::StructuredName, u"Lee Ann"_qs},
                       {ContactColumn::Phone1, u"+1 555 0100"_qs}}),
             makeCard({{ContactColumn::StructuredName, u"Lee Bo"_qs}, {ContactColumn::Phone1, u"+1 555 0101"_qs}})},
            fileType, flavor);
        QCOMPARE(table.rows.toStringList(), rows);
        // Only a card without FN at all has none: the name column is there for it too.
        const ExportTable onlyStructured
            = buildTable({makeCard({{ContactColumn::StructuredName, u"Lee Bo"_qs}})}, fileType, flavor);
        QCOMPARE(onlyStructured.rows.toStringList(), QStringList{u"\"Lee Bo\""_qs});
    }

    void formulaGuard_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("formula");
        QTest::newRow("equals") << u"=1+1"_qs << true;
        QTest::newRow("at") << u"@SUM(A1)"_qs << true;
        QTest::newRow("tab first") << u"\t=1+1"_qs << true;
        QTest::newRow("carriage return first") << u"\rx"_qs << true;
        QTest::newRow("phone number") << u"+49 30 1234"_qs << false;
        QTest::newRow("negative number") << u"-5"_qs << false;
        QTest::newRow("number with an extension") << u"+1 (555) 010/0142 ext. 42"_qs << false;
        QTest::newRow("extension without digits") << u"+1 555 ext. "_qs << true;
        QTest::newRow("letters after minus") << u"-2h"_qs << true;
        QTest::newRow("letters in a phone") << u"+1 (555) CALL-NOW"_qs << true;
        QTest::newRow("plus alone") << u"+"_qs << false;
        QTest::newRow("formula later in the text") << u"a=1+1"_qs << false;
    }

    void formulaGuard()
    {
        QFETCH(QString, value);
        QFETCH(bool, formula);
        const QString quoted = u'"' + value + u'"';
        for (const bool guard : {false, true}) {
            CardList cards;
            cards.append(makeCard({{ContactColumn::Note, value}}));
            cards.append(makeCard({{ContactColumn::Note, value}})); // a duplicate row is one field
            const ColumnPresence presence = computeColumnPresence(cards);
            const ExportTable table = buildExportTable(std::move(cards), presence, ExportType::Csv, CsvFlavor::Plain,
                                                       RowFormat{u',', u'"', guard});
            const bool guarded = guard && formula;
            QCOMPARE(table.rows.toStringList(), QStringList{guarded ? u"\"'"_qs + quoted.sliced(1) : quoted});
            QCOMPARE(table.guardedFields, guarded ? 1 : 0);
            QCOMPARE(table.txtLines.at(0), value); // the text layout is never guarded
        }
    }

    void noValuesNoRows()
    {
        ExportTable table = buildTable({makeCard({}), makeCard({{ContactColumn::Note, u"\""_qs}})}, ExportType::Csv,
                                       CsvFlavor::Google);
        removeBlankRows(table.rows);
        // The quote-only note is a value of its own: its row holds it beside the empty card's.
        QCOMPARE(table.rows.toStringList(), (QStringList{u"\"\""_qs, u"\"\"\"\""_qs}));

        table = buildTable({makeCard({})});
        removeBlankRows(table.rows);
        QVERIFY(table.rows.isEmpty());

        int reports = 0;
        buildExportTable({}, ColumnPresence{}, ExportType::Csv, CsvFlavor::Plain, RowFormat{}, TableParts::Both,
                         [&](qint64, qint64) { ++reports; });
        QCOMPARE(reports, 0);
    }

    void finishRowsSortsIgnoringCaseBelowTheHeader()
    {
        QStringList rows{u"\"beta\""_qs,  u"\"Alpha\""_qs, u"\"alpha\""_qs,
                         u"\"Ärger\""_qs, u"\"Zed\""_qs,   u"\"ALPHA\""_qs};
        QCOMPARE(finishedRows(rows, true, true, u"\"Name\""_qs),
                 (QStringList{u"\"Name\""_qs, u"\"Alpha\""_qs, u"\"alpha\""_qs, u"\"ALPHA\""_qs, u"\"Ärger\""_qs,
                              u"\"beta\""_qs, u"\"Zed\""_qs}));

        QStringList unsorted{u"b"_qs, u"a"_qs};
        QCOMPARE(finishedRows(unsorted, false, false, QString()), (QStringList{u"b"_qs, u"a"_qs}));
    }

    void largeSortsMatchSmallSorts()
    {
        // Large lists take the two-thread path; their order must be the same.
        QStringList rows;
        for (int i = 0; i < 30000; ++i)
            rows.append(QStringLiteral("\"%1 %2\"").arg(i % 2 ? u"name"_qs : u"Name"_qs).arg((i * 7919) % 30011));
        QStringList expected = rows;
        std::stable_sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(finishedRows(rows, false, true, QString()), expected);
    }

    void sortsAsTheCollatorInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        // English, and locales whose letters or letter pairs sort apart from the ASCII order.
        for (const char *name :
             {"en_US", "C",     "sv_SE", "cs_CZ", "hu_HU", "da_DK", "tr_TR", "lt_LT", "ja_JP", "zh_CN",
              "th_TH", "de_DE", "es_ES", "et_EE", "pl_PL", "fi_FI", "ru_RU", "uk_UA", "sr_RS", "bg_BG"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void sortsAsTheCollatorInEveryLocale()
    {
        // Rows built from pieces that share prefixes, differ in case, carry accents (precomposed
        // and combining), contractions, controls, tabs, surrogate pairs and non-Latin text:
        // enough rows for the two-thread path, each compared with the collator's own order.
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        const QStringList pieces{
            u"\"Ahmet"_qs, u"\"ahmet"_qs, u"Aksoy\","_qs, u"aa"_qs,   u"ch"_qs,   u"CH"_qs,     u"c"_qs,    u"h"_qs,
            u"dzs"_qs,     u"cs"_qs,      u"y"_qs,        u"i"_qs,    u"I"_qs,    u"ı"_qs,      u"İ"_qs,    u"å"_qs,
            u"a\u030A"_qs, u"é"_qs,       u"e\u0301"_qs,  u"Ö"_qs,    u"ö"_qs,    u"o"_qs,      u"ß"_qs,    u"ss"_qs,
            u"æ"_qs,       u"ae"_qs,      u"ø"_qs,        u"ç"_qs,    u"ş"_qs,    u"ğ"_qs,      u"ü"_qs,    u"ñ"_qs,
            u"ł"_qs,       u"ŀ"_qs,       u"Иван"_qs,     u"иван"_qs, u"Ёлка"_qs, u"ель"_qs,    u"ї"_qs,    u"ђ"_qs,
            u"Я"_qs,       u"z"_qs,       u"-"_qs,        u" "_qs,    u"\t"_qs,   u"\u0001"_qs, u"😀"_qs,    u"山田"_qs,
            u"田"_qs,      u"渡辺"_qs,    u"小"_qs,       u"ไก่"_qs,   u"0"_qs,    u"9"_qs,      u"\"\""_qs, u","_qs,
            u"'"_qs,       u"~"_qs};
        QStringList rows;
        quint32 seed = 12345;
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
        for (int i = 0; i < 25000; ++i) {
            QString row;
            const int length = int(next() % 6);
            for (int k = 0; k < length; ++k)
                row += pieces[qsizetype(next() % pieces.size())];
            rows.append(row);
        }
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QStringList expected = rows;
        std::stable_sort(expected.begin(), expected.end(), [&](const QString &a, const QString &b) {
            return locale == u"C"_qs ? QString::compare(a, b, Qt::CaseInsensitive) < 0 : collator.compare(a, b) < 0;
        });
        const QStringList sorted = finishedRows(rows, false, true, QString());
        QLocale::setDefault(QLocale::system());
        QCOMPARE(sorted, expected);
    }

    void testWrittenBytes_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ANSI") << int(TextEncoding::Ansi) << QByteArray("J\xFCrgen \xE9?\r\n\r\n");
        QTest::newRow("UTF-8") << int(TextEncoding::Utf8)
                               << QByteArray("\xEF\xBB\xBFJ\xC3\xBCrgen \xC3\xA9\xE2\x82\xBD\r\n\r\n");
        QTest::newRow("UTF-16") << int(TextEncoding::Utf16)
                                << QByteArray("\xFF\xFEJ\0\xFC\0r\0g\0e\0n\0 \0\xE9\0\xBD\x20\r\0\n\0\r\0\n\0", 28);
    }

    void testWrittenBytes()
    {
        QFETCH(int, encoding);
        QFETCH(QByteArray, expected);
        QCOMPARE(writtenBytes({u"Jürgen é₽"_qs, QString()}, TextEncoding(encoding)), expected);
    }

    void largeTextsAreWrittenInOrderUntilTheDeviceFails()
    {
        // Several megabytes, written in many pieces: every line arrives once, in order.
        TextLines lines;
        QByteArray expected("\xEF\xBB\xBF");
        for (int i = 0; i < 300000; ++i) {
            const QByteArray line = "line " + QByteArray::number(i) + QByteArray(i % 37, 'x');
            lines.appendUtf8(line);
            expected += line + "\r\n";
        }
        QVERIFY(expected.size() > 8 << 20);
        DeviceWithRoom device(expected.size());
        QString error;
        QVERIFY(writeTextLines(lines, device, TextEncoding::Utf8, &error));
        QVERIFY(device.written == expected);

        // A device that fills up halfway: the failure and its reason come back, and what was
        // written is the text's beginning.
        DeviceWithRoom full(expected.size() / 2);
        QVERIFY(!writeTextLines(lines, full, TextEncoding::Utf8, &error));
        QCOMPARE(error, u"No space left on device"_qs);
        QCOMPARE(full.written.size(), expected.size() / 2);
        QVERIFY(expected.startsWith(full.written));
    }

    void replacedCharactersAreCounted_data()
    {
        // The tests run with an English locale: the ANSI code page is 1252.
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("characters");
        QTest::addColumn<int>("lineCount");
        const QStringList names{u"Ayşe Yılmaz"_qs, u"山田 太郎"_qs, u"Jürgen"_qs, u"Emoji 😀"_qs};
        QTest::newRow("ANSI") << int(TextEncoding::Ansi) << names
                              << QByteArray("Ay?e Y?lmaz\r\n?? ??\r\nJ\xFCrgen\r\nEmoji ?\r\n") << 7 << 3;
        QTest::newRow("UTF-8 keeps them")
            << int(TextEncoding::Utf8) << names
            << (QByteArray("\xEF\xBB\xBF") + names.join(u"\r\n"_qs).toUtf8() + "\r\n") << 0 << 0;
        QTest::newRow("UTF-16, a surrogate without its pair")
            << int(TextEncoding::Utf16) << QStringList{u"a"_qs + QChar(0xD800) + u"b😀"_qs, QString(QChar(0xDC00))}
            << QByteArray("\xFF\xFE"
                          "a\0?\0b\0\x3D\xD8\x00\xDE\r\0\n\0?\0\r\0\n\0",
                          22)
            << 2 << 2;
    }

    void replacedCharactersAreCounted()
    {
        QFETCH(int, encoding);
        QFETCH(QStringList, lines);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        ReplacedCharacters replaced;
        QVERIFY(writeTextLines(lines, buffer, TextEncoding(encoding), nullptr, &replaced));
        QTEST(bytes, "expected");
        QTEST(int(replaced.characters), "characters");
        QTEST(int(replaced.lines), "lineCount");
    }
};

QTEST_GUILESS_MAIN(TestExportTable)
#include "tst_exporttable.moc"
