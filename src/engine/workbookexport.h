#pragma once

#include "engine/conversionjob.h"
#include "engine/rowsort.h"

#include <QChar>
#include <QString>

#include <stop_token>

/**
 * Writes the finished rows as a workbook at fileName (.xlsx for that extension in any letter
 * case, else .xls), every cell as text. A row's cells are its fields between the delimiters,
 * each without the quote marks that enclose it; the workbook writers take them as they are,
 * views into the rows' own bytes. Reports progress 81 to 100, as rows are handed to the
 * writer and as the writer puts them into the file; 100 once the file is complete. A table
 * beyond the format's limits gives DoesNotFit before anything is written, a failure of the
 * writer Failed; either way the reason is in error and nothing is left at fileName; so too
 * when the export is stopped (WorkStopped), between any two progress steps.
 */
WriteResult exportToWorkbook(const FinishedRows &rows, QChar delimiter, const QString &fileName, ExportEvents &events,
                             const std::stop_token &stop, QString *error);
