#pragma once

#include "text/textlines.h"

#include <QCollator>
#include <QString>

#include <array>
#include <vector>

/**
 * The collator's order of single characters, read from the collator itself: the printable
 * ASCII characters, the accented Latin and the Cyrillic letters, and the ideographs that the
 * rows begin with most, one rank each from 1, the same for characters that compare equal
 * (0 for any other character). An ideograph of the basic block is never joined with its
 * neighbours nor expanded by a collation, so its place among single characters is its place
 * in a row.
 *
 * The ranks are used only when the collator orders strings of printable ASCII one character
 * after the other by them, with no character ignored and none joined to its neighbours (as a
 * contraction like Czech "ch" would be). That is checked on every string of two printable
 * characters and every string of three letters; a locale that fails it is not valid, and its
 * rows are sorted by the collator alone.
 */
class CollationRanks
{
public:
    /* The printable ASCII characters, space to tilde: the ones that rows are mostly made of. */
    static constexpr char16_t kFirstPrintable = 0x20;
    static constexpr char16_t kLastPrintable = 0x7E;

    /**
     * Reads the ranks from collator, for the ideographs given (most common first) as far as the
     * ranks that the letters leave reach.
     */
    CollationRanks(const QCollator &collator, std::vector<char32_t> ideographs);

    /** Whether the collator orders strings of printable ASCII by these ranks, one character after the other. */
    bool isValid() const { return m_valid; }

    /** The rank of a printable ASCII character given as a byte of UTF-8. */
    quint8 rank(char c) const { return m_ascii[size_t(c - char(kFirstPrintable))]; }

    /** The head byte of character c: its rank from 1, or 0 when the ranks do not know it. */
    quint8 byteOf(char32_t c) const
    {
        if (c >= kFirstPrintable && c <= kLastPrintable)
            return m_ascii[size_t(c - kFirstPrintable)];
        if (c >= kFirstLatinLetter && c <= kLastLatinLetter)
            return m_latin[size_t(c - kFirstLatinLetter)];
        if (c >= kFirstCyrillicLetter && c <= kLastCyrillicLetter)
            return m_cyrillic[size_t(c - kFirstCyrillicLetter)];
        return isBasicIdeograph(c) ? m_ideographs[size_t(c - kFirstIdeograph)] : 0;
    }

    /**
     * The ideographs most common among the first headLength characters of the rows (UTF-8),
     * most common first.
     */
    static std::vector<char32_t> commonIdeographs(const TextLines &rows, int headLength);

private:
    static constexpr int kPrintableCount = kLastPrintable - kFirstPrintable + 1;
    static constexpr char32_t kFirstLatinLetter = 0xC0; // the accented letters of Latin-1 and Latin Extended-A
    static constexpr char32_t kLastLatinLetter = 0x17F;
    static constexpr char32_t kFirstCyrillicLetter = 0x400; // the basic Cyrillic block
    static constexpr char32_t kLastCyrillicLetter = 0x45F;
    // The CJK unified ideographs of the basic block: one collation weight each, no decompositions.
    static constexpr char32_t kFirstIdeograph = 0x4E00;
    static constexpr char32_t kLastIdeograph = 0x9FFF;

    static bool isBasicIdeograph(char32_t c) { return c >= kFirstIdeograph && c <= kLastIdeograph; }
    static QString textOf(char32_t c) { return QString(QChar(char16_t(c))); }

    quint8 &slotOf(char32_t c);
    static bool sameWeight(const QCollator &collator, char32_t a, char32_t b, const QString &lowest,
                           const QString &highest);
    int assignRanks(const QCollator &collator, std::vector<char32_t> characters);
    static bool holdsItsPlace(const QCollator &collator, const std::vector<char32_t> &sorted, size_t first, size_t last,
                              const QString &lowest, const QString &highest);
    bool asciiCounts(const QCollator &collator) const;
    bool agreesOn(const QCollator &collator, std::vector<QString> strings) const;
    bool checkStrings(const QCollator &collator) const;

    std::array<quint8, kPrintableCount> m_ascii{};
    std::array<quint8, kLastLatinLetter - kFirstLatinLetter + 1> m_latin{};
    std::array<quint8, kLastCyrillicLetter - kFirstCyrillicLetter + 1> m_cyrillic{};
    std::vector<quint8> m_ideographs;
    bool m_valid = false;
};
