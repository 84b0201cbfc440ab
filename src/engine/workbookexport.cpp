#include "engine/workbookexport.h"

#include "engine/rowsplitter.h"
#include "engine/xlsfile.h"
#include "engine/xlsxfile.h"
#include "i18n/translate.h"
#include "text/helperthread.h"
#include "text/outputfile.h"
#include "text/utf8.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace {

struct TableShape {
    qsizetype rows = 0;
    qsizetype widestRow = 0;     // the most fields of any row
    qsizetype lastRowFields = 0; // the used columns: as many as the last row has fields
    qsizetype longestCell = 0;   // in UTF-16 units, escapes included for .xlsx
};

/*
 * The shape of rows [from, to). A cell's length counts the characters it takes in the file:
 * escapes included for .xlsx. A cell takes no more characters than UTF-8 bytes, and with
 * escapes no more than seven times as many (an escape, _xHHHH_, stands for at least one byte):
 * only the cells of a row that long can break the limit, so only those are counted.
 */
TableShape measureRows(const FinishedRows &rows, qsizetype from, qsizetype to, const RowSplitter &splitter, bool xlsx)
{
    const qsizetype mostCharactersPerByte = xlsx ? 7 : 1;
    TableShape shape;
    shape.rows = to - from;
    std::vector<QByteArrayView> cells;
    QByteArray unquoted;
    for (qsizetype i = from; i < to; ++i) {
        const QByteArrayView row = rows.utf8At(i);
        const qsizetype fields = splitter.fieldCount(row);
        shape.widestRow = std::max(shape.widestRow, fields);
        shape.lastRowFields = fields;
        if (row.size() * mostCharactersPerByte <= kXlsxMaxCellChars)
            continue;
        const bool escapes = xlsx && XlsxFile::mayNeedEscapes(row);
        splitter.split(row, cells, unquoted);
        for (const QByteArrayView cell : cells) {
            const qsizetype length = escapes ? XlsxFile::writtenLength(cell) : utf8::utf16Length(cell);
            shape.longestCell = std::max(shape.longestCell, length);
        }
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
TableShape measureTable(const FinishedRows &rows, const RowSplitter &splitter, bool xlsx)
{
    constexpr qsizetype kRowsWorthAThread = 4096;
    if (rows.size() < kRowsWorthAThread)
        return measureRows(rows, 0, rows.size(), splitter, xlsx);
    const qsizetype half = rows.size() / 2;
    TableShape second;
    HelperThread helper([&] { second = measureRows(rows, half, rows.size(), splitter, xlsx); });
    const TableShape first = measureRows(rows, 0, half, splitter, xlsx);
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

/*
 * The texts of cells that are not views into their rows (a field with a quote mark written
 * twice), kept until the workbook is written; appending never moves the earlier ones.
 */
using KeptCellTexts = std::deque<QByteArray>;

/* Makes the rows from first on, at most count of them, ready for the workbook, in place of the batch's rows. */
template<typename Batch>
void prepareRows(Batch &batch, const FinishedRows &rows, qsizetype first, qsizetype count, const RowSplitter &splitter,
                 KeptCellTexts &kept)
{
    batch.clear();
    std::vector<QByteArrayView> cells;
    QByteArray unquoted;
    const qsizetype end = std::min(rows.size(), first + count);
    for (qsizetype n = first; n < end; ++n) {
        splitter.split(rows.utf8At(n), cells, unquoted);
        if (!unquoted.isEmpty()) {
            const QByteArrayView whole(unquoted);
            for (QByteArrayView &cell : cells) {
                if (!cell.isEmpty() && cell.data() >= whole.data() && cell.data() < whole.data() + whole.size())
                    cell = kept.emplace_back(cell.toByteArray());
            }
        }
        batch.appendRow(cells);
    }
}

/*
 * Hands the rows to the workbook a batch at a time. The workbook takes longer over a row than
 * making it ready does, so the next batch is made ready on a second thread while the workbook
 * takes the current one. The two batches take turns and keep their memory.
 */
template<typename Batch, typename Workbook>
bool addRows(Workbook &workbook, const FinishedRows &rows, const RowSplitter &splitter, WorkbookProgress &progress,
             KeptCellTexts &kept)
{
    constexpr qsizetype kBatchRows = 4096;
    Batch batch;
    Batch next;
    prepareRows(batch, rows, 0, kBatchRows, splitter, kept);
    for (qsizetype first = 0; first < rows.size(); first += kBatchRows) {
        std::optional<HelperThread> helper;
        if (first + kBatchRows < rows.size())
            helper.emplace([&] { prepareRows(next, rows, first + kBatchRows, kBatchRows, splitter, kept); });
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

bool writeXls(const FinishedRows &rows, const RowSplitter &splitter, const QString &path, int widthColumns,
              WorkbookProgress &progress, QString &error)
{
    OutputFile file(path);
    if (!file.open()) {
        error = file.errorString();
        return false;
    }
    XlsFile workbook(widthColumns, rows.size() * widthColumns);
    const auto writing = [&progress](qint64 done, qint64 total) { progress.writing(done, total); };
    KeptCellTexts kept; // the workbook's texts view them until it is written
    if (addRows<XlsRowBatch>(workbook, rows, splitter, progress, kept) && workbook.write(file.device(), writing)
        && file.commit())
        return true;
    const QString reason = workbook.errorString();
    error = reason.isEmpty() ? file.errorString() : cannotCreateFileMessage(path, reason);
    return false;
}

/* libxlsxwriter writes to a name: the output file's staging file, its own helper files beside it. */
bool writeXlsx(const FinishedRows &rows, const RowSplitter &splitter, const QString &path, int widthColumns,
               WorkbookProgress &progress, QString &error)
{
    OutputFile file(path);
    if (!file.open(OutputFile::Writer::ByName)) {
        error = file.errorString();
        return false;
    }
    XlsxFile workbook(file.stagingFileName(), widthColumns, file.helperFolder());
    KeptCellTexts kept;
    const bool written = workbook.isStarted() && addRows<XlsxRowBatch>(workbook, rows, splitter, progress, kept);
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

WriteResult exportToWorkbook(const FinishedRows &rows, QChar delimiter, const QString &fileName, ExportEvents &events,
                             const std::stop_token &stop, QString *error)
{
    const bool xlsx = fileName.toLower().endsWith(QLatin1String(".xlsx"));
    const RowSplitter splitter(delimiter);
    const TableShape shape = measureTable(rows, splitter, xlsx);
    *error = limitViolation(shape, xlsx);
    if (!error->isEmpty())
        return WriteResult::DoesNotFit;
    WorkbookProgress progress(events, shape.rows, stop);
    const int widthColumns = int(shape.lastRowFields);
    const bool written = xlsx ? writeXlsx(rows, splitter, fileName, widthColumns, progress, *error)
                              : writeXls(rows, splitter, fileName, widthColumns, progress, *error);
    if (!written)
        return WriteResult::Failed;
    progress.complete();
    return WriteResult::Written;
}
