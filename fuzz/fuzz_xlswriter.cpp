// The .xls writer on arbitrary tables: every file it writes is read back by a strict reader of
// the compound file and the BIFF records (xlscheck), and must hold exactly the cells it was
// given; a table beyond the format's limits must be refused with nothing written.
//
// Half of the inputs go to the writer directly (into memory), the other half through the
// export's workbook step (delimited rows, a real file, the host's messages).

#include "fuzzsupport.h"
#include "xlscheck.h"

#include "engine/conversionjob.h"
#include "engine/workbookexport.h"
#include "engine/xlsfile.h"

#include <QBuffer>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

/* A text of Latin-1 bytes, raw UTF-16 units (lone surrogates included) or UTF-8, often long. */
QString makeText(FuzzedDataProvider &input, QStringList &earlier)
{
    if (!earlier.isEmpty() && input.ConsumeBool())
        return earlier[input.ConsumeIntegralInRange<qsizetype>(0, earlier.size() - 1)];
    const int kind = input.ConsumeIntegralInRange(0, 3);
    const std::string piece = input.ConsumeRandomLengthString(48);
    QString text;
    switch (kind) {
    case 0:
        text = QString::fromLatin1(piece.data(), qsizetype(piece.size()));
        break;
    case 1:
        for (size_t i = 0; i + 1 < piece.size(); i += 2)
            text += QChar(char16_t(quint8(piece[i]) | quint8(piece[i + 1]) << 8));
        break;
    case 2:
        text = QString::fromUtf8(piece.data(), qsizetype(piece.size()));
        break;
    default:
        break; // empty: a blank cell
    }
    // Long texts cross the 8224-byte record limit and reach the 32,767-character cell limit.
    if (input.ConsumeIntegralInRange(0, 7) == 0)
        text = text.repeated(input.ConsumeIntegralInRange(1, 3000));
    earlier.append(text);
    return text;
}

QStringList makeRow(FuzzedDataProvider &input, QStringList &earlier)
{
    QStringList row;
    // Now and then a wide row, up to beyond the 256 columns of a sheet.
    if (input.ConsumeIntegralInRange(0, 15) == 0)
        row.resize(input.ConsumeIntegralInRange(0, 260));
    const int count = input.ConsumeIntegralInRange(0, 10);
    for (int i = 0; i < count; ++i)
        row.append(makeText(input, earlier));
    return row;
}

void checkCells(const xlscheck::Workbook &book, const std::vector<QStringList> &cells, int widthColumns)
{
    xlscheck::Cells expected;
    for (qsizetype r = 0; r < qsizetype(cells.size()); ++r) {
        for (qsizetype c = 0; c < cells[size_t(r)].size(); ++c)
            expected.insert({int(r), int(c)}, cells[size_t(r)][c]);
    }
    FUZZ_CHECK(book.cells.size() == expected.size(),
               QStringLiteral("%1 cells, expected %2").arg(book.cells.size()).arg(expected.size()));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        FUZZ_CHECK(book.cells.value(it.key(), QStringLiteral("<none>")) == it.value(),
                   QStringLiteral("cell %1,%2").arg(it.key().first).arg(it.key().second));
    FUZZ_CHECK(book.widthColumns == std::clamp(widthColumns, 0, int(kXlsMaxColumns)));
}

bool fitsXls(const std::vector<QStringList> &cells)
{
    for (qsizetype r = 0; r < qsizetype(cells.size()); ++r) {
        const QStringList &row = cells[size_t(r)];
        if (!row.isEmpty() && (r >= kXlsMaxRows || row.size() > kXlsMaxColumns))
            return false;
        for (const QString &text : row) {
            if (text.size() > kXlsMaxCellChars)
                return false;
        }
    }
    return true;
}

/* The writer itself, into memory. */
void writeDirectly(FuzzedDataProvider &input)
{
    QStringList earlier;
    // Now and then many empty rows first, up to beyond the 65,536 rows of a sheet.
    std::vector<QStringList> cells(input.ConsumeIntegralInRange(0, 15) == 0 ? input.ConsumeIntegralInRange(0, 66000)
                                                                            : 0);
    const int rows = input.ConsumeIntegralInRange(0, 40);
    for (int r = 0; r < rows; ++r)
        cells.push_back(makeRow(input, earlier));
    const int widthColumns = input.ConsumeIntegralInRange(-2, 300);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    const bool written = writeXlsWorkbook(cells, widthColumns, buffer, &error);
    FUZZ_CHECK(written == fitsXls(cells), error);
    if (!written) {
        FUZZ_CHECK(!error.isEmpty() && buffer.data().isEmpty());
        return;
    }
    QString why;
    const std::optional<xlscheck::Workbook> book = xlscheck::readWorkbook(buffer.data(), why);
    FUZZ_CHECK(book.has_value(), why);
    checkCells(*book, cells, widthColumns);
}

/* Keeps the progress that the workbook step reports. */
class ProgressEvents final : public ExportEvents
{
public:
    QList<int> progress;

    void progressed(ExportStage, int value) override { progress.append(value); }
    void messageReady(const ExportMessage &) override { }
};

/* A row as the export builds it: quoted fields, or now and then raw text with stray quotes. */
QString makeDelimitedRow(FuzzedDataProvider &input, QChar delimiter, QStringList &earlier)
{
    QStringList fields = makeRow(input, earlier);
    const bool raw = input.ConsumeIntegralInRange(0, 7) == 0;
    for (QString &field : fields) {
        field.remove(delimiter);
        if (!raw)
            field = u'"' + field.remove(u'"') + u'"';
    }
    return fields.join(delimiter);
}

/* The documented split: at every delimiter, each field without its enclosing quote marks. */
QStringList splitFields(const QString &row, QChar delimiter)
{
    QStringList fields = row.split(delimiter);
    for (QString &field : fields) {
        if (field.size() >= 2 && field.startsWith(u'"') && field.endsWith(u'"'))
            field = field.sliced(1, field.size() - 2);
    }
    return fields;
}

/* The export's workbook step, to a real file. */
void writeThroughExport(FuzzedDataProvider &input)
{
    static const QChar delimiters[] = {u',', u';', u'\t', QChar(0x00E9)};
    const QChar delimiter = delimiters[input.ConsumeIntegralInRange(0, 3)];
    QStringList earlier;
    // Now and then more rows than a sheet holds (a full sheet would take seconds to check).
    QStringList rows(input.ConsumeIntegralInRange(0, 15) == 0 ? input.ConsumeIntegralInRange(65537, 66000) : 0);
    const int count = input.ConsumeIntegralInRange(0, 40);
    for (int r = 0; r < count; ++r)
        rows.append(makeDelimitedRow(input, delimiter, earlier));

    std::vector<QStringList> cells;
    if (rows.size() <= kXlsMaxRows) {
        for (const QString &row : rows)
            cells.push_back(splitFields(row, delimiter));
    }
    const bool fits = rows.size() <= kXlsMaxRows && fitsXls(cells);

    const QString path = scratchDir().filePath(QStringLiteral("export.xls"));
    QFile::remove(path);
    ProgressEvents events;
    QString error;
    const WriteResult result = exportToWorkbook(FinishedRows(TextLines::fromStringList(rows), {}, false, QString()),
                                                delimiter, path, events, {}, &error);
    const bool written = result == WriteResult::Written;
    const QStringList left
        = QDir(scratchDir().path()).entryList({QStringLiteral("export*")}, QDir::Files | QDir::Hidden);
    FUZZ_CHECK(written == fits);
    FUZZ_CHECK((result == WriteResult::DoesNotFit) == !fits, error);
    FUZZ_CHECK(written == error.isEmpty(), error);
    FUZZ_CHECK(std::is_sorted(events.progress.begin(), events.progress.end()));
    FUZZ_CHECK(events.progress.isEmpty() || (events.progress.front() > 80 && events.progress.back() <= 100));
    if (!written) {
        FUZZ_CHECK(left.isEmpty(), left.join(u' ')); // nothing half-written
        return;
    }
    FUZZ_CHECK(left == QStringList{QStringLiteral("export.xls")}, left.join(u' '));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    QString why;
    const std::optional<xlscheck::Workbook> book = xlscheck::readWorkbook(file.readAll(), why);
    FUZZ_CHECK(book.has_value(), why);
    checkCells(*book, cells, rows.isEmpty() ? 0 : int(cells.back().size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        writeDirectly(input);
    else
        writeThroughExport(input);
    return 0;
}
