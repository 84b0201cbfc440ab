#include "engine/cardscanner.h"

#include "text/helperthread.h"

#include "engine/valuedecoding.h"
#include "text/textformat.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace {

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - ('a' - 'A')) : c;
}

/* Whether text equals pattern (upper case) once its ASCII letters are upper-cased. */
bool equalsUpper(QByteArrayView text, QByteArrayView pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (asciiUpper(text[i]) != pattern[i])
            return false;
    }
    return true;
}

/* Whether the upper-cased text holds "URL:" or "URL;": one pass that stops at each "L". */
bool containsUrlMarker(QByteArrayView text)
{
    const char *const begin = text.data();
    for (qsizetype i = 2; i + 1 < text.size(); ++i) {
        if ((begin[i] | 0x20) != 'l' || (begin[i + 1] != ':' && begin[i + 1] != ';'))
            continue;
        if (asciiUpper(begin[i - 2]) == 'U' && asciiUpper(begin[i - 1]) == 'R' && asciiUpper(begin[i]) == 'L')
            return true;
    }
    return false;
}

bool isBlank(QByteArrayView line)
{
    return trimControlAndBlank(line).isEmpty();
}

/* A folded line: it starts with a space or a tab and holds more than white space. */
bool isFoldedContinuation(QByteArrayView line)
{
    return !line.isEmpty() && (line.front() == ' ' || line.front() == '\t') && !isBlank(line);
}

/*
 * Whether a property name, upper-cased, declares a quoted-printable value: one of its
 * parameters (after the first ";") is ENCODING=QUOTED-PRINTABLE or the bare QUOTED-PRINTABLE.
 */
bool declaresQuotedPrintable(QByteArrayView upperName)
{
    for (qsizetype start = upperName.indexOf(';'); start >= 0;) {
        const qsizetype end = upperName.indexOf(';', start + 1);
        const QByteArrayView parameter = upperName.sliced(start + 1, (end < 0 ? upperName.size() : end) - start - 1);
        if (parameter == "QUOTED-PRINTABLE" || parameter == "ENCODING=QUOTED-PRINTABLE")
            return true;
        start = end;
    }
    return false;
}

/* Whether the text before the first colon of line declares a quoted-printable value. */
bool declaresQuotedPrintableBefore(QByteArrayView line, qsizetype colon)
{
    QByteArray upper(colon, Qt::Uninitialized);
    for (qsizetype i = 0; i < colon; ++i)
        upper[i] = asciiUpper(line[i]);
    return declaresQuotedPrintable(upper);
}

/*
 * Reads logical lines: a physical line together with the folded lines that continue it.
 * Nothing is unfolded after a soft line break, a line ending in "=" that belongs to a declared
 * quoted-printable value (its property line or one of its continuation lines): a blank that
 * follows it belongs to the value. After any other line, a folded line is an ordinary fold.
 */
class LogicalLines
{
public:
    explicit LogicalLines(const TextLines &lines)
        : m_lines(lines)
    {
    }

    /*
     * The logical line that starts at physical line first; next is set to the line after it.
     * continuesValue tells that the line is a continuation line of a declared value.
     */
    QByteArrayView read(qsizetype first, qsizetype &next, QByteArray &storage, bool continuesValue) const
    {
        const QByteArrayView line = m_lines.utf8At(first);
        next = first + 1;
        if (next >= m_lines.size() || !isFoldedContinuation(m_lines.utf8At(next)))
            return line;
        // The colon and the declaration are looked for once, not again for every fold.
        qsizetype colon = line.indexOf(':');
        bool declared = continuesValue || (colon >= 0 && declaresQuotedPrintableBefore(line, colon));
        if (declared && line.endsWith('='))
            return line;
        storage = line.toByteArray();
        while (next < m_lines.size()) {
            const QByteArrayView fold = m_lines.utf8At(next);
            if (!isFoldedContinuation(fold))
                break;
            const qsizetype appendedAt = storage.size();
            storage.append(fold.sliced(1));
            ++next;
            if (colon < 0) {
                const qsizetype found = QByteArrayView(storage).sliced(appendedAt).indexOf(':');
                if (found >= 0) {
                    colon = appendedAt + found;
                    declared = continuesValue || declaresQuotedPrintableBefore(storage, colon);
                }
            }
            if (declared && storage.endsWith('='))
                break;
        }
        return storage;
    }

    /* Whether the physical line was blank as loaded (it stops a continuation join). */
    bool isBlankAsLoaded(qsizetype line) const { return isBlank(m_lines.utf8At(line)); }
    qsizetype size() const { return m_lines.size(); }

private:
    const TextLines &m_lines;
};

/*
 * The continuation lines of a declared quoted-printable value, found once and decoded once:
 * each piece is one logical line without its soft line break. Every value that takes these
 * lines (the property line's, and that of any declared property among the continuation lines
 * themselves) is its own line followed by a suffix of the pieces, so it shares their bytes.
 */
struct ContinuationRun {
    std::vector<qsizetype> pieceLines;  // the physical line where each piece starts
    std::vector<qsizetype> pieceStarts; // where each piece's decoded bytes start in bytes
    QByteArray bytes;

    /*
     * Reads the pieces that start at physical line first; carry is the escape that the value's
     * own line cut off (cutEscapeLength), which goes in front of the first piece.
     */
    static std::shared_ptr<const ContinuationRun> find(const LogicalLines &logical, qsizetype first, QByteArray carry)
    {
        auto run = std::make_shared<ContinuationRun>();
        QByteArray storage;
        QByteArray joined;
        qsizetype line = first;
        for (;;) {
            qsizetype after;
            const QByteArrayView piece = logical.read(line, after, storage, true);
            const bool softBreak = piece.endsWith('=');
            const bool last = !softBreak || after >= logical.size() || logical.isBlankAsLoaded(after);
            run->pieceLines.push_back(line);
            run->pieceStarts.push_back(run->bytes.size());
            // A soft line break goes with its "=": the next line's first characters stay text,
            // unless an escape that this line cut off goes on there. The last piece keeps a
            // trailing "=" (no line follows it), which the decoding drops.
            QByteArrayView text = softBreak && !last ? piece.chopped(1) : piece;
            if (!carry.isEmpty()) {
                joined = carry;
                joined.append(text);
                text = joined;
            }
            const qsizetype cut = last ? 0 : cutEscapeLength(text);
            carry = text.last(cut).toByteArray();
            run->bytes.append(decodeQuotedPrintableLine(text.chopped(cut), last));
            line = after;
            if (last)
                break;
        }
        return run;
    }
};

/*
 * A value that took continuation lines, not decoded yet: its own line's decoded bytes and the
 * pieces from firstPiece on. Only the values that a card keeps are ever read out, so a long run
 * of declared lines, each taking the rest of the run, costs the run once, not once per line.
 */
struct JoinedValue {
    QByteArray head;
    std::shared_ptr<const ContinuationRun> run;
    qsizetype firstPiece = 0;

    bool isEmpty() const
    {
        return head.isEmpty()
               && (firstPiece >= qsizetype(run->pieceStarts.size())
                   || run->pieceStarts[size_t(firstPiece)] == run->bytes.size());
    }

    void decodeInto(QByteArray &out, QByteArrayView delimiter) const
    {
        QByteArray bytes = head;
        if (firstPiece < qsizetype(run->pieceStarts.size()))
            bytes.append(QByteArrayView(run->bytes).sliced(run->pieceStarts[size_t(firstPiece)]));
        finishDecodedValueUtf8(bytes, delimiter, out);
    }
};

enum class Target {
    None,
    Begin,
    End,
    FormattedName,
    StructuredName,
    Email,
    Url,
    Note,
    Organization,
    Revision,
    Address,
    Phone,
};

// The words that a property name is recognised by, as flags.
constexpr unsigned kEmail = 1;
constexpr unsigned kNote = 2;
constexpr unsigned kOrganization = 4;
constexpr unsigned kRevision = 8;
constexpr unsigned kAddress = 16;
constexpr unsigned kAppleAddress = 32; // X-ABADR, which is not an address
constexpr unsigned kPhone = 64;

struct NameWord {
    std::string_view word;
    unsigned flag;
};
constexpr NameWord kNameWords[] = {
    {"EMAIL", kEmail},          {"NOTE", kNote}, {"ORG", kOrganization}, {"REV", kRevision}, {"ADR", kAddress},
    {"X-ABADR", kAppleAddress}, {"TEL", kPhone},
};

/* For each byte, the words (as bits of their index in kNameWords) that start with it. */
constexpr std::array<unsigned char, 256> kWordsStartingWith = [] {
    static_assert(std::size(kNameWords) <= 8, "one bit a word");
    std::array<unsigned char, 256> table{};
    for (size_t w = 0; w < std::size(kNameWords); ++w)
        table[static_cast<unsigned char>(kNameWords[w].word[0])] |= static_cast<unsigned char>(1u << w);
    return table;
}();

/* Whether text holds word at position at; an inline loop, as the words are a few letters long. */
bool holdsWordAt(std::string_view text, size_t at, std::string_view word)
{
    if (text.size() - at < word.size())
        return false;
    for (size_t k = 1; k < word.size(); ++k) {
        if (text[at + k] != word[k])
            return false;
    }
    return true;
}

/*
 * Which of the words the upper-cased name holds, anywhere in it: one pass over its letters,
 * trying at each only the words that start with that letter.
 */
unsigned namePatterns(std::string_view name)
{
    unsigned found = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        for (unsigned words = kWordsStartingWith[static_cast<unsigned char>(name[i])]; words != 0; words &= words - 1) {
            const NameWord &word = kNameWords[std::countr_zero(words)];
            if (holdsWordAt(name, i, word.word))
                found |= word.flag;
        }
    }
    return found;
}

/* The property name without its group prefix ("ITEM1.FN" gives "FN"); a group is letters, digits and "-". */
std::string_view propertyWithoutGroup(std::string_view name)
{
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0)
        return name;
    for (size_t i = 0; i < dot; ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
            return name;
    }
    return name.substr(dot + 1);
}

/*
 * Decides which rule a line matches; the first rule that matches wins. colon is where the
 * line's first ":" is (-1 when none); upperName gets the upper-cased text before it.
 */
Target classify(QByteArrayView line, qsizetype colon, std::string &upperName)
{
    if (line.size() == 11 && equalsUpper(line, "BEGIN:VCARD"))
        return Target::Begin;

    upperName.resize(size_t(colon < 0 ? 0 : colon));
    std::transform(line.begin(), line.begin() + qsizetype(upperName.size()), upperName.begin(), asciiUpper);
    const std::string_view name(upperName);

    // FN and N are recognised with any parameters and group prefix, but not inside other names.
    const std::string_view property = propertyWithoutGroup(name.substr(0, name.find(';')));
    if (property == "FN")
        return Target::FormattedName;
    if (property == "N")
        return Target::StructuredName;
    const unsigned patterns = namePatterns(name);
    if (patterns & kEmail)
        return Target::Email;
    if (containsUrlMarker(line))
        return Target::Url;
    if (patterns & kNote)
        return Target::Note;
    if (patterns & kOrganization)
        return Target::Organization;
    if (patterns & kRevision)
        return Target::Revision;
    if (patterns & kAddress)
        return (patterns & kAppleAddress) ? Target::None : Target::Address;
    if (patterns & kPhone)
        return Target::Phone;
    if (line.size() == 9 && equalsUpper(line, "END:VCARD"))
        return Target::End;
    return Target::None;
}

/*
 * The card being collected, as UTF-8. A value that took continuation lines waits undecoded in
 * joined until the card is finished, as a later line may still replace it. The buffers are
 * reused from card to card, so that collecting a card allocates nothing.
 */
struct WorkingCard {
    std::array<QByteArray, kContactColumnCount> fields;
    std::array<std::optional<JoinedValue>, kContactColumnCount> joined;

    bool isFree(size_t column) const { return fields[column].isEmpty() && !joined[column]; }

    void reset()
    {
        for (QByteArray &field : fields) {
            if (!field.isEmpty())
                field.resize(0); // keeps the buffer
        }
        for (std::optional<JoinedValue> &value : joined)
            value.reset();
    }

    /* Takes value's bytes; value gets this field's old buffer for reuse. */
    void set(size_t column, QByteArray &value)
    {
        fields[column].swap(value);
        joined[column].reset();
    }

    void set(size_t column, JoinedValue &value)
    {
        fields[column].resize(0);
        joined[column] = std::move(value);
    }
};

/* Whether a value leaves a multi-slot field's slot free (an empty one does). */
bool isEmptyValue(const QByteArray &value)
{
    return value.isEmpty();
}

bool isEmptyValue(const JoinedValue &value)
{
    return value.isEmpty();
}

/* Stores a value in the first empty slot of a multi-slot field; a full field drops it. */
template<typename Value>
void fillFirstFree(WorkingCard &card, ContactColumn first, int slotCount, Value &value)
{
    if (isEmptyValue(value))
        return; // an empty value in the first free slot leaves it free
    for (int k = 0; k < slotCount; ++k) {
        const size_t slot = size_t(int(first) + k);
        if (card.isFree(slot)) {
            card.set(slot, value);
            return;
        }
    }
}

/* Stores a value (taking its bytes) in the target's field. */
template<typename Value>
void storeField(WorkingCard &card, Target target, Value &value)
{
    auto set = [&](ContactColumn column) { card.set(size_t(column), value); };
    switch (target) {
    case Target::FormattedName:
        return set(ContactColumn::FormattedName);
    case Target::StructuredName:
        return set(ContactColumn::StructuredName);
    case Target::Email:
        return fillFirstFree(card, ContactColumn::Email1, 5, value);
    case Target::Url:
        return set(ContactColumn::Url);
    case Target::Note:
        return set(ContactColumn::Note);
    case Target::Organization:
        return set(ContactColumn::Organization);
    case Target::Revision:
        return set(ContactColumn::Revision);
    case Target::Address:
        return set(ContactColumn::Address);
    case Target::Phone:
        return fillFirstFree(card, ContactColumn::Phone1, 3, value);
    case Target::None:
    case Target::Begin:
    case Target::End:
        break;
    }
}

/* trimControlAndBlank in place, keeping the field's buffer. */
void trimControlAndBlankInPlace(QByteArray &field)
{
    const QByteArrayView trimmed = trimControlAndBlank(QByteArrayView(field));
    const qsizetype begin = trimmed.data() - field.constData();
    if (begin + trimmed.size() < field.size())
        field.truncate(begin + trimmed.size());
    if (begin > 0)
        field.remove(0, begin);
}

/*
 * Appends the finished card to cards. The working card keeps its fields trimmed but not
 * normalised: a card without "BEGIN:VCARD" after it carries that text on.
 */
void finishCard(WorkingCard &working, QByteArrayView delimiter, CardList &cards,
                std::array<QByteArray, kContactColumnCount> &normalized)
{
    ContactFieldsUtf8 views;
    for (int i = 0; i < kContactColumnCount; ++i) {
        QByteArray &field = working.fields[size_t(i)];
        if (std::optional<JoinedValue> &joined = working.joined[size_t(i)]) {
            // Decoded once, into the field's own buffer.
            joined->decodeInto(field, delimiter);
            joined.reset();
        }
        if (field.isEmpty()) {
            views[size_t(i)] = QByteArrayView();
            continue;
        }
        QByteArray &out = normalized[size_t(i)];
        trimControlAndBlankInPlace(field);
        normalizeFieldUtf8(field, out);
        views[size_t(i)] = out;
    }
    cards.append(views);
}

/* Scans the logical lines that start in [from, to); joins may read on past to. */
CardList scanRange(const TextLines &lines, qsizetype from, qsizetype to, QChar delimiterChar)
{
    const QByteArray delimiter = QString(delimiterChar).toUtf8();
    CardList cards;
    WorkingCard working;
    std::array<QByteArray, kContactColumnCount> normalized;
    QByteArray value;
    const LogicalLines logical(lines);
    std::string upperName;
    QByteArray lineStorage;
    // The line at index continues a declared quoted-printable value (after a soft line break).
    bool continuesValue = false;
    // The continuation lines found last, and which of its pieces the scan reaches next.
    std::shared_ptr<const ContinuationRun> run;
    qsizetype nextPiece = 0;

    for (qsizetype index = from; index < to;) {
        qsizetype next;
        const QByteArrayView line = logical.read(index, next, lineStorage, continuesValue);
        // The scan meets the pieces of a run one by one, as logical lines read the same way.
        const bool inRun
            = run && nextPiece < qsizetype(run->pieceLines.size()) && run->pieceLines[size_t(nextPiece)] == index;
        if (inRun)
            ++nextPiece;
        const qsizetype colon = line.indexOf(':');
        const Target target = classify(line, colon, upperName);
        // (A "BEGIN:VCARD" line leaves upperName as it was: it declares nothing.)
        const bool declared = target != Target::Begin && colon >= 0
                              && declaresQuotedPrintable(QByteArrayView(upperName.data(), qsizetype(upperName.size())));
        // Whether the lines after this one continue a declared value, after a soft line break.
        const bool softBreak = (continuesValue || declared) && line.endsWith('=') && next < logical.size()
                               && !logical.isBlankAsLoaded(next);
        if (target == Target::Begin) {
            working.reset();
        } else if (target == Target::End) {
            finishCard(working, delimiter, cards, normalized);
        } else if (target != Target::None) {
            const QByteArrayView propertyValue = colon < 0 ? line : line.sliced(colon + 1);
            if (declared && softBreak) {
                // The value takes the continuation lines: the rest of the run when this line
                // is one of its pieces, else the lines that start here, found once.
                // An escape cut off at the end of this line goes in front of the next one: the
                // run takes it when it starts here, and already holds it when this is a piece.
                const QByteArrayView head = propertyValue.chopped(1);
                const qsizetype cut = cutEscapeLength(head);
                if (!inRun) {
                    run = ContinuationRun::find(logical, next, head.last(cut).toByteArray());
                    nextPiece = 0;
                }
                JoinedValue joined{decodeQuotedPrintableLine(head.chopped(cut), false), run, nextPiece};
                storeField(working, target, joined);
            } else {
                decodePropertyValueUtf8(propertyValue, delimiter, declared, value);
                storeField(working, target, value);
            }
        }
        continuesValue = softBreak;
        index = next;
    }
    return cards;
}

/*
 * A place to cut the lines in two for a second thread: a "BEGIN:VCARD" line that no folded
 * line continues. The working card is empty after it whatever came before, so the two halves
 * scan to the same cards as the whole. Returns 0 when there is none.
 */
qsizetype splitPoint(const TextLines &lines)
{
    for (qsizetype i = lines.size() / 2; i + 1 < lines.size(); ++i) {
        if (equalsUpper(lines.utf8At(i), "BEGIN:VCARD") && !isFoldedContinuation(lines.utf8At(i + 1)))
            return i;
    }
    return 0;
}

} // namespace

CardList scanCards(const TextLines &lines, QChar delimiter)
{
    constexpr qsizetype kLinesWorthASecondThread = 100000;
    const qsizetype split = lines.size() >= kLinesWorthASecondThread ? splitPoint(lines) : 0;
    if (split == 0)
        return scanRange(lines, 0, lines.size(), delimiter);
    CardList secondHalf;
    // A failure of the second half (memory running out) reaches this thread through join().
    HelperThread helper([&] { secondHalf = scanRange(lines, split, lines.size(), delimiter); });
    CardList cards = scanRange(lines, 0, split, delimiter);
    helper.join();
    cards.appendList(std::move(secondHalf));
    return cards;
}
