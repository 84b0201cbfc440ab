#include "engine/rowsort.h"

#include "engine/helperthread.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace {

/*
 * Compares rows by the user's locale collation, ignoring letter case. One per thread: a
 * collator is not shared between threads. Comparing directly stops at the first difference,
 * which on long rows is several times faster than making a sort key for every row.
 */
class RowOrder
{
public:
    RowOrder()
        : m_collator(QLocale())
        , m_plain(QLocale().language() == QLocale::C)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    bool operator()(const QString &a, const QString &b) const
    {
        // The C locale has no collation of its own: case-folded code points.
        return m_plain ? QString::compare(a, b, Qt::CaseInsensitive) < 0 : m_collator.compare(a, b) < 0;
    }

private:
    QCollator m_collator;
    bool m_plain;
};

void sortRange(QString *begin, QString *end)
{
    std::stable_sort(begin, end, RowOrder());
}

void sortRowsIgnoringCase(QStringList &rows)
{
    const qsizetype count = rows.size();
    if (count < 20000) {
        sortRange(rows.data(), rows.data() + count);
        return;
    }
    // Two halves on two threads, then one merge that takes the earlier half first among
    // equal rows, so the sort stays stable.
    QString *const data = rows.data();
    const qsizetype half = count / 2;
    HelperThread helper([=] { sortRange(data + half, data + count); });
    sortRange(data, data + half);
    helper.join();
    QStringList merged;
    merged.reserve(count);
    std::merge(std::make_move_iterator(data), std::make_move_iterator(data + half),
               std::make_move_iterator(data + half), std::make_move_iterator(data + count), std::back_inserter(merged),
               RowOrder());
    rows = std::move(merged);
}

} // namespace

void finishRows(QStringList &rows, bool headers, bool sort, const QString &headerRow)
{
    if (sort)
        sortRowsIgnoringCase(rows);
    if (headers)
        rows.prepend(headerRow);
}
