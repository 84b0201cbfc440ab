#pragma once

#include "engine/contactcard.h"
#include "text/textlines.h"

#include <QChar>

#include <vector>

/**
 * Walks the loaded lines once and returns the cards in the order of their "END:VCARD" lines.
 *
 * Recognises FN, N, EMAIL (five slots), URL, NOTE, ORG, REV, ADR (not X-ABADR) and TEL (three
 * slots) by plain tests on the upper-cased line, joins folded lines, and decodes each value with
 * decodePropertyValue. Only a value whose own property line declares quoted-printable encoding
 * is decoded as such and takes the lines after its soft line breaks (each "=" at a line's end
 * goes with the break). Only "BEGIN:VCARD" empties the working card; "END:VCARD" appends a
 * normalised copy of it, as UTF-8. Never fails; the time grows linearly with the input.
 */
CardList scanCards(const TextLines &lines, QChar delimiter);
