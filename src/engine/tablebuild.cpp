#include "engine/tablebuild.h"

#include "engine/allfieldstable.h"
#include "engine/cardscanner.h"
#include "i18n/translate.h"
#include "text/workstop.h"

#include <algorithm>

namespace {

/*
 * The lists a table needs. The text layout needs the rows only to tell whether there is any
 * data, which the columns alone tell when no row can be blank.
 */
TableParts partsFor(bool textLayout, bool rowsNeverBlank)
{
    if (!textLayout)
        return TableParts::Rows;
    return rowsNeverBlank ? TableParts::TxtLines : TableParts::Both;
}

/* The counts of a table whose rows were built from contacts cards, distinctRows of them kept before blank ones went. */
TableCounts countTable(const ExportTable &table, qint64 contacts, qint64 distinctRows, bool textLayout)
{
    TableCounts counts;
    counts.contacts = contacts;
    counts.columns = int(std::count(table.presence.begin(), table.presence.end(), true));
    if (textLayout) {
        counts.rows = contacts; // every card keeps its block, identical or not
        return counts;
    }
    counts.rows = table.rows.size();
    counts.duplicates = contacts - distinctRows;
    return counts;
}

/*
 * The All fields table: every value of each card in the columns its kinds and labels need. A
 * row with a column is never blank (its fields are quoted), so the text layout has data when
 * there are cards and columns.
 */
BuiltTable buildAllFields(TextLines &lines, const TableLayout &layout, ExportEvents &events,
                          const std::stop_token &stop)
{
    const RowFormat format = layout.format;
    CardList cards = scanCards(lines, format.delimiter, stop, ScanMode::AllFields);
    lines.clear();
    events.progressed(ExportStage::Reading, 10);
    throwIfStopRequested(stop);
    events.progressed(ExportStage::BuildingRows, 20);

    const qsizetype cardCount = cards.size();
    const TableParts parts = layout.textLayout ? TableParts::TxtLines : TableParts::Rows;
    StageProgress rowBuilding(events, ExportStage::BuildingRows, 20, 60, stop);
    LeftOutValues leftOut;
    BuiltTable built;
    built.table = buildAllFieldsTable(
        std::move(cards), layout.fileType, layout.flavor, format, parts,
        [&](qint64 card, qint64 count) { rowBuilding.step(card, count); }, stop, &leftOut);
    events.progressed(ExportStage::BuildingRows, 80);
    const qsizetype distinctRows = built.table.rows.size();
    removeBlankRows(built.table.rows);
    throwIfStopRequested(stop);

    built.counts = countTable(built.table, cardCount, distinctRows, layout.textLayout);
    built.counts.columns = int(built.table.columnNames.size());
    built.hasData = layout.textLayout ? cardCount > 0 && built.counts.columns > 0 : !built.table.rows.isEmpty();
    built.leftOutNote = leftOutValuesNote(leftOut, true);
    return built;
}

} // namespace

RowFormat exportRowFormat(const TableLayout &layout)
{
    if (writesAllFields(layout.columns, layout.fileType, layout.flavor))
        return allFieldsRowFormat(layout.fileType, layout.flavor, layout.format);
    return layout.format;
}

BuiltTable buildTable(TextLines &lines, const TableLayout &layout, ExportEvents &events, const std::stop_token &stop)
{
    if (writesAllFields(layout.columns, layout.fileType, layout.flavor))
        return buildAllFields(lines, layout, events, stop);
    const RowFormat format = layout.format;
    LeftOutValues leftOut;
    CardList cards = scanCards(lines, format.delimiter, stop, ScanMode::FifteenColumns, &leftOut);
    lines.clear();
    events.progressed(ExportStage::Reading, 10);
    throwIfStopRequested(stop);
    const ColumnPresence presence = computeColumnPresence(cards);
    events.progressed(ExportStage::BuildingRows, 20);

    const qsizetype cardCount = cards.size();
    const bool rowsNeverBlank = rowsAreNeverBlank(exportedColumns(presence, layout.fileType, layout.flavor), format);
    const TableParts parts = partsFor(layout.textLayout, rowsNeverBlank);
    StageProgress rowBuilding(events, ExportStage::BuildingRows, 20, 60, stop);
    BuiltTable built;
    built.table = buildExportTable(
        std::move(cards), presence, layout.fileType, layout.flavor, format, parts,
        [&](qint64 card, qint64 count) { rowBuilding.step(card, count); }, stop);
    events.progressed(ExportStage::BuildingRows, 80);
    const qsizetype distinctRows = built.table.rows.size();
    removeBlankRows(built.table.rows);
    throwIfStopRequested(stop);

    built.counts = countTable(built.table, cardCount, distinctRows, layout.textLayout);
    built.hasData = parts == TableParts::TxtLines ? cardCount > 0 : !built.table.rows.isEmpty();
    built.leftOutNote = leftOutValuesNote(leftOut, false);
    return built;
}

QString tableCountsSentence(const TableCounts &counts)
{
    // Numbered, so that a language can name the contacts before the rows.
    return translate(QStringLiteral("%1 rows from %2 contacts (%3 duplicates dropped)"))
        .arg(QString::number(counts.rows), QString::number(counts.contacts), QString::number(counts.duplicates));
}
