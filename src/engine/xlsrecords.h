#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <span>

/** Limits of the .xls format. */
inline constexpr qsizetype kXlsMaxRows = 65536;
inline constexpr qsizetype kXlsMaxColumns = 256;
inline constexpr qsizetype kXlsMaxCellChars = 32767;

/** A blank cell's entry in XlsCellLayout::cellStrings, where other cells have the number of their shared string. */
inline constexpr quint32 kXlsBlankCell = 0xFFFFFFFF;

/** The shared strings, numbered in the order they first appear, as the cells refer to them. */
struct XlsSharedStrings {
    std::span<const QByteArrayView> texts; // valid UTF-8
    quint32 filledCells;                   // the cells that refer to them
};

/** The cells as the rows laid them out: each one's shared string, or kXlsBlankCell. */
struct XlsCellLayout {
    std::span<const quint32> cellStrings; // row after row
    std::span<const size_t> rowEnds;      // where each row's cells end in cellStrings
    quint32 filledCells;
};

/** The rows that have cells (each of them from column 0 on); firstRow -1 when there are none. */
struct XlsUsedRange {
    qsizetype firstRow = -1;
    qsizetype lastRow = -1;
    qsizetype lastColumn = -1;
};

/*
 * The records of a BIFF8 workbook stream, which a compound file holds: the workbook's own
 * records first, the one worksheet's right after them. Neither part depends on the other, so
 * the two can be built on two threads.
 */

/**
 * The workbook's records: fonts, cell formats (a text cell format with the number format "@"
 * among them), the sheet "Sheet1", whose records are taken to follow directly, and the shared
 * string table (with CONTINUE records where it outgrows one record, and its EXTSST index).
 */
QByteArray xlsGlobalsStream(const XlsSharedStrings &strings);

/**
 * The worksheet's records: columns 0 .. widthColumns-1 with the width 40 characters, the used
 * range, one text cell (or blank cell with the text format) per cell, the window settings.
 * rowDone(done, total) is called as the rows' cells are laid out, total being the rows.
 */
QByteArray xlsSheetStream(const XlsCellLayout &cells, const XlsUsedRange &used, int widthColumns,
                          const std::function<void(qint64 done, qint64 total)> &rowDone);
