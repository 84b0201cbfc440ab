#pragma once

#include "text/textlines.h"

#include <QIODevice>
#include <QStringList>

#include <functional>

/** Characters that the output encoding could not hold and that were written as "?", and in how many lines. */
struct ReplacedCharacters {
    qint64 characters = 0;
    qint64 lines = 0;
};

/**
 * Writes lines, each followed by CR LF, in the chosen encoding: ANSI without a byte-order
 * mark ("?" for characters outside the code page), UTF-8 with EF BB BF, UTF-16 little-endian
 * with FF FE ("?" for a surrogate without its pair). Returns false with the device's error
 * text when writing fails. replaced, when given, counts the characters written as "?".
 */
bool writeTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced = nullptr);

/**
 * Writes lines to the file at path through OutputFile, so that it is replaced only once
 * everything is written and synced: a failure leaves an existing file untouched and no partial
 * file behind. The error text is cannotCreateFileMessage()'s.
 */
bool writeTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced = nullptr);

/** Line i of a list of count lines, as valid UTF-8. */
using Utf8LineAt = std::function<QByteArrayView(qsizetype i)>;

/**
 * The same for lines kept as UTF-8: in UTF-8 their bytes are written as they are. A U+FEFF at
 * a line's start is text, as it is in the line.
 */
bool writeUtf8Lines(qsizetype count, const Utf8LineAt &lineAt, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced = nullptr);
bool writeUtf8Lines(qsizetype count, const Utf8LineAt &lineAt, const QString &path, TextEncoding encoding,
                    QString *error, ReplacedCharacters *replaced = nullptr);
bool writeTextLines(const TextLines &lines, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced = nullptr);
bool writeTextLines(const TextLines &lines, const QString &path, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced = nullptr);
