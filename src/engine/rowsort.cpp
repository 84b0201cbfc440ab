#include "engine/rowsort.h"

#include "engine/collationranks.h"
#include "text/helperthread.h"
#include "text/utf8.h"
#include "text/workstop.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

/* For a byte of UTF-8: a printable ASCII character (never part of another character's bytes). */
bool isPrintableAscii(char c)
{
    return c >= char(CollationRanks::kFirstPrintable) && c <= char(CollationRanks::kLastPrintable);
}

bool isAscii(char c)
{
    return static_cast<unsigned char>(c) < 0x80;
}

/* The first index from `from` on where a and b differ, or size when they agree up to there. */
qsizetype firstDifference(const char *a, const char *b, qsizetype from, qsizetype size)
{
    qsizetype i = from;
    // Eight bytes at a time: rows that share a long prefix are common (the same name on many cards).
    for (; i + 8 <= size; i += 8) {
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

/* The case-folded UTF-16 units of UTF-8 text, one by one; -1 at its end. */
class FoldedUnits
{
public:
    explicit FoldedUnits(QByteArrayView text)
        : m_at(reinterpret_cast<const unsigned char *>(text.data()))
        , m_end(m_at + text.size())
    {
    }

    int next()
    {
        if (m_pendingLow != 0)
            return std::exchange(m_pendingLow, char16_t(0));
        if (m_at == m_end)
            return -1;
        const char32_t c = utf8::decode(m_at);
        // Qt folds a character outside the BMP as a whole but keeps its high surrogate.
        if (QChar::requiresSurrogates(c)) {
            m_pendingLow = QChar::lowSurrogate(QChar::toCaseFolded(c));
            return QChar::highSurrogate(c);
        }
        return int(QChar::toCaseFolded(c));
    }

private:
    const unsigned char *m_at;
    const unsigned char *m_end;
    char16_t m_pendingLow = 0;
};

/*
 * Compares rows (UTF-8) by the user's locale collation, ignoring letter case. One per thread:
 * a collator is not shared between threads.
 *
 * Most comparisons are decided without the collator: the rows are compared byte by byte up
 * to their first difference, and when that difference and its neighbours are printable ASCII,
 * the ranks decide exactly as the collator would. Anything else goes to the collator, as text.
 */
class RowOrder
{
public:
    /*
     * texts holds the rows as text, made when the collator first needs one: the rows this
     * order compares are its own while other threads sort other rows.
     */
    RowOrder(const CollationRanks *ranks, std::vector<QString> &texts)
        : m_collator(QLocale())
        , m_plain(isPlainLocale())
        , m_ranks(ranks)
        , m_texts(texts)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    /* Compares rows a and b, the rows numbered indexA and indexB. */
    int compare(QByteArrayView a, quint32 indexA, QByteArrayView b, quint32 indexB)
    {
        // The C locale has no collation of its own: case-folded code points.
        return m_plain ? comparePlain(a, b) : compareCollated(Row{a, indexA}, Row{b, indexB});
    }

    static bool isPlainLocale() { return QLocale().language() == QLocale::C; }

private:
    static char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 0x20) : c; }

    /* QString::compare ignoring case, with the common ASCII differences decided here. */
    int comparePlain(QByteArrayView a, QByteArrayView b)
    {
        const qsizetype size = std::min(a.size(), b.size());
        for (qsizetype i = firstDifference(a.data(), b.data(), 0, size); i < size;
             i = firstDifference(a.data(), b.data(), i + 1, size)) {
            if (!isAscii(a[i]) || !isAscii(b[i]))
                return compareFoldedFrom(a, b, characterStart(a, i));
            const int difference = int(asciiLower(a[i])) - int(asciiLower(b[i]));
            if (difference != 0)
                return difference;
        }
        return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
    }

    struct Row {
        QByteArrayView bytes;
        quint32 index;
    };

    int compareCollated(Row rowA, Row rowB)
    {
        const QByteArrayView a = rowA.bytes;
        const QByteArrayView b = rowB.bytes;
        if (!m_ranks || a.isEmpty() || b.isEmpty())
            return collate(rowA, rowB, 0);
        const qsizetype size = std::min(a.size(), b.size());
        for (qsizetype i = firstDifference(a.data(), b.data(), 0, size); i < size;
             i = firstDifference(a.data(), b.data(), i + 1, size)) {
            if (!isPrintableAscii(a[i]) || !isPrintableAscii(b[i]))
                return collate(rowA, rowB, i);
            const int difference = int(m_ranks->rank(a[i])) - int(m_ranks->rank(b[i]));
            if (difference == 0)
                continue; // the same letter in another case
            // The ranks decide only where no other character can join in: the characters just
            // before and after the difference are printable ASCII too (a combining accent after
            // it, say, could change its place).
            if (standsAlone(a, i) && standsAlone(b, i))
                return difference;
            return collate(rowA, rowB, i);
        }
        if (a.size() == b.size())
            return 0;
        // One row is the other and more: the longer comes later, as long as what follows is a
        // character that counts and cannot join the one before it.
        const QByteArrayView longer = a.size() > b.size() ? a : b;
        if (isPrintableAscii(longer[size]) && (size == 0 || isPrintableAscii(longer[size - 1])))
            return a.size() < b.size() ? -1 : 1;
        return collate(rowA, rowB, size - 1);
    }

    /*
     * The collator's answer for rows that agree up to byte difference. The text they share
     * is left out up to a place where two printable ASCII characters meet, which no
     * contraction or combining mark can span once the ranks are known to hold: the collator
     * orders the rest as it orders the whole rows, and it has less text to read.
     */
    int collate(Row a, Row b, qsizetype difference)
    {
        qsizetype cut = m_ranks ? difference : 0;
        while (cut > 0
               && !(isPrintableAscii(a.bytes[cut - 1]) && isPrintableAscii(a.bytes[cut])
                    && isPrintableAscii(b.bytes[cut])))
            --cut;
        const qsizetype units = utf8::utf16Length(a.bytes.first(cut)); // the same text in both rows
        return m_collator.compare(QStringView(textOf(a)).sliced(units), QStringView(textOf(b)).sliced(units));
    }

    const QString &textOf(Row row)
    {
        QString &text = m_texts[row.index];
        if (text.isNull())
            text = utf8LineText(row.bytes);
        return text;
    }

    /* The start of the UTF-8 character that byte i belongs to. */
    static qsizetype characterStart(QByteArrayView text, qsizetype i)
    {
        while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            --i;
        return i;
    }

    /*
     * QString::compare ignoring case for rows that agree before byte from (a character's
     * start): their UTF-16 units compared one by one once case-folded, as Qt folds them, read
     * straight from the UTF-8 without making text.
     */
    static int compareFoldedFrom(QByteArrayView a, QByteArrayView b, qsizetype from)
    {
        FoldedUnits x(a.sliced(from));
        FoldedUnits y(b.sliced(from));
        for (;;) {
            const int unitX = x.next();
            const int unitY = y.next();
            if (unitX != unitY || unitX < 0)
                return unitX - unitY;
        }
    }

    /* Whether the characters around byte i of text are printable ASCII (or none). */
    static bool standsAlone(QByteArrayView text, qsizetype i)
    {
        return (i == 0 || isPrintableAscii(text[i - 1])) && (i + 1 == text.size() || isPrintableAscii(text[i + 1]));
    }

    QCollator m_collator;
    bool m_plain;
    const CollationRanks *m_ranks;
    std::vector<QString> &m_texts;
};

/*
 * A row's place in the sort: its index and its first characters as bytes that order as the
 * row does, so that most comparisons read neither the row's text (scattered over memory) nor
 * the collator.
 */
struct SortEntry {
    std::array<quint64, 4> head{}; // big-endian; byte i is character i's rank plus one, 0 past the known part
    QByteArrayView row;            // read only when the heads cannot tell
    quint32 index = 0;
    quint8 known = 0;      // how many leading bytes of head are known
    bool complete = false; // the whole row is in head: the 0 after its known bytes is its end
};

// Long enough to reach past the name that many rows share, into the phone number.
constexpr int kHeadBytes = 32;

/*
 * Compares two heads: negative or positive when they decide, 0 when only the rows can tell.
 * A difference decides where both heads know their byte; a row's end counts as a byte below
 * every character.
 */
int compareHeads(const SortEntry &a, const SortEntry &b)
{
    size_t word = 0;
    while (a.head[word] == b.head[word]) {
        if (++word == a.head.size())
            return 0;
    }
    const quint64 x = a.head[word];
    const quint64 y = b.head[word];
    const int at = int(word) * 8 + std::countl_zero(x ^ y) / 8;
    if (at >= a.known + int(a.complete) || at >= b.known + int(b.complete))
        return 0;
    return x < y ? -1 : 1;
}

/*
 * The head of a row in the C locale: its case-folded UTF-16 units, an ASCII one as one byte
 * (its value plus one) and any other as 0xFF and its two bytes, an encoding whose byte order is
 * the units' order. Every character is known, however far the head reaches.
 */
void makePlainHead(QByteArrayView row, SortEntry &entry)
{
    std::array<quint8, kHeadBytes + 2> bytes{};
    int size = 0;
    FoldedUnits units(row);
    int unit = units.next();
    for (; unit >= 0 && size < kHeadBytes; unit = units.next()) {
        if (unit < 0x80) {
            bytes[size_t(size++)] = quint8(unit + 1);
        } else {
            bytes[size_t(size++)] = 0xFF;
            bytes[size_t(size++)] = quint8(unit >> 8);
            bytes[size_t(size++)] = quint8(unit & 0xFF);
        }
    }
    entry.known = quint8(std::min(size, kHeadBytes));
    entry.complete = unit < 0 && size <= kHeadBytes;
    for (int i = 0; i < entry.known; ++i)
        entry.head[size_t(i / 8)] |= quint64(bytes[size_t(i)]) << (56 - 8 * (i % 8));
}

/*
 * Makes the head of a row. For a collated locale, character i is known when it and its
 * neighbours have head bytes (as RowOrder decides with the ranks, where a character after it
 * might join it).
 */
SortEntry makeEntry(QByteArrayView row, quint32 index, const CollationRanks *ranks, bool plain)
{
    SortEntry entry;
    entry.row = row;
    entry.index = index;
    if (plain) {
        makePlainHead(row, entry);
        return entry;
    }
    if (!ranks)
        return entry;
    std::array<quint8, kHeadBytes + 1> bytes{};
    const auto *at = reinterpret_cast<const unsigned char *>(row.data());
    const auto *const end = at + row.size();
    int fast = 0; // leading characters with a head byte
    while (fast < kHeadBytes + 1 && at != end) {
        const unsigned char *const next = at;
        const quint8 byte = ranks->byteOf(utf8::decode(at));
        if (byte == 0) {
            at = next;
            break;
        }
        bytes[size_t(fast++)] = byte;
    }
    const bool whole = at == end;
    int known = whole ? fast : std::max(fast - 1, 0); // the character before an unknown one may join it
    known = std::min(known, kHeadBytes);
    entry.known = quint8(known);
    entry.complete = whole && known == fast;
    for (int i = 0; i < known; ++i)
        entry.head[size_t(i / 8)] |= quint64(bytes[size_t(i)]) << (56 - 8 * (i % 8));
    return entry;
}

/*
 * Looks at a stop request every so many calls, from inside a sort: a sort of a million rows
 * takes longer than a stop may wait.
 */
class StopCheck
{
public:
    explicit StopCheck(const std::stop_token &stop)
        : m_stop(stop)
    {
    }

    void tick()
    {
        if (--m_countdown == 0) [[unlikely]]
            checkNow();
    }

private:
    // Out of line, so that the comparator that ticks stays small enough to be inlined.
    Q_NEVER_INLINE void checkNow()
    {
        m_countdown = kCallsBetweenChecks;
        throwIfStopRequested(m_stop);
    }

    static constexpr unsigned kCallsBetweenChecks = 1u << 16;
    const std::stop_token &m_stop;
    unsigned m_countdown = kCallsBetweenChecks;
};

/* Orders entries as their rows, rows that compare equal by their index: a stable order. */
class EntryOrder
{
public:
    EntryOrder(RowOrder &order, StopCheck &stopCheck)
        : m_order(&order)
        , m_stopCheck(&stopCheck)
    {
    }

    Q_ALWAYS_INLINE bool operator()(const SortEntry &a, const SortEntry &b) const
    {
        m_stopCheck->tick();
        int result = compareHeads(a, b);
        if (result == 0)
            result = m_order->compare(a.row, a.index, b.row, b.index);
        return result != 0 ? result < 0 : a.index < b.index;
    }

private:
    RowOrder *m_order;
    StopCheck *m_stopCheck;
};

/* Makes and sorts the entries of rows [from, to) on the calling thread. */
void sortPart(const TextLines &rows, SortEntry *entries, qsizetype from, qsizetype to, const CollationRanks *ranks,
              std::vector<QString> &texts, const std::stop_token &stop)
{
    const bool plain = RowOrder::isPlainLocale();
    StopCheck stopCheck(stop);
    for (qsizetype i = from; i < to; ++i) {
        stopCheck.tick();
        entries[i] = makeEntry(rows.utf8At(i), quint32(i), ranks, plain);
    }
    RowOrder order(ranks, texts);
    std::sort(entries + from, entries + to, EntryOrder(order, stopCheck));
}

/* The ranks of the user's collation, when it has them and there are rows enough to pay for reading them. */
std::unique_ptr<const CollationRanks> ranksFor(const TextLines &rows)
{
    // Reading the ranks takes a few milliseconds: worth it only for many rows.
    constexpr qsizetype kRowsWorthRanks = 5000;
    if (rows.size() < kRowsWorthRanks || RowOrder::isPlainLocale())
        return nullptr;
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto ranks
        = std::make_unique<const CollationRanks>(collator, CollationRanks::commonIdeographs(rows, kHeadBytes + 1));
    if (!ranks->isValid())
        return nullptr;
    return ranks;
}

/*
 * The order of the rows once sorted, as row numbers.
 *
 * The rows are compared themselves rather than through the collator's sort keys
 * (QCollatorSortKey): a sort key costs the collator a pass over the whole row, and memory of
 * its own, for every row, while two rows are mostly told apart within their first characters.
 * A comparison stops at the first difference, and there the ranks read from the collator
 * decide without it in most cases; with sort keys, making them was most of the sort's work.
 * The engine benchmark measures it (bench/README.md): the sorted export runs at three quarters
 * to nine tenths of the speed of the unsorted one, and at 1.7 to 2.6 times the speed of the
 * converter from before the work on speed, whose sort compared every row with the collator.
 */
std::vector<quint32> sortedOrder(const TextLines &rows, const std::stop_token &stop)
{
    const qsizetype count = rows.size();
    const std::unique_ptr<const CollationRanks> collationRanks = ranksFor(rows);
    const CollationRanks *const ranks = collationRanks.get();
    std::vector<SortEntry> entries(static_cast<size_t>(count));
    SortEntry *const data = entries.data();
    // The rows as text, for the collator; the C locale never needs them.
    std::vector<QString> texts(static_cast<size_t>(RowOrder::isPlainLocale() ? 0 : count));
    if (count < 20000) {
        sortPart(rows, data, 0, count, ranks, texts, stop);
    } else {
        // Two halves on two threads, then one merge; the index breaks ties, so the result is
        // the stable order whichever half a row was in.
        const qsizetype half = count / 2;
        HelperThread helper([&] { sortPart(rows, data, half, count, ranks, texts, stop); });
        sortPart(rows, data, 0, half, ranks, texts, stop);
        helper.join();
        RowOrder order(ranks, texts);
        StopCheck stopCheck(stop);
        std::inplace_merge(data, data + half, data + count, EntryOrder(order, stopCheck));
    }
    std::vector<quint32> order;
    order.reserve(entries.size());
    for (const SortEntry &entry : entries)
        order.push_back(entry.index);
    return order;
}

} // namespace

FinishedRows::FinishedRows(TextLines rows, std::vector<quint32> order, bool hasHeader, const QString &header)
    : m_rows(std::move(rows))
    , m_order(std::move(order))
    , m_hasHeader(hasHeader)
    , m_header(header.toUtf8())
{
}

QByteArrayView FinishedRows::utf8At(qsizetype i) const
{
    if (m_hasHeader) {
        if (i == 0)
            return m_header;
        --i;
    }
    return m_rows.utf8At(m_order.empty() ? i : qsizetype(m_order[size_t(i)]));
}

QStringList FinishedRows::toStringList() const
{
    QStringList result;
    result.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        result.append(utf8LineText(utf8At(i)));
    return result;
}

FinishedRows finishRows(TextLines rows, bool headers, bool sort, const QString &headerRow, const std::stop_token &stop)
{
    std::vector<quint32> order = sort ? sortedOrder(rows, stop) : std::vector<quint32>();
    return FinishedRows(std::move(rows), std::move(order), headers, headerRow);
}
