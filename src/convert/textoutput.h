#pragma once

#include "convert/textlines.h"

#include <QIODevice>
#include <QStringList>

/**
 * Applies the Sort and Headers options: sorts the rows by the user's locale collation,
 * ignoring letter case (stable: rows that compare equal keep their order), then puts the
 * header row first. The header row is never sorted with the data.
 */
void FinishRows(QStringList &rows, bool headers, bool sort, const QString &headerRow);

/**
 * Writes lines, each followed by CR LF, in the chosen encoding: ANSI without a byte-order
 * mark ("?" for characters outside the code page), UTF-8 with EF BB BF, UTF-16 little-endian
 * with FF FE. Returns false with the device's error text when writing fails.
 */
bool WriteTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error);

/**
 * Writes lines to the file at path, replacing it only once everything is written: a failure
 * leaves an existing file untouched and no partial file behind. The error text of a file
 * that cannot be created is "Cannot create file "<path>". <reason>".
 */
bool WriteTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error);
