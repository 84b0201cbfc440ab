#pragma once

#include "engine/conversionjob.h"
#include "engine/exporttable.h"
#include "text/textlines.h"

#include <QString>

#include <stop_token>

/**
 * What a table was made of, as an export's message and the preview tell it. The rows are the
 * data rows, without a header row: for the text layout each card, whose block is written
 * whatever it holds; otherwise the distinct rows left once the blank ones are removed.
 * duplicates counts the rows dropped because an identical row came before them; blank rows
 * removed are not duplicates (so contacts = rows + duplicates + blank rows), and the text
 * layout drops none.
 */
struct TableCounts {
    qint64 contacts = 0;
    qint64 rows = 0;
    qint64 duplicates = 0;
    int columns = 0;
};

/** How the rows of a table are made: the file type and CSV flavour decide the columns. */
struct TableLayout {
    ExportType fileType = ExportType::Csv;
    CsvFlavor flavor = CsvFlavor::Plain;
    RowFormat format;
    /** The text layout is what is written (TXT), rather than delimited rows. */
    bool textLayout = false;
    ColumnModel columns = ColumnModel::Fifteen;
};

/** A built table, its counts, and whether it holds anything to write. */
struct BuiltTable {
    ExportTable table;
    TableCounts counts;
    bool hasData = false;
    /** The sentence on values that the table's columns had no place for (leftOutValuesNote). */
    QString leftOutNote;
};

/**
 * The part that every export and the preview share: scans the cards of lines, finds the
 * columns (the fifteen, or All fields when layout asks for them and the file's layout has
 * them), builds the rows (the text layout too when layout asks for it), keeps one of
 * identical rows and removes blank ones, and counts. Reports Reading 0 to 20 and BuildingRows
 * 20 to 80. The lines are let go of once the cards are read (lines is left empty). A stop
 * request ends it with WorkStopped; running out of memory with std::bad_alloc.
 */
BuiltTable buildTable(TextLines &lines, const TableLayout &layout, ExportEvents &events, const std::stop_token &stop);

/**
 * The row format that an export writes: the request's, except that Google's and Outlook's
 * layouts with All fields separate fields with a comma whatever the locale.
 */
RowFormat exportRowFormat(const TableLayout &layout);

/** "N rows from M contacts (K duplicates dropped)" in the current language. */
QString tableCountsSentence(const TableCounts &counts);
