#include "engine/xlsxfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <xlsxwriter.h>

struct XlsxFile::Handles {
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *worksheet = nullptr;
    lxw_format *text = nullptr;
};

XlsxFile::XlsxFile(const QString &path, int widthColumns)
    : m_handles(std::make_unique<Handles>())
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they come: memory stays flat
    m_handles->workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    if (!m_handles->workbook) {
        m_error = QStringLiteral("The workbook could not be started.");
        return;
    }
    m_handles->worksheet = workbook_add_worksheet(m_handles->workbook, nullptr);
    m_handles->text = workbook_add_format(m_handles->workbook);
    format_set_num_format(m_handles->text, "@");
    // The used columns carry the text format themselves, so an empty field needs no cell of its
    // own: most fields of an address book are empty, and a blank cell costs as much to write
    // as a filled one.
    if (widthColumns > 0)
        worksheet_set_column(m_handles->worksheet, 0, lxw_col_t(widthColumns - 1), 40, m_handles->text);
}

XlsxFile::~XlsxFile()
{
    if (m_handles->workbook) {
        // An abandoned workbook still frees its memory; its file is the caller's to remove.
        workbook_close(m_handles->workbook);
    }
}

bool XlsxFile::writeCell(lxw_col_t column, const char *utf8)
{
    const lxw_error result = worksheet_write_string(m_handles->worksheet, m_nextRow, column, utf8, m_handles->text);
    if (result == LXW_NO_ERROR)
        return true;
    m_error = QString::fromUtf8(lxw_strerror(result));
    return false;
}

bool XlsxFile::addRow(const QStringList &cells)
{
    if (!m_handles->workbook)
        return false;
    for (qsizetype column = 0; column < cells.size(); ++column) {
        if (!cells.at(column).isEmpty() && !writeCell(lxw_col_t(column), cells.at(column).toUtf8().constData()))
            return false;
    }
    ++m_nextRow;
    return true;
}

bool XlsxFile::addDelimitedRow(QStringView row, char delimiter, char quoteMark)
{
    if (!m_handles->workbook)
        return false;
    // One conversion for the whole row; each field is then ended in place with a NUL.
    QByteArray utf8 = row.toUtf8();
    char *const begin = utf8.data();
    char *const end = begin + utf8.size();
    lxw_col_t column = 0;
    for (char *start = begin;; ++column) {
        char *stop = static_cast<char *>(std::memchr(start, delimiter, size_t(end - start)));
        if (!stop)
            stop = end;
        char *first = start;
        char *last = stop;
        if (last - first >= 2 && *first == quoteMark && last[-1] == quoteMark) {
            ++first;
            --last;
        }
        *last = '\0';
        if (first != last && !writeCell(column, first))
            return false;
        if (stop == end)
            break;
        start = stop + 1;
    }
    ++m_nextRow;
    return true;
}

namespace {

/* Whether the library failed in a file operation, so that errno holds the system's reason. */
bool isFileError(lxw_error result)
{
    return result == LXW_ERROR_CREATING_XLSX_FILE || result == LXW_ERROR_CREATING_TMPFILE
        || result == LXW_ERROR_ZIP_FILE_OPERATION || result == LXW_ERROR_ZIP_FILE_ADD
        || result == LXW_ERROR_ZIP_CLOSE;
}

} // namespace

bool XlsxFile::close()
{
    if (!m_handles->workbook)
        return false;
    errno = 0;
    const lxw_error result = workbook_close(m_handles->workbook);
    const int systemError = errno;
    m_handles->workbook = nullptr;
    if (result != LXW_NO_ERROR) {
        // The library's text names its own step ("Zip generic error ZIP_ERRNO ..."); the
        // system's reason (a full disk, a folder that went away) tells the user what happened.
        m_error = isFileError(result) && systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError))
                                                          : QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}
