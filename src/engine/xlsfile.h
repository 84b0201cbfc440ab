#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

/** Limits of the .xls format. */
inline constexpr qsizetype kXlsMaxRows = 65536;
inline constexpr qsizetype kXlsMaxColumns = 256;
inline constexpr qsizetype kXlsMaxCellChars = 32767;

/**
 * Writes an Excel 97-2003 workbook (BIFF8 in a compound file) with one worksheet named "Sheet1".
 * cells[r][c] is the text of row r, column c (0-based); rows may have different lengths.
 * Every written cell is a text cell (LABELSST via a shared string table) whose cell format has
 * the number format "@" (text), so "00123", "=1+1" and "+44 20" stay exactly that text.
 * Empty texts become blank cells that carry the text format too.
 * Columns 0 .. widthColumns-1 get the width 40 characters (COLINFO width 40*256); no other column
 * gets a width record. Returns false with an error text (device error) when writing fails.
 * The caller checks the limits above before calling; a table beyond them is refused with
 * false and an error text instead of writing a damaged file.
 * The writer goes over the rows three times (strings, shared strings, cells); rowDone(done,
 * total) is called after each row of each pass, total being three times the rows.
 */
bool writeXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone = {});
