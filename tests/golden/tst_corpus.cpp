#include "converterrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The real vCard files of the corpus (../shared/corpus), converted by tessaly-convert with the
// default options: every output must have the SHA-256 recorded in tests/data/corpus-sha256.txt
// (tools/corpus-hashes.sh writes that file), and a few values are checked as a person reads them.

namespace {

const QString kCorpus = QStringLiteral(TESSALY_CORPUS_DIR);
const QString kHashFile = QStringLiteral(TESSALY_TEST_DATA_DIR "/corpus-sha256.txt");
const QString kNoOutput = u"no-output"_s;
const QStringList kKinds{u"csv"_s, u"txt"_s};

/*
 * How a user gets a file read: UTF-8, which a byte-order mark overrides, or ANSI when the bytes
 * are not UTF-8. tools/corpus-hashes.sh decides the same way.
 */
QString readingEncoding(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return u"utf-8"_s;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes); // decode() only converts once its result is used
    Q_UNUSED(text);
    return utf8.hasError() ? u"ansi"_s : u"utf-8"_s;
}

/* What the converter did with one corpus file. */
struct Conversion {
    ConverterRun run;
    std::optional<QByteArray> written; // the output file, when there is one

    QString describe(const QString &file, const QString &kind) const
    {
        return u"%1 (%2): exit status %3, %4; %5"_s.arg(file, kind)
            .arg(run.exitCode)
            .arg(written ? u"a file written"_s : u"nothing written"_s, run.standardError);
    }
};

/* Converts one corpus file into out.<kind> in a temporary folder with the options. */
Conversion convert(const QString &file, const QString &kind, const QStringList &options)
{
    QTemporaryDir work;
    if (!work.isValid())
        qFatal("no temporary folder");
    const QString output = work.filePath(u"out."_s + kind);
    Conversion conversion;
    conversion.run = runConverter(options + QStringList{u"-o"_s, output, kCorpus + u'/' + file});
    conversion.written = readWholeFile(output);
    return conversion;
}

/* The lines of the CSV or text file written for a corpus file; none when nothing was written. */
QStringList convertedLines(const QString &file, const QString &kind, const QStringList &options)
{
    const Conversion conversion = convert(file, kind, options);
    if (conversion.run.exitCode != 0 || !conversion.written) {
        qWarning("%s", qPrintable(conversion.describe(file, kind)));
        return {};
    }
    return outputLines(*conversion.written);
}

} // namespace

class TestCorpus : public QObject
{
    Q_OBJECT

    // Recorded hash by file name, then by output kind.
    QMap<QString, QMap<QString, QString>> m_recorded;

private slots:
    void initTestCase()
    {
        const std::optional<QByteArray> hashes = readWholeFile(kHashFile);
        QVERIFY2(hashes.has_value(), qPrintable(u"cannot read "_s + kHashFile));
        static const QRegularExpression line(u"^([0-9a-f]{64}|no-output)  (csv|txt)  (\\S.*\\.vcf)$"_s);
        const QList<QByteArray> lines = hashes->split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString text = QString::fromUtf8(lines.at(i));
            if (text.isEmpty() || text.startsWith(u'#'))
                continue;
            const QRegularExpressionMatch match = line.match(text);
            QVERIFY2(match.hasMatch(),
                     qPrintable(u"corpus-sha256.txt line %1 is not \"HASH  KIND  FILE\": %2"_s.arg(i + 1).arg(text)));
            QString &hash = m_recorded[match.captured(3)][match.captured(2)];
            QVERIFY2(hash.isEmpty(), qPrintable(u"corpus-sha256.txt line %1 repeats %2"_s.arg(i + 1).arg(text)));
            hash = match.captured(1);
        }
    }

    void everyFileGivesItsRecordedOutputs_data()
    {
        QTest::addColumn<QString>("file");
        const QStringList files = QDir(kCorpus).entryList({u"*.vcf"_s}, QDir::Files | QDir::CaseSensitive, QDir::Name);
        QVERIFY2(!files.isEmpty(), qPrintable(u"no .vcf files in "_s + kCorpus));
        // The corpus files and the recorded ones: a file on one side only fails its row.
        QStringList names = files + m_recorded.keys();
        names.sort();
        names.removeDuplicates();
        for (const QString &name : std::as_const(names))
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyFileGivesItsRecordedOutputs()
    {
        QFETCH(QString, file);
        const QString regenerate
            = u"; tools/corpus-hashes.sh writes the file (read the outputs before you commit it)"_s;
        QVERIFY2(m_recorded.contains(file),
                 qPrintable(file + u" has no recorded hash in corpus-sha256.txt"_s + regenerate));
        const std::optional<QByteArray> input = readWholeFile(kCorpus + u'/' + file);
        QVERIFY2(input.has_value(),
                 qPrintable(file + u" is recorded in corpus-sha256.txt but missing from "_s + kCorpus));

        const QString encoding = readingEncoding(*input);
        for (const QString &kind : kKinds) {
            const QString recorded = m_recorded.value(file).value(kind);
            QVERIFY2(!recorded.isEmpty(), qPrintable(u"%1 has no recorded %2 hash"_s.arg(file, kind) + regenerate));
            const Conversion conversion = convert(file, kind, {u"--encoding"_s, encoding});
            // "No data found" is a result too, when it comes as exit status 1 with nothing written.
            QString actual;
            if (conversion.run.exitCode == 0 && conversion.written)
                actual = QString::fromLatin1(
                    QCryptographicHash::hash(*conversion.written, QCryptographicHash::Sha256).toHex());
            else if (conversion.run.exitCode == 1 && !conversion.written)
                actual = kNoOutput;
            else
                QFAIL(qPrintable(conversion.describe(file, kind)));
            QVERIFY2(
                actual == recorded,
                qPrintable(u"%1 (%2, read as %3): SHA-256 %4, recorded %5"_s.arg(file, kind, encoding, actual, recorded)
                           + (conversion.written ? u"; its first line: "_s + outputLines(*conversion.written).value(0)
                                                 : QString())));
        }
    }

    void valuesAsAPersonReadsThem()
    {
        const QStringList unsorted{u"--no-sort"_s};
        // Names with parameters, escaped commas, the later of two addresses.
        QCOMPARE(convertedLines(u"mangstadt-ez-vcard__John_Doe_MS_OUTLOOK.vcf"_s, u"csv"_s, unsorted)
                     .value(1)
                     .section(u"\",\""_s, 0, 7),
                 u"\"Mr. John Richter James Doe Sr.\",\"Doe John Richter James Mr. Sr.\",\"(905) 555-1234\","
                 "\"(905) 666-1234\",\"IBM Accounting\",\"Silicon Alley 5 New York New York 12345 United States of "
                 "America\",\"20120305T131933Z\",\"john.doe@ibm.cm"_s);

        // Quoted-printable UTF-8 across a soft line break.
        QCOMPARE(convertedLines(u"Kozea-Radicale__vcard-quoted-printable1.vcf"_s, u"csv"_s, unsorted),
                 (QStringList{u"\"Name\",\"Given Name\",\"Address\",\"URL\""_s,
                              u"\"黄世勇\",\"黄 世勇\",\"北京 丰台区\",\"http://weibo.com/3094900433?闪闪H红星\""_s}));

        // An ANSI file written back as ANSI, one value per line in the text layout.
        const QStringList text
            = convertedLines(u"FolkerKinzel-VCards__v3Ansi.vcf"_s, u"txt"_s, {u"--encoding"_s, u"ansi"_s});
        QCOMPARE(text.mid(8), (QStringList{u"KMS Außenstelle"_s, u"KMS WSF"_s, u"03443-303776"_s, u"03443-333440"_s,
                                           u"KMS Außenstelle"_s, u"blablö@blub.com"_s, QString()}));

        // A folded photo does not leak into other fields; the grouped URL is kept.
        QCOMPARE(
            convertedLines(u"CyanogenMod-android_frameworks_opt_vcard__v30_ios_613_multiline.vcf"_s, u"txt"_s, unsorted)
                .mid(0, 7),
            (QStringList{u"Bob Smith"_s, u"Smith Bob"_s, u"(650) 555-1212"_s, u"Smith Auto Repair"_s,
                         u"bob@smithauto.com"_s, u"www.smithauto.com"_s, QString()}));
    }

    void softLineBreaksAndPlainEquals_data()
    {
        // Values that were damaged when a soft line break met hexadecimal-looking letters, or
        // when an "=" outside a declared quoted-printable value was decoded.
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("value"); // one line of the text layout (a CR in a value ends a line too)
        QTest::newRow("name after a break") << u"GNOME-evolution-data-server__vcard_12.vcf"_s << u"Brüning Michael"_s;
        QTest::newRow("postal code after a break")
            << u"GNOME-evolution-data-server__vcard_12.vcf"_s << u"Münsterplatz 21 Ulm Baden-Württemberg 89073"_s;
        QTest::newRow("capital E after a break") << u"GNOME-evolution-data-server__vcard_13.vcf"_s
                                                 << u"Evil backslash \\ way Ulm Newlines Country evil 89073"_s;
        QTest::newRow("TEL folded after TYPE=")
            << u"GNOME-evolution-data-server__vcard_13.vcf"_s << u"+1-919-676-9564"_s;
        QTest::newRow("capital B after a break")
            << u"mangstadt-ez-vcard__outlook-2007.vcf"_s
            // The note on one line: each of its line breaks became one space.
            << u"This is the NOTE field\t I assume it encodes this text inside a NOTE vCard type. But I'm not sure "
               "because there's text formatting going on here. It does not preserve the formatting"_s;
        QTest::newRow("f after a break") << u"CyanogenMod-android_frameworks_opt_vcard__v21_complicated.vcf"_s
                                         << u"Now's the time for all folk to come to the aid of their country."_s;
        QTest::newRow("plain value ending in =")
            << u"pohly-syncevolution__eds_contact.vcf"_s
            << u"triggers parser bug in Funambol 3.0: trailing = is mistaken for soft line break="_s;
    }

    void softLineBreaksAndPlainEquals()
    {
        QFETCH(QString, file);
        QFETCH(QString, value);
        const QStringList lines
            = convertedLines(file, u"txt"_s, {u"--no-sort"_s}).join(u'\n').split(QRegularExpression(u"[\r\n]"_s));
        QVERIFY2(lines.contains(value), qPrintable(lines.join(u'|')));
    }
};

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
