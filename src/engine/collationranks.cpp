#include "engine/collationranks.h"

#include "text/utf8.h"

#include <algorithm>

CollationRanks::CollationRanks(const QCollator &collator, std::vector<char32_t> ideographs)
    : m_ideographs(size_t(kLastIdeograph - kFirstIdeograph + 1), 0)
{
    // The letters decide how many ranks are left for the ideographs, one rank each.
    std::vector<char32_t> characters;
    for (char32_t c = kFirstPrintable; c <= kLastPrintable; ++c)
        characters.push_back(c);
    for (char32_t c = kFirstLatinLetter; c <= kLastLatinLetter; ++c) {
        if (QChar::isLetter(c))
            characters.push_back(c);
    }
    for (char32_t c = kFirstCyrillicLetter; c <= kLastCyrillicLetter; ++c) {
        if (QChar::isLetter(c))
            characters.push_back(c);
    }
    const int letterRanks = assignRanks(collator, characters);
    ideographs.resize(std::min(ideographs.size(), size_t(std::max(255 - letterRanks, 0))));
    characters.insert(characters.end(), ideographs.begin(), ideographs.end());
    assignRanks(collator, characters);
    m_valid = asciiCounts(collator) && checkStrings(collator);
}

std::vector<char32_t> CollationRanks::commonIdeographs(const TextLines &rows, int headLength)
{
    std::vector<quint32> counts(size_t(kLastIdeograph - kFirstIdeograph + 1), 0);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QByteArrayView row = rows.utf8At(i);
        const auto *at = reinterpret_cast<const unsigned char *>(row.data());
        const auto *end = at + row.size();
        for (int k = 0; k < headLength && at != end; ++k) {
            const char32_t c = utf8::decode(at);
            if (isBasicIdeograph(c))
                ++counts[size_t(c - kFirstIdeograph)];
        }
    }
    std::vector<char32_t> found;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] > 0)
            found.push_back(kFirstIdeograph + char32_t(i));
    }
    // Most common first: the ranks that the letters leave go to these.
    std::stable_sort(found.begin(), found.end(),
                     [&](char32_t a, char32_t b) { return counts[a - kFirstIdeograph] > counts[b - kFirstIdeograph]; });
    return found;
}

quint8 &CollationRanks::slotOf(char32_t c)
{
    if (c <= kLastPrintable)
        return m_ascii[size_t(c - kFirstPrintable)];
    if (c <= kLastLatinLetter)
        return m_latin[size_t(c - kFirstLatinLetter)];
    if (c <= kLastCyrillicLetter)
        return m_cyrillic[size_t(c - kFirstCyrillicLetter)];
    return m_ideographs[size_t(c - kFirstIdeograph)];
}

/*
 * Whether the collator gives a and b (neighbours in its order) the same primary weight:
 * equal once case is ignored, or an accented letter and its base, which only what follows
 * can then order ("oz" after "ö "). A letter that expands to two weights (English "æ" as
 * "ae") is not the same as its first: it sorts after that first and a low character.
 */
bool CollationRanks::sameWeight(const QCollator &collator, char32_t a, char32_t b, const QString &lowest,
                                const QString &highest)
{
    if (collator.compare(textOf(a), textOf(b)) == 0)
        return true;
    const bool letters = QChar::isLetter(a) && QChar::isLetter(b) && (a > 0x7F || b > 0x7F) && !isBasicIdeograph(a)
                         && !isBasicIdeograph(b);
    return letters && collator.compare(textOf(a) + highest, textOf(b) + lowest) > 0
           && collator.compare(textOf(a) + lowest, textOf(b) + lowest + highest) < 0
           && collator.compare(textOf(b) + lowest, textOf(a) + lowest + highest) < 0;
}

/*
 * Sorts the characters with the collator and gives each its rank, the same rank to
 * characters of the same weight; returns how many ranks there are. An accented letter of a
 * rank of its own keeps it only when it holds its place in front of any character, as a
 * letter that expands to two (German "ß" as "ss") would not; one that does not is unknown.
 */
int CollationRanks::assignRanks(const QCollator &collator, std::vector<char32_t> characters)
{
    m_ascii.fill(0);
    m_latin.fill(0);
    m_cyrillic.fill(0);
    std::fill(m_ideographs.begin(), m_ideographs.end(), quint8(0));
    std::stable_sort(characters.begin(), characters.end(),
                     [&](char32_t a, char32_t b) { return collator.compare(textOf(a), textOf(b)) < 0; });
    // The printable ASCII characters that sort first and last, to follow a letter in the tests.
    QString lowest;
    QString highest;
    for (const char32_t c : characters) {
        if (c <= kLastPrintable) {
            if (lowest.isEmpty())
                lowest = textOf(c);
            highest = textOf(c);
        }
    }
    std::vector<int> ranks(characters.size());
    int rank = 1;
    for (size_t i = 0; i < characters.size(); ++i) {
        if (i > 0 && !sameWeight(collator, characters[i - 1], characters[i], lowest, highest))
            ++rank;
        ranks[i] = rank;
    }
    if (rank > 255)
        return rank; // more than a byte holds: nothing is known
    for (size_t first = 0; first < characters.size();) {
        size_t last = first;
        while (last + 1 < characters.size() && ranks[last + 1] == ranks[first])
            ++last;
        const bool ascii = std::any_of(characters.begin() + qsizetype(first), characters.begin() + qsizetype(last) + 1,
                                       [](char32_t c) { return c <= kLastPrintable; });
        const bool ideograph = isBasicIdeograph(characters[first]);
        // A rank of accented letters alone must hold its place among its neighbours.
        const bool known = ascii || ideograph || holdsItsPlace(collator, characters, first, last, lowest, highest);
        for (size_t i = first; i <= last && known; ++i) {
            const char32_t c = characters[i];
            if (c > kLastPrintable && collator.compare(u"a"_qs + textOf(c), u"a"_qs) <= 0)
                continue; // an ignored character stays unknown
            slotOf(c) = quint8(ranks[i]);
        }
        first = last + 1;
    }
    return rank;
}

/*
 * Whether the characters first..last of sorted sort after their lower neighbour and before
 * their upper one whatever follows them.
 */
bool CollationRanks::holdsItsPlace(const QCollator &collator, const std::vector<char32_t> &sorted, size_t first,
                                   size_t last, const QString &lowest, const QString &highest)
{
    for (size_t i = first; i <= last; ++i) {
        const QString c = textOf(sorted[i]);
        if (first > 0 && collator.compare(c + lowest, textOf(sorted[first - 1]) + highest) <= 0)
            return false;
        if (last + 1 < sorted.size() && collator.compare(c + highest, textOf(sorted[last + 1]) + lowest) >= 0)
            return false;
    }
    return true;
}

/* Whether every printable ASCII character has a rank: one that the collator skips would break the order. */
bool CollationRanks::asciiCounts(const QCollator &collator) const
{
    for (char32_t c = kFirstPrintable; c <= kLastPrintable; ++c) {
        if (byteOf(c) == 0 || collator.compare(u"a"_qs + textOf(c), u"a"_qs) <= 0)
            return false;
    }
    return true;
}

/* Whether the collator orders these strings exactly as their ranks do, one character at a time. */
bool CollationRanks::agreesOn(const QCollator &collator, std::vector<QString> strings) const
{
    auto ranksLess = [&](const QString &a, const QString &b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](QChar x, QChar y) {
            return byteOf(x.unicode()) < byteOf(y.unicode());
        });
    };
    std::stable_sort(strings.begin(), strings.end(), ranksLess);
    // In a total order it is enough that every neighbour compares as the ranks say.
    for (size_t i = 1; i < strings.size(); ++i) {
        const int expected = ranksLess(strings[i - 1], strings[i]) ? -1 : 0;
        const int actual = collator.compare(strings[i - 1], strings[i]);
        if ((actual < 0 ? -1 : actual > 0 ? 1 : 0) != expected)
            return false;
    }
    return true;
}

bool CollationRanks::checkStrings(const QCollator &collator) const
{
    std::vector<QString> pairs;
    pairs.reserve(kPrintableCount * kPrintableCount);
    for (char16_t a = kFirstPrintable; a <= kLastPrintable; ++a) {
        for (char16_t b = kFirstPrintable; b <= kLastPrintable; ++b)
            pairs.push_back(QString(QChar(a)) + QChar(b));
    }
    std::vector<QString> triples;
    triples.reserve(26 * 26 * 26);
    for (char16_t a = u'a'; a <= u'z'; ++a) {
        for (char16_t b = u'a'; b <= u'z'; ++b) {
            for (char16_t c = u'a'; c <= u'z'; ++c)
                triples.push_back(QString(QChar(a)) + QChar(b) + QChar(c));
        }
    }
    return agreesOn(collator, std::move(pairs)) && agreesOn(collator, std::move(triples));
}
