#pragma once

#include "engine/xlsrecords.h"

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <span>
#include <vector>

class TextNumbers;

/**
 * Rows made ready for XlsFile::addRow(): every cell's text (UTF-8), as a view into bytes that
 * outlive the writing, with the hash the workbook finds equal texts by. Making rows ready needs
 * no workbook, so it can be done on another thread while the workbook takes the rows made
 * ready before.
 */
class XlsRowBatch
{
public:
    XlsRowBatch();

    /** Appends a row given as its cells' texts, valid UTF-8 that stays where it is until the workbook is written. */
    void appendRow(std::span<const QByteArrayView> cells);

    qsizetype rowCount() const { return qsizetype(m_rowEnds.size()); }
    /** Removes the rows and keeps the memory for the next ones. */
    void clear();

private:
    friend class XlsFile;

    struct Cell {
        QByteArrayView text;
        size_t hash; // of a non-empty text
    };

    size_t m_seed;
    std::vector<Cell> m_cells;     // row after row
    std::vector<size_t> m_rowEnds; // where each row's cells end in m_cells
};

/**
 * Writes an Excel 97-2003 workbook (BIFF8 in a compound file) with one worksheet named "Sheet1",
 * built from the rows added one after the other.
 * Every written cell is a text cell (LABELSST via a shared string table) whose cell format has
 * the number format "@" (text), so "00123", "=1+1" and "+44 20" stay exactly that text.
 * Empty texts become blank cells that carry the text format too.
 * Columns 0 .. widthColumns-1 get the width 40 characters (COLINFO width 40*256); no other column
 * gets a width record. The caller checks the limits above before adding rows; a row beyond them
 * is refused with false and an error text instead of writing a damaged file.
 */
class XlsFile
{
public:
    /** expectedCells, the cells the rows are expected to have, sizes the table of distinct texts. */
    XlsFile(int widthColumns, qsizetype expectedCells);
    ~XlsFile();
    XlsFile(const XlsFile &) = delete;
    XlsFile &operator=(const XlsFile &) = delete;

    /**
     * Appends row r of batch as the next row; false with errorString() set when it goes beyond
     * the limits, and the workbook is then not written.
     */
    bool addRow(const XlsRowBatch &batch, qsizetype r);
    /**
     * Writes the workbook to device; false with errorString() set (the device's reason) when
     * that fails. rowDone(done, total) is called as the rows' cells are laid out, total being
     * the rows.
     */
    bool write(QIODevice &device, const std::function<void(qint64 done, qint64 total)> &rowDone = {});
    QString errorString() const { return m_error; }

private:
    bool refuseRow();

    int m_widthColumns;
    std::unique_ptr<TextNumbers> m_numbers;
    std::vector<quint32> m_cellStrings; // every cell's shared string, row after row; kBlank for an empty text
    std::vector<size_t> m_rowEnds;      // where each row's cells end in m_cellStrings
    quint32 m_filledCells = 0;
    qsizetype m_firstRow = -1; // the rows that have cells; every such row starts at column 0
    qsizetype m_lastRow = -1;
    qsizetype m_lastColumn = -1;
    QString m_error;
};

/**
 * Writes the table cells[r][c] (row r, column c, 0-based; rows may have different lengths)
 * as an XlsFile does; false with an error text when a row goes beyond the limits or writing
 * fails. rowDone as XlsFile::write() calls it.
 */
bool writeXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone = {});
