#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <xlsxwriter/common.h>

/** Limits of the .xlsx format. */
inline constexpr qsizetype kXlsxMaxRows = 1048576;
inline constexpr qsizetype kXlsxMaxColumns = 16384;
inline constexpr qsizetype kXlsxMaxCellChars = 32767;

/**
 * Writes an Office Open XML workbook with one worksheet, row by row, in constant memory:
 * every cell is a text cell with the number format "@", so "00123" or "=1+1" stay that text.
 * Empty texts get no cell; the used columns carry the "@" format, so they are text cells too.
 * The caller keeps within the limits above.
 */
class XlsxFile
{
public:
    /** Starts a workbook that close() writes to path; widthColumns columns get the width 40. */
    XlsxFile(const QString &path, int widthColumns);
    ~XlsxFile();
    XlsxFile(const XlsxFile &) = delete;
    XlsxFile &operator=(const XlsxFile &) = delete;

    /** Appends the next row; false with errorString() set when the cells cannot be stored. */
    bool addRow(const QStringList &cells);
    /**
     * Appends the next row given as a delimited row: fields split at the (ASCII) delimiter,
     * each with its enclosing quote marks removed. Spares a string per cell on large tables.
     */
    bool addDelimitedRow(QStringView row, char delimiter, char quoteMark);
    /**
     * Writes the file; false with errorString() set when that fails. The library packs the
     * sheet into the file only now, which takes about as long as adding its rows: meanwhile
     * packing(written, expected) is called about every 50 ms with the bytes in the file so far
     * and the size the file is expected to reach.
     */
    bool close(const std::function<void(qint64 written, qint64 expected)> &packing = {});
    QString errorString() const { return m_error; }

private:
    bool writeCell(lxw_col_t column, const char *utf8);

    struct Handles;
    qint64 expectedFileSize() const;

    std::unique_ptr<Handles> m_handles;
    QString m_path;
    quint32 m_nextRow = 0;
    QString m_error;
};
