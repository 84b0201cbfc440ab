#include "engine/workbookexport.h"

#include "engine/xlsfile.h"
#include "engine/xlsxfile.h"
#include "i18n/translate.h"
#include "text/helperthread.h"
#include "text/outputfile.h"

#include <QLocale>

#include <optional>
#include <span>
#include <utility>

namespace {

constexpr QChar kQuoteMark = u'"';

/* The field texts of a finished row: split at the delimiter, enclosing quotes removed. */
QStringList splitRow(const QString &row, QChar delimiter)
{
    QStringList fields = row.split(delimiter);
    for (QString &field : fields) {
        if (field.size() >= 2 && field.startsWith(kQuoteMark) && field.endsWith(kQuoteMark))
            field = field.sliced(1, field.size() - 2);
    }
    return fields;
}

struct TableShape {
    qsizetype rows = 0;
    qsizetype widestRow = 0;     // the most fields of any row
    qsizetype lastRowFields = 0; // the used columns: as many as the last row has fields
    qsizetype longestCell = 0;
};

/* The fields' lengths count the characters a cell takes in the file: escapes included for .xlsx. */
TableShape measureRows(std::span<const QString> rows, QChar delimiter, bool xlsx)
{
    TableShape shape;
    shape.rows = qsizetype(rows.size());
    for (const QString &row : rows) {
        const bool escapes = xlsx && XlsxFile::mayNeedEscapes(row);
        // Fields are enclosed in quote marks, which the cells leave out.
        auto cellLength = [&](qsizetype start, qsizetype end) {
            return escapes && end - start >= 2
                       ? XlsxFile::writtenLength(QStringView(row).sliced(start + 1, end - start - 2))
                       : end - start - 2;
        };
        qsizetype fields = 1, start = 0;
        // One pass over the row: its fields are short, and a search call per field costs more.
        const QChar *const units = row.constData();
        for (qsizetype at = 0; at < row.size(); ++at) {
            if (units[at] != delimiter)
                continue;
            shape.longestCell = std::max(shape.longestCell, cellLength(start, at));
            start = at + 1;
            ++fields;
        }
        shape.longestCell = std::max(shape.longestCell, cellLength(start, row.size()));
        shape.widestRow = std::max(shape.widestRow, fields);
        shape.lastRowFields = fields;
    }
    return shape;
}

/* The shape of a table made of first's rows followed by second's. */
TableShape joinedShape(const TableShape &first, const TableShape &second)
{
    TableShape shape;
    shape.rows = first.rows + second.rows;
    shape.widestRow = std::max(first.widestRow, second.widestRow);
    shape.lastRowFields = second.rows > 0 ? second.lastRowFields : first.lastRowFields;
    shape.longestCell = std::max(first.longestCell, second.longestCell);
    return shape;
}

/* Large tables are measured in two halves at once; for a small one a second thread costs more than it saves. */
TableShape measureTable(const QStringList &rows, QChar delimiter, bool xlsx)
{
    constexpr qsizetype kRowsWorthAThread = 4096;
    const std::span<const QString> all(rows.constData(), size_t(rows.size()));
    if (rows.size() < kRowsWorthAThread)
        return measureRows(all, delimiter, xlsx);
    const size_t half = all.size() / 2;
    TableShape second;
    HelperThread helper([&] { second = measureRows(all.subspan(half), delimiter, xlsx); });
    const TableShape first = measureRows(all.first(half), delimiter, xlsx);
    helper.join();
    return joinedShape(first, second);
}

QString numberText(qsizetype value)
{
    return QLocale(QLocale::English).toString(value);
}

/* Why the table does not fit the workbook kind, or an empty text when it fits. */
QString limitViolation(const TableShape &shape, bool xlsx)
{
    const qsizetype maxRows = xlsx ? kXlsxMaxRows : kXlsMaxRows;
    const qsizetype maxColumns = xlsx ? kXlsxMaxColumns : kXlsMaxColumns;
    const QString kind = xlsx ? translate(QStringLiteral("An Excel workbook (.xlsx)"))
                              : translate(QStringLiteral("An Excel 97-2003 workbook (.xls)"));
    const QString instead = xlsx ? translate(QStringLiteral("Save it as a CSV file instead."))
                                 : translate(QStringLiteral("Save it as an Excel 2007 workbook (.xlsx) instead."));
    if (shape.rows > maxRows)
        return formatText(translate(QStringLiteral("The table has %s rows. %s holds at most %s rows.")),
                          {numberText(shape.rows), kind, numberText(maxRows)})
               + u' ' + instead;
    if (shape.widestRow > maxColumns)
        return formatText(translate(QStringLiteral("The table has %s columns. %s holds at most %s columns.")),
                          {numberText(shape.widestRow), kind, numberText(maxColumns)})
               + u' ' + instead;
    if (shape.longestCell > kXlsxMaxCellChars)
        return formatText(translate(QStringLiteral("A value has %s characters. A workbook cell holds at most %s "
                                                   "characters.")),
                          {numberText(shape.longestCell), numberText(kXlsxMaxCellChars)})
               + u' ' + translate(QStringLiteral("Save it as a CSV file instead."));
    return {};
}

/*
 * The workbook stage shows 81 to 100: up to 90 as the rows are handed to the writer, then up
 * to 99 as the writer puts them into the file (the writers do most of their work after the
 * last row came), and 100 once the file is complete.
 */
class WorkbookProgress
{
public:
    WorkbookProgress(ExportEvents &events, qsizetype rows, const std::stop_token &stop)
        : m_events(events)
        , m_rows(events, ExportStage::Writing, 80, 10, stop)
        , m_writing(events, ExportStage::Writing, 90, 9, stop)
        , m_count(rows)
    {
    }

    void row(qsizetype n) { m_rows.step(n, m_count); }
    void writing(qint64 done, qint64 total) { m_writing.step(std::min(done, total), total); }
    void complete() { m_events.progressed(ExportStage::Writing, 100); }

private:
    ExportEvents &m_events;
    StageProgress m_rows;
    StageProgress m_writing;
    qsizetype m_count;
};

/* Makes the rows from first on, at most count of them, ready for the workbook, in place of the batch's rows. */
void prepareRows(XlsxRowBatch &batch, const QStringList &rows, qsizetype first, qsizetype count, QChar delimiter)
{
    batch.clear();
    const qsizetype end = std::min(rows.size(), first + count);
    for (qsizetype n = first; n < end; ++n) {
        if (delimiter.unicode() < 0x80)
            batch.appendDelimitedRow(rows.at(n), char(delimiter.unicode()), char(kQuoteMark.unicode()));
        else
            batch.appendRow(splitRow(rows.at(n), delimiter));
    }
}

void prepareRows(XlsRowBatch &batch, const QStringList &rows, qsizetype first, qsizetype count, QChar delimiter)
{
    batch.clear();
    const qsizetype end = std::min(rows.size(), first + count);
    for (qsizetype n = first; n < end; ++n)
        batch.appendDelimitedRow(rows.at(n), delimiter, kQuoteMark);
}

/*
 * Hands the rows to the workbook a batch at a time. The workbook takes longer over a row than
 * making it ready does, so the next batch is made ready on a second thread while the workbook
 * takes the current one. The two batches take turns and keep their memory.
 */
template<typename Batch, typename Workbook>
bool addRows(Workbook &workbook, const QStringList &rows, QChar delimiter, WorkbookProgress &progress)
{
    constexpr qsizetype kBatchRows = 4096;
    Batch batch;
    Batch next;
    prepareRows(batch, rows, 0, kBatchRows, delimiter);
    for (qsizetype first = 0; first < rows.size(); first += kBatchRows) {
        std::optional<HelperThread> helper;
        if (first + kBatchRows < rows.size())
            helper.emplace([&] { prepareRows(next, rows, first + kBatchRows, kBatchRows, delimiter); });
        bool added = true;
        for (qsizetype r = 0; added && r < batch.rowCount(); ++r) {
            progress.row(first + r + 1);
            added = workbook.addRow(batch, r);
        }
        if (helper)
            helper->join();
        if (!added)
            return false;
        std::swap(batch, next);
    }
    return true;
}

bool writeXls(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
              WorkbookProgress &progress, QString &error)
{
    OutputFile file(path);
    if (!file.open()) {
        error = file.errorString();
        return false;
    }
    XlsFile workbook(widthColumns, rows.size() * widthColumns);
    const auto writing = [&progress](qint64 done, qint64 total) { progress.writing(done, total); };
    if (addRows<XlsRowBatch>(workbook, rows, delimiter, progress) && workbook.write(file.device(), writing)
        && file.commit())
        return true;
    const QString reason = workbook.errorString();
    error = reason.isEmpty() ? file.errorString() : cannotCreateFileMessage(path, reason);
    return false;
}

/* libxlsxwriter writes to a name: the output file's staging file, its own helper files beside it. */
bool writeXlsx(const QStringList &rows, QChar delimiter, const QString &path, int widthColumns,
               WorkbookProgress &progress, QString &error)
{
    OutputFile file(path);
    if (!file.open(OutputFile::Writer::ByName)) {
        error = file.errorString();
        return false;
    }
    XlsxFile workbook(file.stagingFileName(), widthColumns, file.helperFolder());
    const bool written = workbook.isStarted() && addRows<XlsxRowBatch>(workbook, rows, delimiter, progress);
    if (!written
        || !workbook.close([&progress](qint64 packed, qint64 expected) { progress.writing(packed, expected); })) {
        error = cannotCreateFileMessage(path, workbook.errorString());
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool exportToWorkbook(const QStringList &rows, QChar delimiter, const QString &fileName, ExportEvents &events,
                      const std::stop_token &stop, QString *error)
{
    const bool xlsx = fileName.toLower().endsWith(QLatin1String(".xlsx"));
    const TableShape shape = measureTable(rows, delimiter, xlsx);
    *error = limitViolation(shape, xlsx);
    if (!error->isEmpty())
        return false;
    WorkbookProgress progress(events, shape.rows, stop);
    const int widthColumns = int(shape.lastRowFields);
    const bool written = xlsx ? writeXlsx(rows, delimiter, fileName, widthColumns, progress, *error)
                              : writeXls(rows, delimiter, fileName, widthColumns, progress, *error);
    if (written)
        progress.complete();
    return written;
}
