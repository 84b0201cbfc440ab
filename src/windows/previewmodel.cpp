#include "windows/previewmodel.h"

#include <algorithm>
#include <limits>

namespace {

/* The most characters an item shows: the view draws no more of a long note on one line anyway. */
constexpr qsizetype kMostShownCharacters = 1000;

} // namespace

PreviewModel::PreviewModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void PreviewModel::setTable(SharedPreviewTable table)
{
    beginResetModel();
    m_table = std::move(table);
    m_splitter.emplace(m_table ? m_table->format.delimiter : QChar(u','));
    m_splitRow = -1;
    m_cells.clear();
    endResetModel();
}

int PreviewModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_table)
        return 0;
    // A view counts its rows in int; a table has fewer rows than cards, and 2^31 cards would
    // not fit in memory anyway.
    return int(std::min<qsizetype>(m_table->rows.size(), std::numeric_limits<int>::max()));
}

int PreviewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_table ? 0 : int(m_table->columnNames.size());
}

const std::vector<QByteArrayView> &PreviewModel::cellsOf(int row) const
{
    if (row != m_splitRow) {
        m_splitter->split(m_table->rows.utf8At(row), m_cells, m_unquoted);
        m_splitRow = row;
    }
    return m_cells;
}

QVariant PreviewModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !m_table || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const std::vector<QByteArrayView> &cells = cellsOf(index.row());
    if (size_t(index.column()) >= cells.size())
        return QString();
    // A character takes four bytes at most: a long cell is converted no further than is shown.
    const QByteArrayView cell = cells[size_t(index.column())];
    const QString text = utf8LineText(cell.first(std::min(cell.size(), 4 * kMostShownCharacters + 4)));
    return text.size() > kMostShownCharacters ? text.first(kMostShownCharacters) + u'\x2026' : text;
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !m_table)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return section < m_table->columnNames.size() ? m_table->columnNames.at(section) : QVariant();
}
