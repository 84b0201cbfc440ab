#pragma once

#include "text/textlines.h"

#include <QIODevice>
#include <QStringList>

/**
 * Writes lines, each followed by CR LF, in the chosen encoding: ANSI without a byte-order
 * mark ("?" for characters outside the code page), UTF-8 with EF BB BF, UTF-16 little-endian
 * with FF FE. Returns false with the device's error text when writing fails.
 */
bool writeTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error);

/**
 * Writes lines to the file at path, replacing it only once everything is written: a failure
 * leaves an existing file untouched and no partial file behind. The error text of a file
 * that cannot be created is "Cannot create file "<path>". <reason>".
 */
bool writeTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error);
