#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <vector>

#include <xlsxwriter/common.h>

/** Limits of the .xlsx format. */
inline constexpr qsizetype kXlsxMaxRows = 1048576;
inline constexpr qsizetype kXlsxMaxColumns = 16384;
inline constexpr qsizetype kXlsxMaxCellChars = 32767;

/**
 * Rows made ready for XlsxFile::addRow(): every non-empty cell's text in UTF-8, with its
 * escapes in place and ended with a NUL, as the library takes it. Making rows ready is the
 * part of the work that needs no workbook, so it can be done on another thread while the
 * workbook takes the rows made ready before.
 */
class XlsxRowBatch
{
public:
    /** Appends a row given as its cells' texts (UTF-8); the batch keeps its own copies. */
    void appendRow(std::span<const QByteArrayView> cells);

    qsizetype rowCount() const { return qsizetype(m_rowEnds.size()); }
    /** Removes the rows and keeps the memory for the next ones. */
    void clear();

private:
    friend class XlsxFile;

    struct Cell {
        qsizetype text; // where the text starts in m_texts
        lxw_col_t column;
    };

    void appendCell(lxw_col_t column, QByteArrayView utf8);

    QByteArray m_texts;
    std::vector<Cell> m_cells;     // the non-empty cells, row after row
    std::vector<size_t> m_rowEnds; // where each row's cells end in m_cells
};

/**
 * Writes an Office Open XML workbook with one worksheet, row by row, in constant memory:
 * every cell is a text cell with the number format "@", so "00123" or "=1+1" stay that text.
 * Empty texts get no cell; the used columns carry the "@" format, so they are text cells too.
 * A cell holds exactly its text: a NUL or another character that XML cannot carry (and a CR,
 * which XML readers would turn into a line feed) is written with the format's escape _xHHHH_,
 * and text that looks like such an escape has its "_" escaped as _x005F_, so spreadsheet
 * programs show the text itself. The caller keeps within the limits above, counted with
 * writtenLength().
 *
 * Every result of the library is checked, and so is every write to its temporary files (which
 * the library itself leaves unchecked): a disk that fills up fails the workbook. errorString()
 * gives the system's reason where a file operation failed, else the library's text for its
 * error (the library also prints its own message on standard error).
 */
class XlsxFile
{
public:
    /**
     * Starts a workbook that close() writes to path; widthColumns columns get the width 40.
     * The library's own temporary files go to helperFolder (the output's folder, so that a
     * small system temporary folder cannot cut the workbook short).
     */
    XlsxFile(const QString &path, int widthColumns, const QString &helperFolder);
    /**
     * A workbook that was not closed is abandoned: its memory and temporary files are freed at
     * once, and nothing is written to path.
     */
    ~XlsxFile();
    XlsxFile(const XlsxFile &) = delete;
    XlsxFile &operator=(const XlsxFile &) = delete;

    /** Whether the workbook could be started; errorString() says why not. */
    bool isStarted() const;

    /** Appends row r of batch as the next row; false with errorString() set when the cells cannot be stored. */
    bool addRow(const XlsxRowBatch &batch, qsizetype r);
    /**
     * Writes the file; false with errorString() set when that fails. The library packs the
     * sheet into the file only now, on a second thread, which takes about as long as adding its
     * rows: meanwhile packing(written, expected) is called on this thread about every 50 ms
     * with the bytes in the file so far and the size the file is expected to reach. Should
     * packing throw, the packing is waited for and the exception goes on.
     */
    bool close(const std::function<void(qint64 written, qint64 expected)> &packing = {});
    QString errorString() const { return m_error; }

    /** The text of a cell as it is written into the file, every escape in place (UTF-8 in and out). */
    static QByteArray cellText(QByteArrayView utf8);
    /**
     * How many characters (UTF-16 units) a cell's text takes in the file, escapes counted:
     * what the format's limit applies to.
     */
    static qsizetype writtenLength(QStringView text);
    /** The same for a text given as UTF-8. */
    static qsizetype writtenLength(QByteArrayView utf8);
    /**
     * Whether text (UTF-8) holds a character that a cell may write as an escape ("_", or one
     * that XML cannot carry); when not, writtenLength() is the text's own length.
     */
    static bool mayNeedEscapes(QByteArrayView utf8);

private:
    struct Handles;

    /** The next temporary file the library opens for this workbook is the sheet's: its closing is noted. */
    void expectSheetFile();

    /**
     * The sheet's XML so far (the library keeps it in a temporary file until close): its size
     * and its first megabyte, which the expected size of the packed file is estimated from.
     */
    struct SheetSample {
        qint64 sheetSize = 0;
        QByteArray start;
    };
    SheetSample sheetSample() const;
    static qint64 expectedFileSize(const SheetSample &sample);

    std::unique_ptr<Handles> m_handles;
    quint32 m_nextRow = 0;
    QString m_stagingName;
    QString m_error;
};
