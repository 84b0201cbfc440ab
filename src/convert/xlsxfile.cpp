#include "convert/xlsxfile.h"

#include <QFile>

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
    if (widthColumns > 0)
        worksheet_set_column(m_handles->worksheet, 0, lxw_col_t(widthColumns - 1), 40, nullptr);
}

XlsxFile::~XlsxFile()
{
    if (m_handles->workbook) {
        // An abandoned workbook still frees its memory; its file is the caller's to remove.
        workbook_close(m_handles->workbook);
    }
}

bool XlsxFile::addRow(const QStringList &cells)
{
    if (!m_handles->workbook)
        return false;
    for (qsizetype column = 0; column < cells.size(); ++column) {
        const QByteArray utf8 = cells.at(column).toUtf8();
        const lxw_error result = worksheet_write_string(m_handles->worksheet, m_nextRow, lxw_col_t(column),
                                                        utf8.constData(), m_handles->text);
        if (result != LXW_NO_ERROR) {
            m_error = QString::fromUtf8(lxw_strerror(result));
            return false;
        }
    }
    ++m_nextRow;
    return true;
}

bool XlsxFile::close()
{
    if (!m_handles->workbook)
        return false;
    const lxw_error result = workbook_close(m_handles->workbook);
    m_handles->workbook = nullptr;
    if (result != LXW_NO_ERROR) {
        m_error = QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}
