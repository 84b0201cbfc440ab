#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>

/**
 * A single-byte Windows code page ("ANSI"), as tables: every byte maps to one character
 * (bytes the code page leaves undefined map to the character of the same value), and
 * characters the code page cannot represent are written as "?".
 */
class SingleByteCodec
{
public:
    /** The codec of a Windows code page number such as 1252; an unknown number maps bytes to U+0000..U+00FF. */
    static const SingleByteCodec &forCodePage(int codePage);

    /** The codec of the user's ANSI code page. */
    static const SingleByteCodec &ansi();

    int codePage() const { return m_codePage; }
    char16_t toUnicode(unsigned char byte) const { return m_toUnicode[byte]; }

    /** Appends the UTF-8 form of one byte's character. */
    void appendUtf8(unsigned char byte, QByteArray &out) const
    {
        const Utf8Form &form = m_utf8[byte];
        out.append(form.bytes, form.size);
    }

    /** Encodes text; each character outside the code page (a surrogate pair counts once) becomes "?". */
    QByteArray fromUnicode(QStringView text) const;

    /** Appends the encoded text to out as fromUnicode() encodes it; returns how many characters became "?". */
    qsizetype appendEncoded(QStringView text, QByteArray &out) const;

private:
    explicit SingleByteCodec(int codePage);

    struct Utf8Form {
        char bytes[3];
        qsizetype size;
    };

    int m_codePage;
    std::array<char16_t, 256> m_toUnicode{};
    std::array<Utf8Form, 256> m_utf8{};
    QHash<char16_t, unsigned char> m_fromUnicode;
};
