#pragma once

#include "engine/rowsplitter.h"
#include "windows/previewrun.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

/**
 * A preview's table for a table view: the column names as the horizontal header, a row's cells
 * as its items. The rows stay as the engine made them, one UTF-8 line each; a row is split into
 * cells only when the view asks for one of its items, so a million rows cost the view no more
 * than the rows on screen.
 */
class PreviewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit PreviewModel(QObject *parent = nullptr);

    /** Shows table instead of the one before (a reset of the model). */
    void setTable(SharedPreviewTable table);
    /** The table shown, or null before the first. */
    const SharedPreviewTable &table() const { return m_table; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    /* The cells of row, split once for all the items of the row that the view asks for in turn. */
    const std::vector<QByteArrayView> &cellsOf(int row) const;

    SharedPreviewTable m_table;
    std::optional<RowSplitter> m_splitter;
    mutable int m_splitRow = -1;
    mutable std::vector<QByteArrayView> m_cells; // views into the table's row m_splitRow or m_unquoted
    mutable QByteArray m_unquoted;
};
