#pragma once

#include "engine/contactcard.h"
#include "text/textlines.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <stop_token>
#include <vector>

/** One flag per column: whether the column is part of the export. */
using ColumnPresence = std::array<bool, kContactColumnCount>;

/** The characters that shape a delimited row. */
struct RowFormat {
    QChar delimiter = u',';
    QChar quoteMark = u'"';
    /**
     * Whether a field that a spreadsheet would read as a formula is written with an apostrophe
     * before it (startsFormula): for the CSV files that people open in a spreadsheet.
     */
    bool guardFormulas = false;
};

/** What the user asked to export: a workbook, a CSV table or the text layout. */
enum class ExportType { Xls, Csv, Txt };

/**
 * The column names and dropped columns of a CSV file for one address book's import; Plain
 * keeps every column under the default names. Only a Csv export applies a flavour.
 */
enum class CsvFlavor { Plain, Outlook, Google, Yahoo };

/**
 * The columns of an export: the fifteen fixed ones, or every value of a contact in the columns
 * its kinds and labels need (All fields).
 */
enum class ColumnModel { Fifteen, AllFields };

/** Which lists buildExportTable makes; a writer needs only one of them. */
enum class TableParts { Rows = 1, TxtLines = 2, Both = 3 };

struct ExportTable {
    /** Delimited rows, one per distinct contact, in the order of first occurrence. */
    TextLines rows;
    /** The text layout: each card's non-blank values on their own lines, then an empty line. */
    TextLines txtLines;
    /** The presence flags after the flavour's drops. */
    ColumnPresence presence{};
    /** All fields: the names of the table's columns, in their order (empty for the fifteen). */
    QStringList columnNames;
    /** How many fields of the distinct rows got an apostrophe before them (RowFormat::guardFormulas). */
    qint64 guardedFields = 0;
};

/** Reports the card number (from 1) and the card count at the start of each card. */
using CardProgress = std::function<void(qint64 card, qint64 count)>;

/** A column is present when at least one card has non-empty text in it. */
ColumnPresence computeColumnPresence(const CardList &cards);

/** The columns a CSV flavour leaves out. */
ColumnPresence flavorDrops(CsvFlavor flavor);

/**
 * The columns an export holds: the present ones less those that a CSV file's flavour leaves out.
 * The Outlook, Google and Yahoo flavours have no structured-name column: their name column is
 * present also when only a structured name is.
 */
ColumnPresence exportedColumns(ColumnPresence presence, ExportType fileType, CsvFlavor flavor);

/**
 * Whether no row of an export with these columns can be blank: with a visible quote mark, a
 * row of at least one column is never blank, whatever its values.
 */
bool rowsAreNeverBlank(const ColumnPresence &exported, RowFormat format);

/**
 * Builds the export table. Every field is enclosed in quote marks, a quote mark inside it written
 * twice (RFC 4180); the text layout holds the values as they are. For a Csv file type the
 * flavour's columns are dropped, and in the Outlook, Google and Yahoo flavours a card without a
 * formatted name has its structured name in the name column. Identical rows (case-sensitive) are kept once, every card
 * keeps its TXT block. The cards are consumed: their memory is freed once the table is built.
 * A stop request ends the building with WorkStopped.
 */
ExportTable buildExportTable(CardList cards, ColumnPresence presence, ExportType fileType, CsvFlavor flavor,
                             RowFormat format, TableParts parts = TableParts::Both, const CardProgress &progress = {},
                             const std::stop_token &stop = {});

/** Removes the rows that are empty after trimming. */
void removeBlankRows(TextLines &rows);

/**
 * The names of the present columns, in their order: the flavour's names for a Csv file type,
 * the default names otherwise. A column without a name in the flavour has none.
 */
QStringList columnNames(const ColumnPresence &presence, ExportType fileType, CsvFlavor flavor);

/**
 * The header row: the quoted names of the present columns in the flavour's name set for a Csv
 * file type, the default names otherwise.
 */
QString buildHeaderRow(const ColumnPresence &presence, ExportType fileType, CsvFlavor flavor, RowFormat format);

/** The header row of the named columns: each name quoted, the names delimited. */
QString buildHeaderRow(const QStringList &names, RowFormat format);
