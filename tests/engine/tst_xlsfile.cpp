#include "engine/xlsfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <utility>

using Table = std::vector<QStringList>;

namespace {

// Debian's interpreter, which sees the python3-xlrd package.
const QString kPython = QStringLiteral("/usr/bin/python3");
constexpr int kWidthUnits = 40 * 256;

using CellMap = std::map<std::pair<int, int>, QString>;

/** The cells a reader should find: every text at its row and column, empty ones as blank cells. */
CellMap allCells(const Table &table)
{
    CellMap cells;
    for (int r = 0; r < int(table.size()); ++r) {
        for (int c = 0; c < table[r].size(); ++c)
            cells[{r, c}] = table[r][c];
    }
    return cells;
}

int rowCount(const CellMap &cells)
{
    return cells.empty() ? 0 : cells.rbegin()->first.first + 1;
}

/** Short strings of every length, Latin-1 and wide, so string headers land on every record offset. */
Table manyShortStrings()
{
    const QStringList fillers{QStringLiteral("a"), QStringLiteral("Ж"), QStringLiteral("é"), QStringLiteral("😀")};
    Table table;
    for (int i = 0; i < 4000; ++i) {
        const QString id = QString::number(i) + QLatin1Char(' ');
        const QString text = id + fillers[i % fillers.size()].repeated(1 + (i * 7) % 61);
        table.push_back({text, fillers[i % fillers.size()]});
    }
    return table;
}

/** Splits LibreOffice's CSV export (comma, double quotes) into rows without trailing empty fields. */
Table parseCsv(const QString &csv)
{
    Table rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < csv.size(); ++i) {
        const QChar ch = csv[i];
        if (quoted) {
            if (ch == QLatin1Char('"') && i + 1 < csv.size() && csv[i + 1] == QLatin1Char('"')) {
                field += ch;
                ++i;
            } else if (ch == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char(',')) {
            row << std::exchange(field, QString());
        } else if (ch == QLatin1Char('\n')) {
            row << std::exchange(field, QString());
            while (!row.isEmpty() && row.last().isEmpty())
                row.removeLast();
            rows.push_back(std::exchange(row, QStringList()));
        } else if (ch != QLatin1Char('\r')) {
            field += ch;
        }
    }
    return rows;
}

} // namespace

class TestXlsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsBackEveryCell_data();
    void readsBackEveryCell();
    void readsBackLargestSheet();
    void sameBytesHowEverTheRowsCome();
    void libreOfficeKeepsTextAsText();
    void refusesTableBeyondLimits_data();
    void refusesTableBeyondLimits();
    void reportsDeviceFailure_data();
    void reportsDeviceFailure();

private:
    bool writeFile(const Table &table, int widthColumns, const QString &name, QString *path, QString *message);
    bool readBack(const QString &path, const QString &rows, QJsonObject *report, QString *message);
    void verifyCells(const QJsonObject &report, const CellMap &expected);

    QTemporaryDir m_dir;
    QString m_script;
    bool m_haveReader = false;
};

void TestXlsFile::initTestCase()
{
    QVERIFY(m_dir.isValid());
#ifdef TESSALY_TEST_SOURCE_DIR
    m_script = QStringLiteral(TESSALY_TEST_SOURCE_DIR "/engine/xlsfile_check.py");
#else
    m_script = QFINDTESTDATA("xlsfile_check.py");
#endif
    QVERIFY2(QFileInfo::exists(m_script), "xlsfile_check.py is not next to the test source");
    QProcess probe;
    probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import xlrd")});
    m_haveReader = probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool TestXlsFile::writeFile(const Table &table, int widthColumns, const QString &name, QString *path, QString *message)
{
    *path = m_dir.filePath(name);
    QFile file(*path);
    if (!file.open(QIODevice::WriteOnly)) {
        *message = file.errorString();
        return false;
    }
    return writeXlsWorkbook(table, widthColumns, file, message);
}

/** Runs the xlrd-based reader; rows limits the listed cells to those rows ("" lists all). */
bool TestXlsFile::readBack(const QString &path, const QString &rows, QJsonObject *report, QString *message)
{
    QStringList arguments{m_script, path};
    if (!rows.isEmpty())
        arguments << QStringLiteral("--rows") << rows;
    QProcess process;
    process.start(kPython, arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *message = QStringLiteral("reader failed: ") + QString::fromUtf8(process.readAllStandardError());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput(), &parseError);
    if (!document.isObject()) {
        *message = QStringLiteral("reader output is not JSON: ") + parseError.errorString();
        return false;
    }
    *report = document.object();
    return true;
}

/** The listed cells are exactly the expected ones, each a text cell with the number format "@". */
void TestXlsFile::verifyCells(const QJsonObject &report, const CellMap &expected)
{
    CellMap found;
    for (const QJsonValue &value : report.value(QStringLiteral("cells")).toArray()) {
        const QJsonArray cell = value.toArray();
        const int row = cell[0].toInt();
        const int column = cell[1].toInt();
        const QString where = QStringLiteral("cell %1,%2").arg(row).arg(column);
        // xlrd's cell types: 1 text, 6 blank (an empty text that still carries its format).
        const bool blank = cell[3].toString().isEmpty();
        QVERIFY2(cell[2].toInt() == (blank ? 6 : 1), qPrintable(where + QStringLiteral(" has the wrong type")));
        QVERIFY2(cell[4].toString() == QStringLiteral("@"),
                 qPrintable(where + QStringLiteral(" format ") + cell[4].toString()));
        found[{row, column}] = cell[3].toString();
    }
    QCOMPARE(found.size(), expected.size());
    for (const auto &[position, text] : expected) {
        const auto it = found.find(position);
        QVERIFY2(it != found.end(),
                 qPrintable(QStringLiteral("missing cell %1,%2").arg(position.first).arg(position.second)));
        if (it->second != text) {
            QFAIL(qPrintable(QStringLiteral("cell %1,%2 has %3 characters, expected %4: \"%5\"")
                                 .arg(position.first)
                                 .arg(position.second)
                                 .arg(it->second.size())
                                 .arg(text.size())
                                 .arg(it->second.left(40))));
        }
    }
}

void TestXlsFile::readsBackEveryCell_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<int>("widthColumns");

    QTest::newRow("texts that look like numbers, dates or formulas")
        << Table{{QStringLiteral("0555 123"), QStringLiteral("=1+1"), QStringLiteral("00123"),
                  QStringLiteral("+44 20")},
                 {QStringLiteral("1.5"), QStringLiteral("1e5"), QStringLiteral("TRUE"), QStringLiteral("2024-01-02")},
                 {QStringLiteral("=1+1"), QStringLiteral("00123"), QStringLiteral("0555 123")}}
        << 3;
    QTest::newRow("non-Latin scripts and characters beyond 16 bits")
        << Table{{QStringLiteral("Şişli İğdır"), QStringLiteral("Москва"), QStringLiteral("東京"), QStringLiteral("😀"),
                  QStringLiteral("café"), QStringLiteral("a😀b"), QStringLiteral("line one\nline two")}}
        << 7;
    QTest::newRow("ragged rows with gaps") << Table{{},
                                                    {QStringLiteral("a"), QString(), QStringLiteral("c")},
                                                    {QStringLiteral("only")},
                                                    {QString(), QString(), QString(), QString(), QStringLiteral("e")},
                                                    {},
                                                    {QString()}}
                                           << 0;
    QTest::newRow("all 256 columns") << [] {
        QStringList row;
        for (int c = 0; c < kXlsMaxColumns; ++c)
            row << QStringLiteral("c%1").arg(c);
        return Table{row};
    }() << 256;
    QTest::newRow("strings continued over several records")
        << Table{{QStringLiteral("0123456789").repeated(2000), QStringLiteral("Şişli İğdır ").repeated(1700)},
                 {QStringLiteral("x") + QStringLiteral("😀").repeated(kXlsMaxCellChars / 2),
                  QStringLiteral("😀").repeated(kXlsMaxCellChars / 2) + QStringLiteral("y")},
                 {QStringLiteral("a").repeated(kXlsMaxCellChars),
                  QStringLiteral("東京").repeated(kXlsMaxCellChars / 2)}}
        << 2;
    // The first record holds 8224 bytes: the two counts (8), the filler's header (3) and its
    // characters, so the next string starts `room` bytes before the record ends.
    for (int room = 0; room <= 7; ++room) {
        const QString filler = QStringLiteral("x").repeated(8224 - 8 - 3 - room);
        QTest::addRow("string starting %d bytes before the record end", room)
            << Table{{filler, QStringLiteral("😀ab😀"), QStringLiteral("ab")}} << 0;
    }
    QTest::newRow("thousands of short strings") << manyShortStrings() << 1;
    QTest::newRow("no cells") << Table{} << 2;
}

void TestXlsFile::readsBackEveryCell()
{
    QFETCH(Table, table);
    QFETCH(int, widthColumns);
    if (!m_haveReader)
        QSKIP("needs /usr/bin/python3 with xlrd");

    QString path;
    QString message;
    QVERIFY2(writeFile(table, widthColumns, QStringLiteral("cells.xls"), &path, &message), qPrintable(message));
    QJsonObject report;
    QVERIFY2(readBack(path, QString(), &report, &message), qPrintable(message));

    QCOMPARE(report.value(QStringLiteral("log")).toString(), QString());
    QCOMPARE(report.value(QStringLiteral("problems")).toArray(), QJsonArray());
    QCOMPARE(report.value(QStringLiteral("sheets")).toArray(), QJsonArray({QStringLiteral("Sheet1")}));

    const CellMap expected = allCells(table);
    QCOMPARE(report.value(QStringLiteral("nrows")).toInt(), rowCount(expected));
    verifyCells(report, expected);

    QSet<QString> distinct;
    int texts = 0;
    for (const auto &[position, text] : expected) {
        if (!text.isEmpty()) {
            distinct.insert(text);
            ++texts;
        }
    }
    QCOMPARE(report.value(QStringLiteral("sst")).toArray(), QJsonArray({texts, int(distinct.size())}));

    QJsonObject widths;
    for (int c = 0; c < widthColumns; ++c)
        widths.insert(QString::number(c), kWidthUnits);
    QCOMPARE(report.value(QStringLiteral("colinfo")).toObject(), widths);
}

void TestXlsFile::readsBackLargestSheet()
{
    if (!m_haveReader)
        QSKIP("needs /usr/bin/python3 with xlrd");
    // Ten columns are enough for a FAT longer than the header's 109 entries.
    constexpr int kColumns = 10;
    Table table(kXlsMaxRows);
    for (int r = 0; r < kXlsMaxRows; ++r) {
        QStringList &row = table[r];
        row << QStringLiteral("%1").arg(r, 6, 10, QLatin1Char('0')) << QStringLiteral("same");
        for (int c = 2; c < kColumns; ++c)
            row << QStringLiteral("r%1 c%2 Şişli").arg(r).arg(c);
    }

    QString path;
    QString message;
    QVERIFY2(writeFile(table, 3, QStringLiteral("largest.xls"), &path, &message), qPrintable(message));
    QVERIFY(QFileInfo(path).size() > 109 * 128 * 512);
    QJsonObject report;
    const QList<int> sampleRows{0, 1, 4095, 32768, kXlsMaxRows - 1};
    QVERIFY2(readBack(path, QStringLiteral("0,1,4095,32768,65535"), &report, &message), qPrintable(message));

    QCOMPARE(report.value(QStringLiteral("log")).toString(), QString());
    QCOMPARE(report.value(QStringLiteral("problems")).toArray(), QJsonArray());
    QCOMPARE(report.value(QStringLiteral("nrows")).toInt(), kXlsMaxRows);
    QCOMPARE(report.value(QStringLiteral("ncols")).toInt(), kColumns);
    const int cellCount = kXlsMaxRows * kColumns;
    QCOMPARE(report.value(QStringLiteral("sst")).toArray(), QJsonArray({cellCount, cellCount - kXlsMaxRows + 1}));
    CellMap expected;
    for (int r : sampleRows) {
        for (int c = 0; c < kColumns; ++c)
            expected[{r, c}] = table[r][c];
    }
    verifyCells(report, expected);
}

void TestXlsFile::sameBytesHowEverTheRowsCome()
{
    // All rows in one batch into a table of texts sized for every cell, or a few rows at a time
    // into one sized for a single cell, which has to grow many times: the same workbook.
    const Table table = manyShortStrings();
    QBuffer whole;
    QVERIFY(whole.open(QIODevice::WriteOnly));
    QString error;
    QVERIFY2(writeXlsWorkbook(table, 2, whole, &error), qPrintable(error));

    std::vector<std::vector<QByteArray>> texts; // the cells as UTF-8, which the batches view
    for (const QStringList &row : table) {
        texts.emplace_back();
        for (const QString &cell : row)
            texts.back().push_back(cell.toUtf8());
    }
    XlsFile workbook(2, 1);
    XlsRowBatch batch;
    constexpr size_t kBatchRows = 7;
    for (size_t first = 0; first < table.size(); first += kBatchRows) {
        batch.clear();
        for (size_t r = first; r < std::min(table.size(), first + kBatchRows); ++r) {
            const std::vector<QByteArrayView> cells(texts[r].begin(), texts[r].end());
            batch.appendRow(cells);
        }
        for (qsizetype r = 0; r < batch.rowCount(); ++r)
            QVERIFY2(workbook.addRow(batch, r), qPrintable(workbook.errorString()));
    }
    QBuffer inBatches;
    QVERIFY(inBatches.open(QIODevice::WriteOnly));
    QVERIFY2(workbook.write(inBatches), qPrintable(workbook.errorString()));
    QCOMPARE(inBatches.data(), whole.data());
}

void TestXlsFile::libreOfficeKeepsTextAsText()
{
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    const Table table{
        {QStringLiteral("0555 123"), QStringLiteral("=1+1"), QStringLiteral("00123"), QStringLiteral("+44 20")},
        {QStringLiteral("Şişli İğdır"), QStringLiteral("Москва"), QStringLiteral("東京"), QStringLiteral("😀")},
        {QStringLiteral("1.50"), QString(), QStringLiteral("2024-01-02")},
        {QStringLiteral("Şişli ").repeated(3400), QStringLiteral("ab").repeated(10000)},
    };
    QString path;
    QString message;
    QVERIFY2(writeFile(table, 4, QStringLiteral("office.xls"), &path, &message), qPrintable(message));

    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(office, {QStringLiteral("-env:UserInstallation=file://") + m_dir.filePath(QStringLiteral("profile")),
                           QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                           QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), QStringLiteral("--outdir"),
                           m_dir.path(), path});
    QVERIFY(process.waitForFinished(180000));
    QFile csv(m_dir.filePath(QStringLiteral("office.csv")));
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(QString::fromUtf8(process.readAllStandardError())));
    const Table rows = parseCsv(QString::fromUtf8(csv.readAll()));
    QCOMPARE(rows.size(), table.size());
    for (size_t r = 0; r < table.size(); ++r)
        QCOMPARE(rows[r], table[r]);
}

void TestXlsFile::refusesTableBeyondLimits_data()
{
    QTest::addColumn<Table>("table");

    Table tooManyRows(kXlsMaxRows + 1);
    tooManyRows.back() << QStringLiteral("x");
    QTest::newRow("row 65537") << tooManyRows;
    QStringList wideRow;
    for (int c = 0; c <= kXlsMaxColumns; ++c)
        wideRow << QStringLiteral("x");
    QTest::newRow("column 257") << Table{wideRow};
    QTest::newRow("32768 characters") << Table{{QStringLiteral("x").repeated(kXlsMaxCellChars + 1)}};
}

void TestXlsFile::refusesTableBeyondLimits()
{
    QFETCH(Table, table);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QString error;
    QVERIFY(!writeXlsWorkbook(table, 1, buffer, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(buffer.size(), 0);
}

void TestXlsFile::reportsDeviceFailure_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QIODevice::OpenMode>("mode");

    QTest::newRow("file opened for reading")
        << QStringLiteral("read-only.xls") << QIODevice::OpenMode(QIODevice::ReadOnly);
    QTest::newRow("device without space") << QStringLiteral("/dev/full") << QIODevice::OpenMode(QIODevice::WriteOnly);
}

void TestXlsFile::reportsDeviceFailure()
{
    QFETCH(QString, fileName);
    QFETCH(QIODevice::OpenMode, mode);
    const QString path = QFileInfo(fileName).isAbsolute() ? fileName : m_dir.filePath(fileName);
    if (!QFileInfo::exists(path)) {
        if (QFileInfo(fileName).isAbsolute())
            QSKIP("this system has no such device");
        QFile create(path);
        QVERIFY(create.open(QIODevice::WriteOnly));
    }
    QFile file(path);
    QVERIFY(file.open(mode));
    if (!mode.testFlag(QIODevice::WriteOnly))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ReadOnly device")));

    QString error;
    QVERIFY(!writeXlsWorkbook({{QStringLiteral("a")}}, 1, file, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsFile)
#include "tst_xlsfile.moc"
