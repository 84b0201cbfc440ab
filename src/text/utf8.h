#pragma once

#include <QByteArrayView>

#include <cstring>

namespace utf8 {

/*
 * Length of the well-formed UTF-8 sequence that starts at p: 1 to 4, 0 when the bytes are
 * not well-formed (overlong forms, encoded surrogates and code points above U+10FFFF
 * included), -1 when a sequence that is well-formed so far is cut by end.
 */
inline int sequenceLength(const unsigned char *p, const unsigned char *end)
{
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        if (p + k >= end)
            return -1;
        const unsigned char next = p[k];
        if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF))
            return 0;
    }
    return length;
}

/*
 * Checks bytes as UTF-8. Returns -1 when they hold an invalid sequence, otherwise how many
 * bytes at the end start a sequence that the end cuts (0 when everything is complete).
 */
inline qsizetype checkBlock(const unsigned char *p, const unsigned char *end)
{
    while (p != end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const int length = sequenceLength(p, end);
        if (length == 0)
            return -1;
        if (length < 0)
            return end - p;
        p += length;
    }
    return 0;
}

/* The character of valid UTF-8 that starts at at, which moves past it. */
inline char32_t decode(const unsigned char *&at)
{
    const unsigned char lead = *at++;
    if (lead < 0x80)
        return lead;
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k)
        c = (c << 6) | (*at++ & 0x3F);
    return c;
}

/* How many UTF-16 units valid UTF-8 text takes: one per character, two for one outside the BMP. */
inline qsizetype utf16Length(QByteArrayView text)
{
    qsizetype units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80 ? (byte >= 0xF0 ? 2 : 1) : 0;
    }
    return units;
}

inline bool isValid(QByteArrayView bytes)
{
    const auto *begin = reinterpret_cast<const unsigned char *>(bytes.data());
    return checkBlock(begin, begin + bytes.size()) == 0;
}

} // namespace utf8
