#include "engine/xlsfile.h"

#include "engine/compoundfile.h"
#include "engine/xlsrecords.h"
#include "text/helperthread.h"
#include "text/utf8.h"

#include <QHashFunctions>

#include <algorithm>
#include <array>

/**
 * Numbers distinct texts in the order they first appear, so that equal texts share one entry.
 * The table holds no copies: the texts are views into the caller's strings, which outlive the
 * writing. Open addressing over (hash, number) pairs keeps a lookup to one or two slots, and
 * a text is compared only when its hash matches.
 */
class XlsFile::TextNumbers
{
public:
    explicit TextNumbers(qsizetype expectedTexts) { resize(expectedTexts); }

    /** The number of text, whose hash is given, the next free one when the text is new. */
    quint32 numberOf(QByteArrayView text, size_t hash)
    {
        // At most half full, so that a search ends soon at a free slot.
        if (2 * (m_texts.size() + 1) > m_slots.size())
            resize(qsizetype(2 * m_slots.size()));
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.number == 0) {
                m_texts.push_back(text);
                m_hashes.push_back(hash);
                slot = {checkOf(hash), quint32(m_texts.size())};
                return slot.number - 1;
            }
            if (slot.check == checkOf(hash) && m_texts[slot.number - 1] == text)
                return slot.number - 1;
        }
    }

    /** The distinct texts by number. */
    const std::vector<QByteArrayView> &texts() const { return m_texts; }

private:
    struct Slot {
        quint32 check = 0;  // the high bits of the text's hash, which the slot's place does not tell
        quint32 number = 0; // one-based, so that zero marks a free slot
    };

    static quint32 checkOf(size_t hash) { return quint32(quint64(hash) >> 32); }

    /** Makes room for at least slots slots (a power of two) and puts the texts so far back in. */
    void resize(qsizetype minimum)
    {
        size_t slotCount = 16;
        while (slotCount < size_t(minimum))
            slotCount *= 2;
        m_slots.assign(slotCount, Slot());
        m_mask = slotCount - 1;
        for (size_t n = 0; n < m_texts.size(); ++n) {
            size_t i = m_hashes[n] & m_mask;
            while (m_slots[i].number != 0)
                i = (i + 1) & m_mask;
            m_slots[i] = {checkOf(m_hashes[n]), quint32(n + 1)};
        }
    }

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<QByteArrayView> m_texts;
    std::vector<size_t> m_hashes; // of the texts, for putting them into a larger table
};

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
