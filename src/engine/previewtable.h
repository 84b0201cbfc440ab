#pragma once

#include "engine/conversionjob.h"
#include "engine/csvpreset.h"
#include "engine/rowsort.h"
#include "engine/tablebuild.h"
#include "text/textlines.h"

#include <QStringList>

#include <stop_token>

/** The layout a preview shows, and the option that orders its rows. */
struct PreviewRequest {
    CsvPreset preset = CsvPreset::Default;
    ColumnModel columns = ColumnModel::Fifteen;
    RowFormat format;
    bool sort = true;
};

/** The table that a CSV export with a preview's layout writes, as the preview shows it. */
struct PreviewTable {
    /** The columns' names, shown whether or not a header row would be written. */
    QStringList columnNames;
    /** The data rows in the order of the file, without a header row. */
    FinishedRows rows;
    TableCounts counts;
    RowFormat format;
    /**
     * Built from every loaded card, in the order the file has. When false it holds only the
     * first cards' rows, in the order of the cards even when the file is sorted.
     */
    bool complete = false;
};

/** How many cards the first, quick table of a preview reads. */
inline constexpr qsizetype kPreviewFirstCards = 2000;

/**
 * Builds the table that a CSV export with request's preset writes from lines, by the export's
 * own steps (buildTable, then finishRows with the request's Sort): the same columns, rows,
 * duplicates dropped and order. Nothing is written.
 *
 * With firstCards > 0 only the lines of the first cards are read (linesOfFirstCards: at least
 * that many where there are, a few more where a folded line moves the cut) and their rows are
 * not sorted, which takes moments however many cards are loaded; when those
 * lines are all there is, the table is complete and sorted as asked. Reports progress as an
 * export's first stages do (0 to 80), then Done 100. A stop request ends it with WorkStopped,
 * running out of memory with std::bad_alloc.
 */
PreviewTable buildPreviewTable(TextLines lines, const PreviewRequest &request, ExportEvents &events,
                               const std::stop_token &stop, qsizetype firstCards = 0);
