#pragma once

#include "engine/contactcard.h"
#include "engine/contactrecord.h"
#include "engine/exporttable.h"

#include <QString>

#include <stop_token>

/** Whether an export with these choices writes the All fields columns (Yahoo keeps its fifteen). */
bool writesAllFields(ColumnModel columns, ExportType fileType, CsvFlavor flavor);

/**
 * The row format of an All fields export: Google's and Outlook's own files separate their
 * fields with a comma whatever the locale, and so do ours in those layouts.
 */
RowFormat allFieldsRowFormat(ExportType fileType, CsvFlavor flavor, RowFormat format);

/**
 * Builds the All fields table from the cards of an All fields scan (one record each).
 *
 * For the default and Excel layouts, workbooks and the text layout: the columns the data needs,
 * in the order of the kinds and then by number ("Mobile", "Mobile 2", "Home Street",
 * "Home 2 Street"), each present when some card has a value in it. For a Csv file in the Google
 * or Outlook flavour: that service's own header set, written whole, with Google's numbered
 * groups as many times as the card with most of them needs. Fields are quoted as in every
 * table, a quote mark inside written twice; a line break stays in a field and is a space in the
 * text layout. Identical rows are kept once. leftOut (when given) counts the values that the
 * layout has no column for (only Google's and Outlook's have such).
 */
ExportTable buildAllFieldsTable(CardList cards, ExportType fileType, CsvFlavor flavor, RowFormat format,
                                TableParts parts, const CardProgress &progress = {}, const std::stop_token &stop = {},
                                LeftOutValues *leftOut = nullptr);

/**
 * The sentence that tells how many values of which kinds had no column, and that All fields
 * keeps them; empty when none had. allFieldsLayout: the values are those that an importer's
 * header set (Outlook's fixed slots, Google's) has no place for, which All fields cannot keep.
 */
QString leftOutValuesNote(const LeftOutValues &leftOut, bool allFieldsLayout);
