#pragma once

#include <QString>
#include <QStringList>

/**
 * Applies the Sort and Headers options: sorts the rows by the user's locale collation,
 * ignoring letter case (stable: rows that compare equal keep their order), then puts the
 * header row first. The header row is never sorted with the data.
 */
void finishRows(QStringList &rows, bool headers, bool sort, const QString &headerRow);
