#pragma once

#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <vector>

/*
 * The pipeline that every recognised vCard property value passes through. Values arrive as
 * UTF-8 bytes (the form in which loaded lines are kept); the QString overloads are for
 * callers that hold text.
 */

/**
 * What the pipeline does after quoted-printable decoding. Flatten makes one line of words for a
 * column of its own (line breaks, delimiters and ";" become spaces, escapes are undone);
 * KeepStructure keeps the decoded text as the value has it, escapes and ";" included, for a
 * caller that splits it into components, and a "=0A" escape gives a line feed.
 */
enum class ValueSteps { Flatten, KeepStructure };

/**
 * Undoes quoted-printable encoding when the value holds "=": drops "=00", turns "=0A" into a
 * space, then decodes leniently (soft line breaks, single hex digits, a trailing "=").
 * The decoded bytes are read as UTF-8 wherever a well-formed sequence starts; any other byte
 * is read as the ANSI code page's character. A value without "=" is returned unchanged.
 */
QString decodeQuotedPrintableValue(QByteArrayView utf8Value);
QString decodeQuotedPrintableValue(const QString &value);

/**
 * The quoted-printable bytes of one line of a declared value, without its soft line break:
 * "=00" dropped, "=0A" a space, then decoded as decodeQuotedPrintableValue does. With valueEnd
 * set (the value's last line), trailing blanks are dropped as well; a lone "=" at the end is
 * always dropped. When literals is given, it gets the start and end (in the decoded bytes) of
 * every run of characters above ASCII written as themselves, appended as pairs.
 */
QByteArray decodeQuotedPrintableLine(QByteArrayView line, bool valueEnd, std::vector<qsizetype> *literals = nullptr,
                                     ValueSteps steps = ValueSteps::Flatten);

/**
 * The length of an escape that the end of a line (without its soft line break) cuts off: 1 for a
 * trailing "=", 2 for "=" and one hexadecimal digit, else 0. Some writers break lines inside an
 * escape; the cut-off part belongs in front of the next line.
 */
qsizetype cutEscapeLength(QByteArrayView line);

/**
 * The pipeline after quoted-printable decoding, for the decoded bytes of a whole value: read
 * as decodeQuotedPrintableValue reads them, then as decodePropertyValue goes on.
 */
QString finishDecodedValue(QByteArrayView decodedBytes, QChar delimiter);

/**
 * Undoes vCard escapes in one left-to-right pass: backslash with n or N becomes a space,
 * backslash with ",", ";", ":" or a backslash becomes that character. Other backslashes stay.
 */
QString undoVcardEscapes(const QString &value);

/**
 * The whole value pipeline: quoted-printable decoding when the property declares it (any other
 * value keeps its "=" signs as they are), vCard escapes, then every field delimiter and every
 * ";" turned into a space.
 */
QString decodePropertyValue(QByteArrayView utf8Value, QChar delimiter, bool quotedPrintable);
QString decodePropertyValue(const QString &value, QChar delimiter, bool quotedPrintable);

/**
 * The normalisation of a finished card's field: trimmed, leading "=" signs removed (trimming
 * after each), and every run of spaces (U+0020) made one space.
 */
QString normalizeFieldValue(const QString &value);

/*
 * The same pipeline on UTF-8, for the scanner: the results are the UTF-8 of the texts that the
 * functions above give (a U+FEFF that they drop is dropped here too). out is overwritten; its
 * capacity is kept, so that a buffer reused for every value costs no allocation. The delimiter
 * is given as its UTF-8 bytes.
 */
void decodePropertyValueUtf8(QByteArrayView utf8Value, QByteArrayView delimiter, bool quotedPrintable, QByteArray &out,
                             ValueSteps steps = ValueSteps::Flatten);
void finishDecodedValueUtf8(QByteArrayView decodedBytes, QByteArrayView delimiter, QByteArray &out,
                            ValueSteps steps = ValueSteps::Flatten);

/*
 * The same for a quoted-printable value whose property declares a character set other than
 * UTF-8 (encoding, a label that isOtherKnownEncoding accepts): the decoded bytes, with the ASCII
 * written around them, are read in that character set; the characters above ASCII written as
 * themselves (literals, as decodeQuotedPrintableLine gives them) stay as they are.
 */
void decodeCharsetValueUtf8(QByteArrayView utf8Value, QByteArrayView encoding, QByteArrayView delimiter,
                            QByteArray &out, ValueSteps steps = ValueSteps::Flatten);
void finishCharsetValueUtf8(QByteArrayView decodedBytes, const std::vector<qsizetype> &literals,
                            QByteArrayView encoding, QByteArrayView delimiter, QByteArray &out,
                            ValueSteps steps = ValueSteps::Flatten);
/** trimControlAndBlank and then normalizeFieldValue on UTF-8: out gets the normalised field. */
void normalizeFieldUtf8(QByteArrayView field, QByteArray &out);
/** normalizeFieldUtf8 in field's own buffer; a field that it leaves as it is is not written to. */
void normalizeFieldUtf8InPlace(QByteArray &field);
/**
 * decodePropertyValueUtf8 of a value that its property does not declare quoted-printable and
 * that stands in value's buffer from start on: value becomes the decoded value, in its own
 * buffer (the text before start is dropped).
 */
void decodePlainValueUtf8InPlace(QByteArray &value, qsizetype start, QByteArrayView delimiter,
                                 ValueSteps steps = ValueSteps::Flatten);

/**
 * A phone as a number: a vCard 4.0 "tel:" address (any letter case) without its scheme, a
 * ";ext=" extension as " ext. " and its digits, its other parameters left out. Empty when the
 * value is no "tel:" address.
 */
QByteArray dialableNumber(QByteArrayView value);
