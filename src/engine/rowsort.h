#pragma once

#include "text/textlines.h"

#include <QString>

/**
 * Applies the Sort and Headers options to rows (UTF-8): sorts them by the user's locale collation,
 * ignoring letter case (stable: rows that compare equal keep their order), then puts the
 * header row first. The header row is never sorted with the data.
 */
void finishRows(TextLines &rows, bool headers, bool sort, const QString &headerRow);
