#pragma once

#include "text/textlines.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stop_token>
#include <vector>

/**
 * Rows ready to write: the header row when there is one, then the rows in their order. The
 * rows are not copied into that order; the list keeps them and the order apart.
 */
class FinishedRows
{
public:
    FinishedRows() = default;
    FinishedRows(TextLines rows, std::vector<quint32> order, bool hasHeader, const QString &header);

    qsizetype size() const { return m_rows.size() + (m_hasHeader ? 1 : 0); }
    bool isEmpty() const { return size() == 0; }
    /** Row i as UTF-8 (row 0 is the header row when there is one). */
    QByteArrayView utf8At(qsizetype i) const;
    QStringList toStringList() const;

private:
    TextLines m_rows;
    std::vector<quint32> m_order; // empty: the rows' own order
    bool m_hasHeader = false;
    QByteArray m_header;
};

/**
 * Applies the Sort and Headers options to rows (UTF-8): sorts them by the user's locale
 * collation, ignoring letter case (stable: rows that compare equal keep their order), then
 * puts the header row first. The header row is never sorted with the data. A stop request
 * ends the sort with WorkStopped.
 */
FinishedRows finishRows(TextLines rows, bool headers, bool sort, const QString &headerRow,
                        const std::stop_token &stop = {});
