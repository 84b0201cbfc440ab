#include "recordinghost.h"

#include "engine/loading.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kCorpus = QStringLiteral(TESSALY_CORPUS_DIR);

/* Loads a file the way a user would: UTF-8 first, ANSI when that fails. */
LoadedVcards loadCorpusFile(const QString &path)
{
    LoadedVcards loaded;
    if (appendVcfFile(path, TextEncoding::Utf8, loaded).kind != LoadOutcome::loadedCards)
        appendVcfFile(path, TextEncoding::Ansi, loaded);
    return loaded;
}

QStringList convertedLines(const QString &corpusFile, const QString &outputName, ExportOptions options)
{
    QTemporaryDir dir;
    RecordingHost host;
    host.options = options;
    const QString output = dir.filePath(outputName);
    const LoadedVcards loaded = loadCorpusFile(kCorpus + u'/' + corpusFile);
    if (runConversion(loaded.loadedLines, {u"CSV"_qs, QString(), output}, RowFormat{}, host)
        != ConversionOutcome::writtenBytes)
        return {};
    TextLines lines;
    readTextLines(output, options.encoding, lines, nullptr);
    return lines.toStringList();
}

} // namespace

class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void everyFileConverts_data()
    {
        QTest::addColumn<QString>("file");
        const QStringList files = QDir(kCorpus).entryList({u"*.vcf"_qs}, QDir::Files, QDir::Name);
        QVERIFY2(files.size() > 10, qPrintable(u"no corpus at "_qs + kCorpus));
        for (const QString &file : files)
            QTest::newRow(qPrintable(file)) << file;
    }

    void everyFileConverts()
    {
        QFETCH(QString, file);
        const LoadedVcards loaded = loadCorpusFile(kCorpus + u'/' + file);
        QTemporaryDir dir;
        for (const QString &name : {u"out.csv"_qs, u"out.txt"_qs}) {
            RecordingHost host;
            const ConversionOutcome outcome =
                runConversion(loaded.loadedLines, {u"CSV"_qs, QString(), dir.filePath(name)}, RowFormat{}, host);
            QVERIFY(outcome != ConversionOutcome::NotWritten);
            QCOMPARE(QFile::exists(dir.filePath(name)), outcome == ConversionOutcome::writtenBytes);
        }
    }

    void valuesAsAPersonReadsThem()
    {
        const ExportOptions unsorted{true, false, TextEncoding::Utf8};
        // Names with parameters, escaped commas, the later of two addresses.
        QCOMPARE(convertedLines(u"mangstadt-ez-vcard__John_Doe_MS_OUTLOOK.vcf"_qs, u"a.csv"_qs, unsorted).value(1)
                     .section(u"\",\""_qs, 0, 7),
                 u"\"Mr. John Richter James Doe Sr.\",\"Doe John Richter James Mr. Sr.\",\"(905) 555-1234\","
                 "\"(905) 666-1234\",\"IBM Accounting\",\"Silicon Alley 5 New York New York 12345 United States of "
                 "America\",\"20120305T131933Z\",\"john.doe@ibm.cm"_qs);

        // Quoted-printable UTF-8 across a soft line break.
        QCOMPARE(convertedLines(u"Kozea-Radicale__vcard-quoted-printable1.vcf"_qs, u"b.csv"_qs, unsorted),
                 (QStringList{u"\"Name\",\"Given Name\",\"Address\",\"URL\""_qs,
                              u"\"黄世勇\",\"黄 世勇\",\"北京 丰台区\",\"http://weibo.com/3094900433?闪闪H红星\""_qs}));

        // An ANSI file written back as ANSI, one value per line in the text layout.
        const QStringList text = convertedLines(u"FolkerKinzel-VCards__v3Ansi.vcf"_qs, u"c.txt"_qs,
                                                {true, true, TextEncoding::Ansi});
        QCOMPARE(text.mid(8), (QStringList{u"KMS Außenstelle"_qs, u"KMS WSF"_qs, u"03443-303776"_qs,
                                           u"03443-333440"_qs, u"KMS Außenstelle"_qs, u"blablö@blub.com"_qs,
                                           QString()}));

        // A folded photo does not leak into other fields; the grouped URL is kept.
        QCOMPARE(convertedLines(u"CyanogenMod-android_frameworks_opt_vcard__v30_ios_613_multiline.vcf"_qs,
                                u"d.txt"_qs, unsorted)
                     .mid(0, 7),
                 (QStringList{u"Bob Smith"_qs, u"Smith Bob"_qs, u"(650) 555-1212"_qs, u"Smith Auto Repair"_qs,
                              u"bob@smithauto.com"_qs, u"www.smithauto.com"_qs, QString()}));
    }
};

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
