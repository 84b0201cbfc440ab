#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

/**
 * The encoding that a character-set label names, as web browsers read labels (the WHATWG
 * Encoding Standard: ASCII letter case and surrounding white space do not count, and
 * ISO-8859-1, Latin-1 and US-ASCII all mean windows-1252). A label that browsers do not know
 * is given back as it is, for the platform's converters to try. "UTF-8" for every UTF-8 label.
 */
QByteArray encodingForLabel(QByteArrayView label);

/**
 * Whether the platform's converters (ICU) read the encoding that label names and it is not
 * UTF-8.
 */
bool isOtherKnownEncoding(QByteArrayView label);

/**
 * Reads bytes in the encoding that label names (see isOtherKnownEncoding). A byte sequence that
 * the encoding does not define, also one that the bytes leave unfinished, becomes U+FFFD.
 */
QString decodeInEncoding(QByteArrayView bytes, QByteArrayView label);
