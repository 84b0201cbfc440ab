#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <span>
#include <vector>

/** Limits of the .xls format. */
inline constexpr qsizetype kXlsMaxRows = 65536;
inline constexpr qsizetype kXlsMaxColumns = 256;
inline constexpr qsizetype kXlsMaxCellChars = 32767;

/**
 * The texts of a table's cells, row by row, as views into strings that outlive the writing;
 * rows may have different lengths, none at all included. Large tables are handed to the writer
 * this way without a string of their own for every cell.
 */
class CellTable
{
public:
    void reserve(qsizetype rows, qsizetype cells);
    void appendCell(QStringView text) { m_cells.push_back(text); }
    /** Ends the row: the cells appended since the previous row ended make it up. */
    void endRow() { m_rowEnds.push_back(m_cells.size()); }

    qsizetype rowCount() const { return qsizetype(m_rowEnds.size()); }
    qsizetype cellCount() const { return qsizetype(m_cells.size()); }
    std::span<const QStringView> row(qsizetype r) const;
    /** Every cell, row after row. */
    std::span<const QStringView> cells() const { return m_cells; }

private:
    std::vector<QStringView> m_cells;
    std::vector<size_t> m_rowEnds;
};

/**
 * Writes an Excel 97-2003 workbook (BIFF8 in a compound file) with one worksheet named "Sheet1".
 * Row r, column c (0-based) of the table is the text of that cell.
 * Every written cell is a text cell (LABELSST via a shared string table) whose cell format has
 * the number format "@" (text), so "00123", "=1+1" and "+44 20" stay exactly that text.
 * Empty texts become blank cells that carry the text format too.
 * Columns 0 .. widthColumns-1 get the width 40 characters (COLINFO width 40*256); no other column
 * gets a width record. Returns false with an error text (device error) when writing fails.
 * The caller checks the limits above before calling; a table beyond them is refused with
 * false and an error text instead of writing a damaged file.
 * The writer goes over the rows twice (the distinct texts, then the cells); rowDone(done,
 * total) is called after each row of each pass, total being twice the rows.
 */
bool writeXlsWorkbook(const CellTable &table, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone = {});

/** The same for a table given as lists of texts, cells[r][c] being row r, column c. */
bool writeXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone = {});
