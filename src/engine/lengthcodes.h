#pragma once

#include <QtGlobal>

/*
 * Lengths in the engine's compact records (the cards of a scan, the properties of a card): 7-bit
 * groups, low group first, the high bit set on all groups but the last, so that the common short
 * length takes one byte.
 */

/** Writes length at out, which has room for ten bytes; returns the end of what it wrote. */
inline char *writeLength(char *out, quint64 length)
{
    while (length >= 0x80) {
        *out++ = char(0x80 | (length & 0x7F));
        length >>= 7;
    }
    *out++ = char(length);
    return out;
}

/** Reads a length that writeLength wrote at at, and moves at past it. */
inline quint64 readLength(const char *&at)
{
    quint64 length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        length |= quint64(byte & 0x7F) << shift;
        if (byte < 0x80)
            return length;
    }
}
