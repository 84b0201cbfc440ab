#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

/**
 * Splits a finished row (UTF-8) into its cells, as a CSV reader does (RFC 4180): a field that
 * starts with a quote mark ends at the quote mark that closes it, a quote mark written twice
 * inside it stands for one, and delimiters and line breaks inside it are text. Any other field
 * ends at the next delimiter, as it is. The workbook writers and the preview read rows through
 * it, so a preview's cells are a workbook's.
 */
class RowSplitter
{
public:
    explicit RowSplitter(QChar delimiter)
        // Rows hold no lone surrogate, so such a delimiter never splits one.
        : m_delimiter(delimiter.isSurrogate() ? QByteArray() : QString(delimiter).toUtf8())
    {
    }

    /**
     * Replaces cells with row's cells: views into row, or, for a field with a quote mark
     * written twice, into unquoted, which holds them until the next split with it.
     */
    void split(QByteArrayView row, std::vector<QByteArrayView> &cells, QByteArray &unquoted) const
    {
        cells.clear();
        unquoted.resize(0);
        // Cells never take more than the row's bytes: appending never moves the earlier ones.
        if (unquoted.capacity() < row.size())
            unquoted.reserve(row.size());
        for (qsizetype start = 0;;) {
            const Field field = nextField(row, start);
            QByteArrayView text = row.sliced(field.textStart, field.textEnd - field.textStart);
            if (field.doubledQuotes) {
                const qsizetype begin = unquoted.size();
                for (qsizetype i = 0; i < text.size(); ++i) {
                    unquoted.append(text[i]);
                    if (text[i] == kQuoteMark)
                        ++i; // the second of the pair
                }
                text = QByteArrayView(unquoted).sliced(begin);
            }
            cells.push_back(text);
            if (field.next < 0)
                return;
            start = field.next;
        }
    }

    /** How many fields row has. */
    qsizetype fieldCount(QByteArrayView row) const
    {
        qsizetype count = 1;
        for (qsizetype start = nextField(row, 0).next; start >= 0; start = nextField(row, start).next)
            ++count;
        return count;
    }

private:
    static constexpr char kQuoteMark = '"';

    struct Field {
        qsizetype textStart;
        qsizetype textEnd;
        bool doubledQuotes; // the text holds quote marks written twice
        qsizetype next;     // where the next field starts, -1 when this is the row's last
    };

    /* The field that starts at start. */
    Field nextField(QByteArrayView row, qsizetype start) const
    {
        if (start < row.size() && row[start] == kQuoteMark) {
            bool doubled = false;
            qsizetype close = start + 1;
            for (;;) {
                close = find(row, kQuoteMark, close);
                if (close < 0 || close + 1 >= row.size() || row[close + 1] != kQuoteMark)
                    break;
                doubled = true;
                close += 2;
            }
            const qsizetype after = close < 0 ? row.size() : close + 1;
            if (after == row.size())
                return {start + 1, close < 0 ? row.size() : close, doubled, -1};
            if (row.sliced(after).startsWith(m_delimiter) && !m_delimiter.isEmpty())
                return {start + 1, close, doubled, after + m_delimiter.size()};
            // Text after the closing quote mark: not a quoted field after all.
        }
        const qsizetype end = nextDelimiter(row, start);
        qsizetype textStart = start;
        qsizetype textEnd = end < 0 ? row.size() : end;
        if (textEnd - textStart >= 2 && row[textStart] == kQuoteMark && row[textEnd - 1] == kQuoteMark) {
            ++textStart;
            --textEnd;
        }
        return {textStart, textEnd, false, end < 0 ? -1 : end + m_delimiter.size()};
    }

    static qsizetype find(QByteArrayView row, char c, qsizetype from)
    {
        const void *found = std::memchr(row.data() + from, c, size_t(row.size() - from));
        return found ? static_cast<const char *>(found) - row.data() : -1;
    }

    qsizetype nextDelimiter(QByteArrayView row, qsizetype from) const
    {
        if (m_delimiter.size() == 1)
            return find(row, m_delimiter.front(), from);
        return m_delimiter.isEmpty() ? -1 : row.indexOf(m_delimiter, from);
    }

    QByteArray m_delimiter; // as UTF-8
};
