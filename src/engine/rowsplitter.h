#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

/**
 * Splits a finished row (UTF-8) into its cells: the fields between the delimiters, each
 * without the quote marks that enclose it. The workbook writers and the preview read rows
 * through it, so a preview's cells are a workbook's.
 */
class RowSplitter
{
public:
    explicit RowSplitter(QChar delimiter)
        // Rows hold no lone surrogate, so such a delimiter never splits one.
        : m_delimiter(delimiter.isSurrogate() ? QByteArray() : QString(delimiter).toUtf8())
    {
    }

    /** Replaces cells with row's cells, views into row. */
    void split(QByteArrayView row, std::vector<QByteArrayView> &cells) const
    {
        constexpr char kQuoteMark = '"';
        cells.clear();
        for (qsizetype start = 0;;) {
            const qsizetype end = nextDelimiter(row, start);
            QByteArrayView field = row.sliced(start, (end < 0 ? row.size() : end) - start);
            if (field.size() >= 2 && field.front() == kQuoteMark && field.back() == kQuoteMark)
                field = field.sliced(1, field.size() - 2);
            cells.push_back(field);
            if (end < 0)
                return;
            start = end + m_delimiter.size();
        }
    }

    /** How many fields row has. */
    qsizetype fieldCount(QByteArrayView row) const
    {
        if (m_delimiter.size() == 1)
            return 1 + qsizetype(std::count(row.begin(), row.end(), m_delimiter.front()));
        return 1 + (m_delimiter.isEmpty() ? 0 : row.count(m_delimiter));
    }

private:
    qsizetype nextDelimiter(QByteArrayView row, qsizetype from) const
    {
        if (m_delimiter.size() == 1) {
            const void *found = std::memchr(row.data() + from, m_delimiter.front(), size_t(row.size() - from));
            return found ? static_cast<const char *>(found) - row.data() : -1;
        }
        return m_delimiter.isEmpty() ? -1 : row.indexOf(m_delimiter, from);
    }

    QByteArray m_delimiter; // as UTF-8
};
