#pragma once

#include "engine/contactcard.h"
#include "engine/contactrecord.h"
#include "text/textlines.h"

#include <QChar>

#include <stop_token>

#include <vector>

/** What a scan keeps of each card: its fifteen columns, or every value (All fields). */
enum class ScanMode { FifteenColumns, AllFields };

/** In an All fields scan, the one field of each card that holds its record (contactrecord.h). */
inline constexpr int kRecordColumn = 0;

/**
 * Walks the loaded lines once and returns the cards in the order in which they begin.
 *
 * Recognises FN, N, EMAIL (five slots), URL, NOTE, ORG, REV, ADR (and Samsung's X-SAMSUNGADR)
 * and TEL (three slots) by their property name, whatever the group and parameters, joins folded
 * lines, and decodes each value with decodePropertyValue. Only a value whose own property line
 * declares quoted-printable encoding is decoded as such (in its declared character set) and
 * takes the lines after its soft line breaks (each "=" at a line's end goes with the break).
 * Cards nest: a "BEGIN:VCARD" inside a card, or an AGENT whose value is "BEGIN:VCARD", starts
 * a card of its own, and the cards still open where a loaded file ends (TextLines::fileEnds)
 * or the lines end are finished there. "BEGIN:VCARD" and "END:VCARD" count with white space
 * around them and a group prefix, never as a folded line. Outside a card, "BEGIN:VCARD" empties
 * the working card and "END:VCARD" appends a normalised copy of it, as UTF-8, when a property
 * line came since the last one; every "END:VCARD" empties the card it finished. Never fails
 * on its input; the time grows linearly with it. A stop request ends the scan with WorkStopped.
 *
 * With ScanMode::AllFields, each card is one record in field kRecordColumn: every property that
 * All fields keeps, read by the same rules (a continuation line of a declared value is part of
 * that value only), with its label and components. With the fifteen columns, leftOut (when given) counts the
 * values of the cards that no column holds: phones beyond the third, e-mail addresses beyond
 * the fifth, addresses, web pages and notes beyond the first, and the kinds without a column.
 */
CardList scanCards(const TextLines &lines, QChar delimiter, const std::stop_token &stop = {},
                   ScanMode mode = ScanMode::FifteenColumns, LeftOutValues *leftOut = nullptr);

/**
 * Whether a line is BEGIN:VCARD or END:VCARD, in any letter case, with white space around it and
 * an optional group prefix ("item1.BEGIN:VCARD").
 */
bool isCardBoundaryLine(QByteArrayView utf8Line);

/**
 * How many of the first lines hold the first cards: the lines before the first "BEGIN:VCARD"
 * line (neither folded nor continued by a folded line) that comes after at least cards others; all lines when
 * there is none. Scanning only those lines gives the first cards of the whole scan, at least
 * cards of them where there are that many, save a card still open where they end (one left
 * without its END:VCARD), which ends there.
 */
qsizetype linesOfFirstCards(const TextLines &lines, qsizetype cards);
