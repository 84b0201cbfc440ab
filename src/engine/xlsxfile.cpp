#include "engine/xlsxfile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <utility>

#include <xlsxwriter.h>

struct XlsxFile::Handles {
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *worksheet = nullptr;
    lxw_format *text = nullptr;
};

XlsxFile::XlsxFile(const QString &path, int widthColumns)
    : m_handles(std::make_unique<Handles>())
    , m_path(path)
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

/*
 * The size the packed file will have: the sheet's XML written so far (the library keeps it in
 * a temporary file until close), shrunk as much as its first megabyte shrinks under the same
 * compression, plus the workbook's other, small parts.
 */
qint64 XlsxFile::expectedFileSize() const
{
    constexpr qint64 kOtherParts = 8 * 1024;
    FILE *sheet = m_handles->worksheet ? m_handles->worksheet->optimize_tmpfile : nullptr;
    if (!sheet || std::fflush(sheet) != 0)
        return kOtherParts;
    const long end = std::ftell(sheet);
    QByteArray sample(qsizetype(std::min<long>(end, 1024 * 1024)), Qt::Uninitialized);
    std::rewind(sheet);
    sample.resize(qsizetype(std::fread(sample.data(), 1, size_t(sample.size()), sheet)));
    std::fseek(sheet, end, SEEK_SET);
    if (end <= 0 || sample.isEmpty())
        return kOtherParts;
    const double ratio = double(qCompress(sample).size()) / double(sample.size());
    return qint64(double(end) * ratio) + kOtherParts;
}

bool XlsxFile::close(const std::function<void(qint64 written, qint64 expected)> &packing)
{
    if (!m_handles->workbook)
        return false;
    lxw_workbook *const workbook = std::exchange(m_handles->workbook, nullptr);
    // errno is the closing thread's own, so it is read there.
    const auto closeWorkbook = [workbook] {
        errno = 0;
        const lxw_error result = workbook_close(workbook);
        return std::pair(result, errno);
    };
    std::pair<lxw_error, int> closed;
    if (packing) {
        const qint64 expected = expectedFileSize();
        std::future<std::pair<lxw_error, int>> closing = std::async(std::launch::async, closeWorkbook);
        while (closing.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout)
            packing(QFileInfo(m_path).size(), expected);
        closed = closing.get();
    } else {
        closed = closeWorkbook();
    }
    const auto [result, systemError] = closed;
    if (result != LXW_NO_ERROR) {
        // The library's text names its own step ("Zip generic error ZIP_ERRNO ..."); the
        // system's reason (a full disk, a folder that went away) tells the user what happened.
        m_error = isFileError(result) && systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError))
                                                          : QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}
