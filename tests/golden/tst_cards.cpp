#include "converterrun.h"
#include "csvtable.h"
#include "workbookdump.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The golden-file cases: every folder under tests/data/cards holds input.vcf, case.ini and the
// exact bytes the converter must write (tests/data/cards/README.md describes the format).

namespace {

const QString kCardsDir = QStringLiteral(TESSALY_TEST_DATA_DIR "/cards");

/*
 * The converter options that case.ini names, or an error text naming the line that is not
 * understood: a misspelt key must fail the case rather than quietly test the defaults.
 */
std::optional<QStringList> caseOptions(const QByteArray &ini, QString &error)
{
    QStringList options;
    const QList<QByteArray> lines = ini.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (equals < 0) {
            // no "=": falls through to the error below
        } else if (key == u"preset"_s
                   && QStringList{u"default"_s, u"excel"_s, u"google"_s, u"outlook"_s, u"yahoo"_s}.contains(value)) {
            options << u"--preset"_s << value;
            continue;
        } else if (key == u"encoding"_s && QStringList{u"ansi"_s, u"utf-8"_s, u"utf-16"_s}.contains(value)) {
            options << u"--encoding"_s << value;
            continue;
        } else if ((key == u"headers"_s || key == u"sort"_s) && (value == u"on"_s || value == u"off"_s)) {
            if (value == u"off"_s)
                options << (key == u"headers"_s ? u"--no-headers"_s : u"--no-sort"_s);
            continue;
        } else if (key == u"all-fields"_s && (value == u"on"_s || value == u"off"_s)) {
            if (value == u"on"_s)
                options << u"--all-fields"_s;
            continue;
        } else if (key == u"separator"_s && (value.size() == 1 || value == u"tab"_s)) {
            options << u"--separator"_s << (value == u"tab"_s ? u"\t"_s : value);
            continue;
        }
        error = u"case.ini line %1 is not understood: %2"_s.arg(i + 1).arg(line);
        return std::nullopt;
    }
    return options;
}

/* A line as a reader can see it in a failure message: control characters and the mark escaped. */
QString visible(const QString &line)
{
    QString shown;
    for (const QChar c : line) {
        if (c == u'\r')
            shown += u"\\r"_s;
        else if (c == u'\t')
            shown += u"\\t"_s;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0xFEFF || c.unicode() == 0xFFFD)
            shown += u"\\u%1"_s.arg(uint(c.unicode()), 4, 16, QChar(u'0'));
        else
            shown += c;
    }
    return shown;
}

/*
 * Where actual first differs from expected, for a reader: the byte-order mark, else the first
 * line that differs (number, expected, actual), else, for the same text in another encoding,
 * the first byte that differs. Empty when the bytes are equal.
 */
QString firstDifference(const QByteArray &expected, const QByteArray &actual)
{
    if (expected == actual)
        return {};
    if (byteOrderMarkName(expected) != byteOrderMarkName(actual))
        return u"expected %1, the output has %2"_s.arg(byteOrderMarkName(expected), byteOrderMarkName(actual));

    // Split at LF only, so that a line end of another kind shows up as a difference ("\r").
    const QStringList expectedLines = decodeOutput(expected).split(u'\n');
    const QStringList actualLines = decodeOutput(actual).split(u'\n');
    const QString endOfFile = u"<end of file>"_s;
    for (qsizetype i = 0; i < qMax(expectedLines.size(), actualLines.size()); ++i) {
        const QString wanted = i < expectedLines.size() ? visible(expectedLines.at(i)) : endOfFile;
        const QString got = i < actualLines.size() ? visible(actualLines.at(i)) : endOfFile;
        if (wanted != got)
            return u"first difference at line %1\n   expected: %2\n   actual:   %3"_s.arg(i + 1).arg(wanted, got);
    }

    qsizetype offset = 0;
    while (offset < expected.size() && offset < actual.size() && expected.at(offset) == actual.at(offset))
        ++offset;
    const auto byteAt = [offset](const QByteArray &bytes) {
        return offset < bytes.size() ? u"0x%1"_s.arg(uint(quint8(bytes.at(offset))), 2, 16, QChar(u'0')) : u"the end"_s;
    };
    return u"the same text in another encoding: first different byte at offset %1 (line %2), expected %3, actual %4"_s
        .arg(offset)
        .arg(expected.left(offset).count('\n') + 1)
        .arg(byteAt(expected), byteAt(actual));
}

} // namespace

class TestCards : public QObject
{
    Q_OBJECT

private slots:
    void writesTheExpectedBytes_data()
    {
        QTest::addColumn<QString>("folder");
        const QStringList cases = QDir(kCardsDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QVERIFY2(!cases.isEmpty(), qPrintable(u"no case folders in "_s + kCardsDir));
        for (const QString &name : cases)
            QTest::newRow(qPrintable(name)) << QDir(kCardsDir).filePath(name);
    }

    void writesTheExpectedBytes()
    {
        QFETCH(QString, folder);
        const QDir dir(folder);
        QVERIFY2(dir.exists(u"input.vcf"_s), "the case has no input.vcf");
        const std::optional<QByteArray> ini = readWholeFile(dir.filePath(u"case.ini"_s));
        QVERIFY2(ini.has_value(), "the case has no case.ini");
        QString error;
        const std::optional<QStringList> options = caseOptions(*ini, error);
        QVERIFY2(options.has_value(), qPrintable(error));

        const QStringList expectedFiles
            = dir.entryList({u"expected.*"_s}, QDir::Files | QDir::CaseSensitive, QDir::Name);
        QVERIFY2(!expectedFiles.isEmpty(), "the case has neither expected.csv nor expected.txt");
        for (const QString &expectedName : expectedFiles) {
            const QString kind = QFileInfo(expectedName).suffix();
            QVERIFY2(kind == u"csv"_s || kind == u"txt"_s,
                     qPrintable(expectedName + u": only expected.csv and expected.txt are compared"_s));

            QTemporaryDir work;
            QVERIFY(work.isValid());
            const QString output = work.filePath(u"out."_s + kind);
            QStringList arguments = *options + QStringList{u"-o"_s, output, dir.filePath(u"input.vcf"_s)};
            // A second input is loaded after the first, as a second file of one load.
            if (dir.exists(u"input2.vcf"_s))
                arguments.append(dir.filePath(u"input2.vcf"_s));
            const ConverterRun run = runConverter(arguments);
            QVERIFY2(run.exitCode == 0,
                     qPrintable(u"%1: tessaly-convert %2 ended with %3: %4"_s.arg(expectedName, arguments.join(u' '))
                                    .arg(run.exitCode)
                                    .arg(run.standardError)));

            const std::optional<QByteArray> written = readWholeFile(output);
            QVERIFY2(written.has_value(), qPrintable(expectedName + u": nothing was written"_s));
            const QString difference = firstDifference(*readWholeFile(dir.filePath(expectedName)), *written);
            QVERIFY2(difference.isEmpty(), qPrintable(expectedName + u": "_s + difference));
        }
    }

    void workbooksHoldTheCsvCells_data()
    {
        // The All fields cases of the default layout: their workbooks hold the cells of their CSV.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        for (const QString &name : QDir(kCardsDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QDir dir(QDir(kCardsDir).filePath(name));
            QString error;
            const std::optional<QStringList> options = caseOptions(*readWholeFile(dir.filePath(u"case.ini"_s)), error);
            if (options && options->contains(u"--all-fields"_s) && !options->contains(u"--preset"_s)
                && dir.exists(u"expected.csv"_s))
                QTest::newRow(qPrintable(name)) << dir.path() << *options;
        }
    }

    void workbooksHoldTheCsvCells()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        const QDir dir(folder);
        const QList<QStringList> expected
            = readCsvTable(QString::fromUtf8(*readWholeFile(dir.filePath(u"expected.csv"_s))));
        for (const QString &name : {u"out.xlsx"_s, u"out.xls"_s}) {
            QTemporaryDir work;
            const QString output = work.filePath(name);
            const ConverterRun run = runConverter(options + QStringList{u"-o"_s, output, dir.filePath(u"input.vcf"_s)});
            QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
            QCOMPARE(jsonTable(dumpWorkbook(output).value(u"cells"_s).toArray()), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
