#include "csvtable.h"
#include "recordingevents.h"

#include "engine/allfieldstable.h"
#include "engine/cardscanner.h"
#include "engine/contactrecord.h"
#include "engine/conversionjob.h"
#include "engine/rowsplitter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TextLines linesOf(const QString &text)
{
    QStringList lines = text.split(u'\n');
    lines << QString();
    return TextLines::fromStringList(lines);
}

/* The properties of the cards of an All fields scan, as "KIND/LABEL: component|component". */
QStringList scannedProperties(const QString &vcards)
{
    const CardList cards = scanCards(linesOf(vcards), u',', {}, ScanMode::AllFields);
    QStringList properties;
    RecordProperty property;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        RecordReader reader(cards.field(i, kRecordColumn));
        while (reader.next(property)) {
            QStringList components;
            for (const QByteArrayView component : property.components)
                components << QString::fromUtf8(component);
            properties << u"%1/%2: %3"_s.arg(int(property.kind)).arg(int(property.label)).arg(components.join(u'|'));
        }
        properties << u"--"_s;
    }
    return properties;
}

QString describe(PropertyKind kind, PropertyLabel label, const QString &components)
{
    return u"%1/%2: %3"_s.arg(int(kind)).arg(int(label)).arg(components);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestAllFields : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void labelsComeFromTypesAndAppleLabels_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<PropertyLabel>("label");
        using L = PropertyLabel;
        QTest::newRow("2.1 bare types") << u"TEL;CELL;VOICE:1"_s << L::Mobile;
        QTest::newRow("3.0 list") << u"TEL;TYPE=cell,voice:1"_s << L::Mobile;
        QTest::newRow("3.0 repeated, lower case") << u"tel;type=home;type=fax:1"_s << L::HomeFax;
        QTest::newRow("4.0 quoted list") << u"TEL;VALUE=uri;TYPE=\"work,fax\":tel:1"_s << L::WorkFax;
        QTest::newRow("fax alone") << u"TEL;TYPE=FAX:1"_s << L::Fax;
        QTest::newRow("pager") << u"TEL;TYPE=PAGER:1"_s << L::Pager;
        QTest::newRow("voice and pref say nothing") << u"TEL;TYPE=VOICE;TYPE=PREF:1"_s << L::Other;
        QTest::newRow("Apple mobile") << u"item1.TEL:1\nitem1.X-ABLabel:_$!<Mobile>!$_"_s << L::Mobile;
        QTest::newRow("Apple label before its phone") << u"item2.X-ABLabel:iPhone\nitem2.TEL:1"_s << L::Mobile;
        QTest::newRow("Apple label wins over the type")
            << u"item3.TEL;TYPE=CELL:1\nitem3.X-ABLabel:_$!<WorkFAX>!$_"_s << L::WorkFax;
        QTest::newRow("a custom label keeps the type")
            << u"item4.TEL;TYPE=HOME:1\nitem4.X-ABLabel:Cottage"_s << L::Home;
        QTest::newRow("another group's label") << u"item5.TEL:1\nitem6.X-ABLabel:_$!<Pager>!$_"_s << L::Other;
        QTest::newRow("e-mail at work") << u"EMAIL;TYPE=INTERNET,WORK:a@b"_s << L::Work;
        QTest::newRow("e-mail, internet only") << u"EMAIL;TYPE=INTERNET;TYPE=PREF:a@b"_s << L::Other;
        QTest::newRow("postal address") << u"ADR;TYPE=postal:;;x;;;;"_s << L::Other;
        QTest::newRow("Apple home address") << u"item7.ADR:;;x;;;;\nitem7.X-ABLabel:_$!<Home>!$_"_s << L::Home;
    }

    void labelsComeFromTypesAndAppleLabels()
    {
        QFETCH(QString, line);
        QFETCH(PropertyLabel, label);
        const QStringList properties = scannedProperties(u"BEGIN:VCARD\n"_s + line + u"\nEND:VCARD"_s);
        QCOMPARE(properties.size(), 2);
        QCOMPARE(properties.first().section(u':', 0, 0).section(u'/', 1), QString::number(int(label)));
    }

    void componentsKeepWhatTheValueHolds()
    {
        using K = PropertyKind;
        using L = PropertyLabel;
        const QStringList properties = scannedProperties(uR"(BEGIN:VCARD
N:O'Neil\; Jr.;Ann;;Dr.;
ORG:Smith\, Jones;Sales;Key Accounts
NOTE:He said "hi"\nthen left\, twice.
ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Main St. 1=0D=0AFlat 2;Town;;12345;=
Land
CATEGORIES:Friends,Golf\,Tennis
X-AIM:ann.oneil
TITLE:
PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRg==
PHOTO;VALUE=uri:https://example.org/ann.jpg
BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-21
X-ABDATE:2001-01-01
VERSION:3.0
END:VCARD
item1.FN:Left without BEGIN
END:VCARD)"_s);
        QCOMPARE(properties, (QStringList{
                                 describe(K::StructuredName, L::Other, u"O'Neil; Jr.|Ann||Dr.|"_s),
                                 describe(K::Organization, L::Other, u"Smith, Jones|Sales|Key Accounts"_s),
                                 describe(K::Note, L::Other, u"He said \"hi\"\nthen left, twice."_s),
                                 describe(K::Address, L::Home, u"||Main St. 1\nFlat 2|Town||12345|Land"_s),
                                 describe(K::Categories, L::Other, u"Friends|Golf,Tennis"_s),
                                 describe(K::Messaging, L::Other, u"aim:ann.oneil"_s),
                                 describe(K::Photo, L::Other, u"https://example.org/ann.jpg"_s),
                                 describe(K::Birthday, L::Other, u"--03-21"_s),
                                 u"--"_s,
                                 // The values of a finished card do not carry on to one without BEGIN:VCARD.
                                 describe(K::FormattedName, L::Other, u"Left without BEGIN"_s),
                                 u"--"_s,
                             }));
    }

    void datesAreWrittenAsIso_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("iso");
        QTest::newRow("ISO") << u"1975-12-12"_s << u"1975-12-12"_s;
        QTest::newRow("basic") << u"19751212"_s << u"1975-12-12"_s;
        QTest::newRow("with a time") << u"1975-12-12T00:00:00Z"_s << u"1975-12-12"_s;
        QTest::newRow("basic with a time") << u"19751212T103000"_s << u"1975-12-12"_s;
        QTest::newRow("no year") << u"--1212"_s << u"--12-12"_s;
        QTest::newRow("no year, dashed") << u"--12-12"_s << u"--12-12"_s;
        QTest::newRow("another form") << u"12.12.1975"_s << u"12.12.1975"_s;
        QTest::newRow("no such month") << u"1975-13-01"_s << u"1975-13-01"_s;
        QTest::newRow("words") << u"spring 2015"_s << u"spring 2015"_s;
    }

    void datesAreWrittenAsIso()
    {
        QFETCH(QString, date);
        QFETCH(QString, iso);
        QCOMPARE(QString::fromUtf8(isoDate(date.toUtf8())), iso);
    }

    void rowsSplitAsCsvReadersSplitThem_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("plain") << u"\"a\",\"b\""_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("delimiter inside") << u"\"a, b\",\"c\""_s << QStringList{u"a, b"_s, u"c"_s};
        QTest::newRow("quotes written twice")
            << u"\"say \"\"hi\"\"\",\"\"\"\"\"\""_s << QStringList{u"say \"hi\""_s, u"\"\""_s};
        QTest::newRow("line break inside") << u"\"one\ntwo\",\"\""_s << QStringList{u"one\ntwo"_s, QString()};
        QTest::newRow("unquoted") << u"a,,b"_s << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("text after the closing quote") << u"\"a\"b,c"_s << QStringList{u"\"a\"b"_s, u"c"_s};
        QTest::newRow("an open quote") << u"\"a,b"_s << QStringList{u"a,b"_s};
        QTest::newRow("empty") << QString() << QStringList{QString()};
    }

    void rowsSplitAsCsvReadersSplitThem()
    {
        QFETCH(QString, row);
        QFETCH(QStringList, cells);
        const RowSplitter splitter(u',');
        const QByteArray utf8 = row.toUtf8();
        std::vector<QByteArrayView> views;
        QByteArray unquoted;
        splitter.split(utf8, views, unquoted);
        QStringList actual;
        for (const QByteArrayView view : views)
            actual << QString::fromUtf8(view);
        QCOMPARE(actual, cells);
        QCOMPARE(splitter.fieldCount(utf8), cells.size());
    }

    void csvReadersGetEveryValueBack()
    {
        // Commas, semicolons, quote marks and line breaks stay in their fields; numbered columns
        // come after the first of their kind; TXT puts a line break's parts on one line.
        const QString vcards = uR"(BEGIN:VCARD
FN:Robert "Bob" Smith
TEL;TYPE=CELL:+1 555 0100
TEL;TYPE=CELL:+1 555 0101
TEL;TYPE=WORK:tel:+1-555-0102;ext=42
EMAIL;TYPE=WORK:bob@example.org
ADR;TYPE=WORK:;;1 Main St.\nSuite 2;Springfield;;;
ADR;TYPE=WORK:;;9 Side Rd.;Shelbyville;;;
NOTE:a, b; c
END:VCARD)"_s;
        RecordingEvents host;
        host.options.sort = false;
        for (const QString &name : {u"all.csv"_s, u"all.txt"_s}) {
            ExportRequest request
                = host.request(name.endsWith(u".csv") ? ExportType::Csv : ExportType::Txt, m_dir.filePath(name));
            request.columns = ColumnModel::AllFields;
            QCOMPARE(runExport(linesOf(vcards), request, host), ExportOutcome::Written);
        }
        const QList<QStringList> table = readCsvTable(QString::fromUtf8(readAll(m_dir.filePath(u"all.csv"_s))));
        QCOMPARE(table, (QList<QStringList>{
                            {u"Name"_s, u"Mobile"_s, u"Mobile 2"_s, u"Work Phone"_s, u"Work Email"_s, u"Work Street"_s,
                             u"Work City"_s, u"Work 2 Street"_s, u"Work 2 City"_s, u"Note"_s},
                            {u"Robert \"Bob\" Smith"_s, u"+1 555 0100"_s, u"+1 555 0101"_s, u"+1-555-0102 ext. 42"_s,
                             u"bob@example.org"_s, u"1 Main St.\nSuite 2"_s, u"Springfield"_s, u"9 Side Rd."_s,
                             u"Shelbyville"_s, u"a, b; c"_s},
                        }));
        QCOMPARE(readAll(m_dir.filePath(u"all.txt"_s)),
                 QByteArray("\xEF\xBB\xBFRobert \"Bob\" Smith\r\n+1 555 0100\r\n+1 555 0101\r\n+1-555-0102 ext. 42\r\n"
                            "bob@example.org\r\n1 Main St. Suite 2\r\nSpringfield\r\n9 Side Rd.\r\nShelbyville\r\n"
                            "a, b; c\r\n\r\n"));
        QVERIFY(host.messages.last().leftOutNote.isEmpty());
    }

    void largeTablesKeepTheFirstOfIdenticalRows()
    {
        // Enough cards for two threads; the later half repeats rows of the earlier one.
        QStringList lines;
        constexpr int kCards = 25000;
        constexpr int kDistinct = 9000;
        for (int i = 0; i < kCards; ++i) {
            const int person = i % kDistinct;
            lines << u"BEGIN:VCARD"_s << u"FN:Person %1"_s.arg(person) << u"TEL;TYPE=CELL:%1"_s.arg(person % 5)
                  << u"TITLE:Role \"%1\""_s.arg(person % 3) << u"END:VCARD"_s;
        }
        lines << QString();
        RecordingEvents host;
        host.options.sort = false;
        for (const QString &name : {u"large.csv"_s, u"large.txt"_s}) {
            ExportRequest request
                = host.request(name.endsWith(u".csv") ? ExportType::Csv : ExportType::Txt, m_dir.filePath(name));
            request.columns = ColumnModel::AllFields;
            QCOMPARE(runExport(TextLines::fromStringList(lines), request, host), ExportOutcome::Written);
        }
        const QList<QStringList> table = readCsvTable(QString::fromUtf8(readAll(m_dir.filePath(u"large.csv"_s))));
        QCOMPARE(table.size(), kDistinct + 1);
        QCOMPARE(table.first(), (QStringList{u"Name"_s, u"Job Title"_s, u"Mobile"_s}));
        for (int person = 0; person < kDistinct; ++person) {
            const QStringList row{u"Person %1"_s.arg(person), u"Role \"%1\""_s.arg(person % 3),
                                  QString::number(person % 5)};
            QCOMPARE(table.at(person + 1), row);
        }
        const QByteArray text = readAll(m_dir.filePath(u"large.txt"_s));
        QCOMPARE(text.count("\r\n\r\n"), kCards); // every card keeps its block
        QVERIFY(text.endsWith("Person 6999\r\nRole \"0\"\r\n4\r\n\r\n"));
    }

    void leftOutValuesAreTold_data()
    {
        QTest::addColumn<CsvFlavor>("flavor");
        QTest::addColumn<ColumnModel>("columns");
        QTest::addColumn<QString>("note");
        QTest::newRow("fifteen columns")
            << CsvFlavor::Plain << ColumnModel::Fifteen
            << u"Values that have no column among the fifteen were left out: phones beyond the third: 1, "
               "addresses beyond the first: 1, job titles: 1, birthdays: 2, messaging handles: 1. All fields "
               "keeps them."_s;
        QTest::newRow("All fields") << CsvFlavor::Plain << ColumnModel::AllFields << QString();
        QTest::newRow("Outlook's slots")
            << CsvFlavor::Outlook << ColumnModel::AllFields
            << u"Values this format has no column for were left out: phones: 2, birthdays: 1, messaging handles: 1. "
               "The default CSV format or a workbook with All fields keeps them."_s;
        QTest::newRow("Google") << CsvFlavor::Google << ColumnModel::AllFields
                                << u"Values this format has no column for were left out: messaging handles: 1. The "
                                   "default CSV format or a workbook with All fields keeps them."_s;
        QTest::newRow("Yahoo keeps the fifteen") << CsvFlavor::Yahoo << ColumnModel::AllFields
                                                 << u"Values that have no column among the fifteen were left out: "
                                                    "phones beyond the third: 1, addresses beyond the first: 1, job "
                                                    "titles: 1, birthdays: 2, messaging handles: 1. All fields "
                                                    "keeps them."_s;
    }

    void leftOutValuesAreTold()
    {
        QFETCH(CsvFlavor, flavor);
        QFETCH(ColumnModel, columns);
        QFETCH(QString, note);
        const QString vcards = uR"(BEGIN:VCARD
FN:Ann Lee
TEL;TYPE=HOME:1
TEL;TYPE=HOME:2
TEL;TYPE=HOME:3
TEL;TYPE=HOME:4
ADR;TYPE=HOME:;;1 Main St.;;;;
ADR;TYPE=WORK:;;2 Main St.;;;;
TITLE:Engineer
BDAY:--0412
X-SKYPE:ann.lee
TITLE:
END:VCARD
BEGIN:VCARD
FN:Bo
BDAY:1980-01-01
END:VCARD)"_s;
        RecordingEvents host;
        ExportRequest request = host.flavoredRequest(ExportType::Csv, flavor, m_dir.filePath(u"left.csv"_s));
        request.columns = columns;
        QCOMPARE(runExport(linesOf(vcards), request, host), ExportOutcome::Written);
        QCOMPARE(host.messages.last().leftOutNote, note);
    }
};

QTEST_GUILESS_MAIN(TestAllFields)
#include "tst_allfields.moc"
