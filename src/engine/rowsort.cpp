#include "engine/rowsort.h"

#include "engine/helperthread.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace {

/* The printable ASCII characters, space to tilde: the ones that rows are mostly made of. */
constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kLastPrintable = 0x7E;
constexpr int kPrintableCount = kLastPrintable - kFirstPrintable + 1;

bool isPrintableAscii(char16_t c)
{
    return c >= kFirstPrintable && c <= kLastPrintable;
}

/* The first index from `from` on where a and b differ, or size when they agree up to there. */
qsizetype firstDifference(const char16_t *a, const char16_t *b, qsizetype from, qsizetype size)
{
    qsizetype i = from;
    // Four units at a time: rows that share a long prefix are common (the same name on many cards).
    for (; i + 4 <= size; i += 4) {
        quint64 x;
        quint64 y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        if (x != y)
            break;
    }
    while (i < size && a[i] == b[i])
        ++i;
    return i;
}

/*
 * The collator's order of the printable ASCII characters, read from the collator itself:
 * one rank per character, the same for characters that compare equal ignoring case.
 *
 * It is used only when the collator orders strings of these characters one character after
 * the other by these ranks, with no character ignored and none joined to its neighbours (as
 * a contraction like Czech "ch" would be). That is checked on every string of two printable
 * characters and every string of three letters; a locale that fails it is sorted by the
 * collator alone.
 */
class AsciiRanks
{
public:
    explicit AsciiRanks(const QCollator &collator) { m_valid = readRanks(collator) && checkStrings(collator); }

    bool isValid() const { return m_valid; }
    quint8 rank(char16_t c) const { return m_ranks[size_t(c - kFirstPrintable)]; }

private:
    bool readRanks(const QCollator &collator)
    {
        std::vector<QString> characters;
        for (char16_t c = kFirstPrintable; c <= kLastPrintable; ++c)
            characters.push_back(QString(QChar(c)));
        std::stable_sort(characters.begin(), characters.end(),
                         [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
        quint8 rank = 0;
        for (size_t i = 0; i < characters.size(); ++i) {
            if (i > 0 && collator.compare(characters[i - 1], characters[i]) != 0)
                ++rank;
            m_ranks[size_t(characters[i][0].unicode() - kFirstPrintable)] = rank;
            // Every character must count: one that the collator skips would break the order.
            if (collator.compare(QStringLiteral("a") + characters[i], QStringLiteral("a")) <= 0)
                return false;
        }
        return true;
    }

    /* Whether the collator orders these strings exactly as their ranks do, one character at a time. */
    bool agreesOn(const QCollator &collator, std::vector<QString> strings) const
    {
        auto ranksLess = [&](const QString &a, const QString &b) {
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](QChar x, QChar y) {
                return rank(x.unicode()) < rank(y.unicode());
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

    bool checkStrings(const QCollator &collator) const
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

    std::array<quint8, kPrintableCount> m_ranks{};
    bool m_valid = false;
};

/*
 * Compares rows by the user's locale collation, ignoring letter case. One per thread: a
 * collator is not shared between threads.
 *
 * Most comparisons are decided without the collator: the rows are compared unit by unit up
 * to their first difference, and when that difference and its neighbours are printable ASCII,
 * the ranks decide exactly as the collator would. Anything else goes to the collator.
 */
class RowOrder
{
public:
    explicit RowOrder(std::shared_ptr<const AsciiRanks> ranks)
        : m_collator(QLocale())
        , m_plain(isPlainLocale())
        , m_ranks(std::move(ranks))
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    int compare(QStringView a, QStringView b) const
    {
        // The C locale has no collation of its own: case-folded code points.
        return m_plain ? comparePlain(a, b) : compareCollated(a, b);
    }

    static bool isPlainLocale() { return QLocale().language() == QLocale::C; }

    static std::shared_ptr<const AsciiRanks> ranksForLocale()
    {
        if (isPlainLocale())
            return nullptr;
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        auto ranks = std::make_shared<const AsciiRanks>(collator);
        return ranks->isValid() ? ranks : nullptr;
    }

private:
    static char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c; }

    /* QString::compare ignoring case, with the common ASCII differences decided here. */
    static int comparePlain(QStringView a, QStringView b)
    {
        const char16_t *pa = a.utf16();
        const char16_t *pb = b.utf16();
        const qsizetype size = std::min(a.size(), b.size());
        for (qsizetype i = firstDifference(pa, pb, 0, size); i < size; i = firstDifference(pa, pb, i + 1, size)) {
            if (pa[i] >= 0x80 || pb[i] >= 0x80)
                return a.compare(b, Qt::CaseInsensitive);
            const int difference = int(asciiLower(pa[i])) - int(asciiLower(pb[i]));
            if (difference != 0)
                return difference;
        }
        return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
    }

    int compareCollated(QStringView a, QStringView b) const
    {
        if (!m_ranks || a.isEmpty() || b.isEmpty())
            return m_collator.compare(a, b);
        const char16_t *pa = a.utf16();
        const char16_t *pb = b.utf16();
        const qsizetype size = std::min(a.size(), b.size());
        for (qsizetype i = firstDifference(pa, pb, 0, size); i < size; i = firstDifference(pa, pb, i + 1, size)) {
            if (!isPrintableAscii(pa[i]) || !isPrintableAscii(pb[i]))
                return m_collator.compare(a, b);
            const int difference = int(m_ranks->rank(pa[i])) - int(m_ranks->rank(pb[i]));
            if (difference == 0)
                continue; // the same letter in another case
            // The ranks decide only where no other character can join in: the characters just
            // before and after the difference are printable ASCII too (a combining accent after
            // it, say, could change its place).
            if (standsAlone(a, i) && standsAlone(b, i))
                return difference;
            return m_collator.compare(a, b);
        }
        if (a.size() == b.size())
            return 0;
        // One row is the other and more: the longer comes later, as long as what follows is a
        // character that counts and cannot join the one before it.
        const QStringView longer = a.size() > b.size() ? a : b;
        if (isPrintableAscii(longer[size].unicode()) && (size == 0 || isPrintableAscii(longer[size - 1].unicode())))
            return a.size() < b.size() ? -1 : 1;
        return m_collator.compare(a, b);
    }

    /* Whether the characters around index i of text are printable ASCII (or none). */
    static bool standsAlone(QStringView text, qsizetype i)
    {
        return (i == 0 || isPrintableAscii(text[i - 1].unicode()))
               && (i + 1 == text.size() || isPrintableAscii(text[i + 1].unicode()));
    }

    QCollator m_collator;
    bool m_plain;
    std::shared_ptr<const AsciiRanks> m_ranks;
};

/*
 * A row's place in the sort: its index and its first characters as bytes that order as the
 * row does, so that most comparisons read neither the row's text (scattered over memory) nor
 * the collator.
 */
struct SortEntry {
    quint64 head[2] = {0, 0}; // big-endian; byte i is character i's rank plus one, 0 past the known part
    QStringView row;          // read only when the heads cannot tell
    quint32 index = 0;
    quint8 known = 0;      // how many leading bytes of head are known
    bool complete = false; // the whole row is in head: the 0 after its known bytes is its end
};

constexpr int kHeadBytes = 16;

/*
 * Compares two heads: negative or positive when they decide, 0 when only the rows can tell.
 * A difference decides where both heads know their byte; a row's end counts as a byte below
 * every character.
 */
int compareHeads(const SortEntry &a, const SortEntry &b)
{
    int word = 0;
    if (a.head[0] == b.head[0]) {
        if (a.head[1] == b.head[1])
            return 0;
        word = 1;
    }
    const quint64 x = a.head[word];
    const quint64 y = b.head[word];
    const int at = word * 8 + std::countl_zero(x ^ y) / 8;
    if (at >= a.known + int(a.complete) || at >= b.known + int(b.complete))
        return 0;
    return x < y ? -1 : 1;
}

/*
 * Makes the head of a row. For a collated locale, character i is known when it and its
 * neighbours are printable ASCII, as RowOrder decides with the ranks; in the C locale every
 * ASCII character is known, case-folded.
 */
SortEntry makeEntry(const QString &row, quint32 index, const AsciiRanks *ranks, bool plain)
{
    SortEntry entry;
    entry.row = row;
    entry.index = index;
    if (!ranks && !plain)
        return entry;
    const auto *text = reinterpret_cast<const char16_t *>(row.constData());
    const qsizetype size = row.size();
    const qsizetype scan = std::min<qsizetype>(size, kHeadBytes + 1);
    qsizetype fast = 0; // leading characters that the ranks (or the folding) know
    while (fast < scan && (plain ? text[fast] < 0x80 : isPrintableAscii(text[fast])))
        ++fast;
    qsizetype known = fast;
    if (!plain && fast < size)
        known = std::max<qsizetype>(fast - 1, 0); // the character before an unknown one may join it
    known = std::min<qsizetype>(known, kHeadBytes);
    entry.known = quint8(known);
    entry.complete = known == size;
    for (qsizetype i = 0; i < known; ++i) {
        const char16_t c = text[i];
        const quint64 byte = plain ? (c >= u'A' && c <= u'Z' ? c + 0x20 : c) + 1 : ranks->rank(c) + 1;
        entry.head[i / 8] |= byte << (56 - 8 * (i % 8));
    }
    return entry;
}

/* Orders entries as their rows, rows that compare equal by their index: a stable order. */
class EntryOrder
{
public:
    explicit EntryOrder(std::shared_ptr<const AsciiRanks> ranks)
        : m_order(std::move(ranks))
    {
    }

    bool operator()(const SortEntry &a, const SortEntry &b) const
    {
        int result = compareHeads(a, b);
        if (result == 0)
            result = m_order.compare(a.row, b.row);
        return result != 0 ? result < 0 : a.index < b.index;
    }

private:
    RowOrder m_order;
};

void makeEntries(const QStringList &rows, SortEntry *entries, qsizetype from, qsizetype to, const AsciiRanks *ranks,
                 bool plain)
{
    for (qsizetype i = from; i < to; ++i)
        entries[i] = makeEntry(rows.at(i), quint32(i), ranks, plain);
}

void sortRowsIgnoringCase(QStringList &rows)
{
    const qsizetype count = rows.size();
    if (count < 2)
        return;
    // Reading the ranks takes a few milliseconds: worth it only for many rows.
    constexpr qsizetype kRowsWorthRanks = 5000;
    const std::shared_ptr<const AsciiRanks> ranks = count >= kRowsWorthRanks ? RowOrder::ranksForLocale() : nullptr;
    const bool plain = RowOrder::isPlainLocale();
    std::vector<SortEntry> entries(static_cast<size_t>(count));
    SortEntry *const data = entries.data();
    if (count < 20000) {
        makeEntries(rows, data, 0, count, ranks.get(), plain);
        std::sort(data, data + count, EntryOrder(ranks));
    } else {
        // Two halves on two threads, then one merge; the index breaks ties, so the result is
        // the stable order whichever half a row was in.
        const qsizetype half = count / 2;
        HelperThread helper([&] {
            makeEntries(rows, data, half, count, ranks.get(), plain);
            std::sort(data + half, data + count, EntryOrder(ranks));
        });
        makeEntries(rows, data, 0, half, ranks.get(), plain);
        std::sort(data, data + half, EntryOrder(ranks));
        helper.join();
        std::inplace_merge(data, data + half, data + count, EntryOrder(ranks));
    }
    QStringList sorted;
    sorted.reserve(count);
    for (const SortEntry &entry : entries)
        sorted.append(std::move(rows[entry.index]));
    rows = std::move(sorted);
}

} // namespace

void finishRows(QStringList &rows, bool headers, bool sort, const QString &headerRow)
{
    if (sort)
        sortRowsIgnoringCase(rows);
    if (headers)
        rows.prepend(headerRow);
}
