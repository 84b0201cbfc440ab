#include "engine/xlsfile.h"

#include "engine/compoundfile.h"
#include "engine/textnumbers.h"
#include "engine/xlsrecords.h"
#include "text/helperthread.h"
#include "text/utf8.h"

#include <QHashFunctions>

#include <algorithm>
#include <array>

XlsRowBatch::XlsRowBatch()
    : m_seed(QHashSeed::globalSeed())
{
}

void XlsRowBatch::clear()
{
    m_cells.clear();
    m_rowEnds.clear();
}

void XlsRowBatch::appendRow(std::span<const QByteArrayView> cells)
{
    for (const QByteArrayView text : cells)
        m_cells.push_back({text, text.isEmpty() ? 0 : qHash(text, m_seed)});
    m_rowEnds.push_back(m_cells.size());
}

XlsFile::XlsFile(int widthColumns, qsizetype expectedCells)
    : m_widthColumns(widthColumns)
    , m_numbers(std::make_unique<TextNumbers>(expectedCells))
{
    m_cellStrings.reserve(size_t(expectedCells));
}

XlsFile::~XlsFile() = default;

bool XlsFile::addRow(const XlsRowBatch &batch, qsizetype r)
{
    const size_t begin = r == 0 ? 0 : batch.m_rowEnds[size_t(r - 1)];
    const size_t end = batch.m_rowEnds[size_t(r)];
    const auto row = qsizetype(m_rowEnds.size());
    if (begin != end && (row >= kXlsMaxRows || qsizetype(end - begin) > kXlsMaxColumns))
        return refuseRow();
    for (size_t cell = begin; cell < end; ++cell) {
        const XlsRowBatch::Cell &text = batch.m_cells[cell];
        // A character takes at least as many bytes as UTF-16 units: only a long text needs counting.
        if (text.text.size() > kXlsMaxCellChars && utf8::utf16Length(text.text) > kXlsMaxCellChars)
            return refuseRow();
        if (text.text.isEmpty()) {
            m_cellStrings.push_back(kXlsBlankCell);
        } else {
            m_cellStrings.push_back(m_numbers->numberOf(text.text, text.hash));
            ++m_filledCells;
        }
    }
    m_rowEnds.push_back(m_cellStrings.size());
    if (begin != end) {
        if (m_firstRow < 0)
            m_firstRow = row;
        m_lastRow = row;
        m_lastColumn = std::max(m_lastColumn, qsizetype(end - begin) - 1);
    }
    return true;
}

bool XlsFile::refuseRow()
{
    m_error = QStringLiteral("The table does not fit into an .xls worksheet (at most %1 rows, %2 columns and %3 "
                             "characters in a cell).")
                  .arg(kXlsMaxRows)
                  .arg(kXlsMaxColumns)
                  .arg(kXlsMaxCellChars);
    return false;
}

bool XlsFile::write(QIODevice &device, const std::function<void(qint64 done, qint64 total)> &rowDone)
{
    if (!m_error.isEmpty())
        return false; // a row was refused
    // The shared strings and the cells do not depend on each other, so the strings are laid
    // out on a second thread while this one lays out the cells (and reports their progress).
    std::array<QByteArray, 2> stream; // the workbook's records, then the worksheet's
    HelperThread helper([&] { stream[0] = xlsGlobalsStream({m_numbers->texts(), m_filledCells}); });
    stream[1] = xlsSheetStream({m_cellStrings, m_rowEnds, m_filledCells}, {m_firstRow, m_lastRow, m_lastColumn},
                               m_widthColumns, rowDone);
    helper.join();
    if (stream[0].size() + stream[1].size() > kCompoundFileMaxStream) {
        m_error = QStringLiteral("The workbook is too large for the .xls format.");
        return false;
    }
    return writeCompoundFile(stream, device, &m_error);
}

bool writeXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone)
{
    // The texts as UTF-8, which the rows' cells view while the workbook is written.
    std::vector<QByteArray> texts;
    qsizetype cellCount = 0;
    for (const QStringList &row : cells)
        cellCount += row.size();
    texts.reserve(size_t(cellCount));
    XlsRowBatch batch;
    std::vector<QByteArrayView> rowCells;
    for (const QStringList &row : cells) {
        rowCells.clear();
        for (const QString &text : row)
            rowCells.push_back(texts.emplace_back(text.toUtf8()));
        batch.appendRow(rowCells);
    }
    XlsFile workbook(widthColumns, cellCount);
    bool written = true;
    for (qsizetype r = 0; written && r < batch.rowCount(); ++r)
        written = workbook.addRow(batch, r);
    written = written && workbook.write(device, rowDone);
    if (!written && error)
        *error = workbook.errorString();
    return written;
}
