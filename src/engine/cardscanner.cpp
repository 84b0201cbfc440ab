#include "engine/cardscanner.h"

#include "text/helperthread.h"

#include "engine/contactrecord.h"
#include "engine/valuedecoding.h"
#include "text/charsets.h"
#include "text/textformat.h"
#include "text/workstop.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace {

/*
 * A value at least this long is decoded and normalised in its own buffer, which the card list
 * then shares; a scratch buffer at least this large is freed once its card is finished. Shorter
 * values take buffers that are reused from card to card.
 */
constexpr qsizetype kLongValueBytes = qsizetype(1) << 20;

/* Frees a buffer that a long value left large; a small one is kept for reuse. */
void releaseIfLarge(QByteArray &buffer)
{
    if (buffer.capacity() >= kLongValueBytes)
        buffer = QByteArray();
}

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

bool isBlank(QByteArrayView line)
{
    return trimControlAndBlank(line).isEmpty();
}

/* Whether text is a group prefix: letters, digits and "-" in groups, each ended by a ".". */
bool isGroupPrefix(QByteArrayView text)
{
    if (text.isEmpty() || text.back() != '.' || text.front() == '.')
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!word && !(c == '.' && text[i - 1] != '.'))
            return false;
    }
    return true;
}

/*
 * Whether the line is marker ("BEGIN:VCARD" or "END:VCARD"), in any letter case, with white
 * space around it and a group prefix before it ("item1.BEGIN:VCARD"), which vCard allows.
 */
bool isCardMarker(QByteArrayView line, QByteArrayView marker)
{
    if (line.size() < marker.size())
        return false;
    // The common line ends with another character than a marker with a blank or two does.
    qsizetype end = line.size();
    while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= 0x20)
        --end;
    if (end < marker.size() || !equalsUpper(line.sliced(end - marker.size(), marker.size()), marker))
        return false;
    const QByteArrayView before = trimControlAndBlank(line.first(end - marker.size()));
    return before.isEmpty() || (before.end() == line.data() + end - marker.size() && isGroupPrefix(before));
}

bool isCardBoundary(QByteArrayView line)
{
    return isCardMarker(line, "BEGIN:VCARD") || isCardMarker(line, "END:VCARD");
}

/*
 * A folded line: it starts with a space or a tab and holds more than white space. It is part of
 * the line before, also when its text is "BEGIN:VCARD" or "END:VCARD": a folded value does not
 * end its card.
 */
bool isFoldedContinuation(QByteArrayView line)
{
    return !line.isEmpty() && (line.front() == ' ' || line.front() == '\t') && !isBlank(line);
}

/*
 * Where the value of a property line starts: after the first colon that does not stand inside a
 * quoted parameter value (TYPE="voice,cell:x", GEO="geo:51.5,0.1"). A quoted parameter value
 * opens with a double quote right after "=" or "," and ends at the next double quote. Without
 * such a colon (a quote left open) the first colon counts. -1 when the line has no colon.
 */
qsizetype valueColon(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return -1;
    const qsizetype semicolon = line.first(colon).indexOf(';');
    if (semicolon < 0)
        return colon; // no parameters before it
    for (qsizetype i = semicolon + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ':')
            return i;
        if (c == '"' && (line[i - 1] == '=' || line[i - 1] == ',')) {
            const qsizetype close = line.indexOf('"', i + 1);
            if (close < 0)
                return colon;
            i = close;
        }
    }
    return colon;
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
        // A folded line at the start of the next loaded file is that file's.
        const std::vector<qsizetype> &fileEnds = m_lines.fileEnds();
        const auto fileEnd = std::upper_bound(fileEnds.begin(), fileEnds.end(), first);
        const qsizetype end = fileEnd == fileEnds.end() ? m_lines.size() : *fileEnd;
        if (next >= end)
            return line;
        // The colon and the declaration are looked for once, not again for every fold.
        qsizetype colon = valueColon(line);
        bool declared = continuesValue || (colon >= 0 && declaresQuotedPrintableBefore(line, colon));
        if (declared && line.endsWith('='))
            return line;
        storage = line.toByteArray();
        while (next < end) {
            const QByteArrayView fold = m_lines.utf8At(next);
            if (!isFoldedContinuation(fold))
                break;
            const qsizetype appendedAt = storage.size();
            storage.append(fold.sliced(1));
            ++next;
            if (colon < 0 && QByteArrayView(storage).sliced(appendedAt).contains(':')) {
                colon = valueColon(storage);
                declared = continuesValue || declaresQuotedPrintableBefore(storage, colon);
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
    std::vector<qsizetype> literals; // runs of characters above ASCII written as themselves

    /*
     * Reads the pieces that start at physical line first; carry is the escape that the value's
     * own line cut off (cutEscapeLength), which goes in front of the first piece.
     */
    static std::shared_ptr<const ContinuationRun> find(const LogicalLines &logical, qsizetype first, QByteArray carry,
                                                       ValueSteps steps)
    {
        auto run = std::make_shared<ContinuationRun>();
        QByteArray storage;
        QByteArray joined;
        std::vector<qsizetype> literals;
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
            literals.clear();
            const qsizetype offset = run->bytes.size();
            run->bytes.append(decodeQuotedPrintableLine(text.chopped(cut), last, &literals, steps));
            for (const qsizetype position : literals)
                run->literals.push_back(offset + position);
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
    std::vector<qsizetype> headLiterals; // as ContinuationRun::literals, in head
    QByteArray encoding;                 // a declared character set other than UTF-8, or empty
    std::shared_ptr<const ContinuationRun> run;
    qsizetype firstPiece = 0;

    bool isEmpty() const
    {
        return head.isEmpty()
               && (firstPiece >= qsizetype(run->pieceStarts.size())
                   || run->pieceStarts[size_t(firstPiece)] == run->bytes.size());
    }

    void decodeInto(QByteArray &out, QByteArrayView delimiter, ValueSteps steps = ValueSteps::Flatten) const
    {
        QByteArray bytes = head;
        const qsizetype runStart = firstPiece < qsizetype(run->pieceStarts.size())
                                       ? run->pieceStarts[size_t(firstPiece)]
                                       : run->bytes.size();
        bytes.append(QByteArrayView(run->bytes).sliced(runStart));
        if (encoding.isEmpty()) {
            finishDecodedValueUtf8(bytes, delimiter, out, steps);
            return;
        }
        std::vector<qsizetype> literals = headLiterals;
        for (size_t k = 0; k + 1 < run->literals.size(); k += 2) {
            if (run->literals[k] >= runStart) {
                literals.push_back(run->literals[k] - runStart + head.size());
                literals.push_back(run->literals[k + 1] - runStart + head.size());
            }
        }
        finishCharsetValueUtf8(bytes, literals, encoding, delimiter, out, steps);
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

/* The properties that fill a column, by name. */
struct NamedTarget {
    std::string_view name;
    Target target;
};
constexpr NamedTarget kNamedTargets[] = {
    {"FN", Target::FormattedName},
    {"N", Target::StructuredName},
    {"EMAIL", Target::Email},
    {"URL", Target::Url},
    {"NOTE", Target::Note},
    {"ORG", Target::Organization},
    {"REV", Target::Revision},
    {"ADR", Target::Address},
    {"TEL", Target::Phone},
    // Samsung phones write their addresses under this name instead of ADR.
    {"X-SAMSUNGADR", Target::Address},
};

/* What a property of the All fields names is to a card. */
enum class AllFieldsRole : quint8 {
    Property,
    AppleLabel, // X-ABLabel: the label of the properties of its group
    AppleDate,  // X-ABDATE: kept as an anniversary when its group's label says it is one
};

/*
 * The properties that All fields keeps, by name; a messaging handle's value gets its scheme in
 * front ("aim:handle"), as IMPP writes it.
 */
struct AllFieldsName {
    std::string_view name;
    PropertyKind kind;
    AllFieldsRole role = AllFieldsRole::Property;
    std::string_view scheme = {};
};
constexpr AllFieldsName kAllFieldsNames[] = {
    {"FN", PropertyKind::FormattedName},
    {"N", PropertyKind::StructuredName},
    {"NICKNAME", PropertyKind::Nickname},
    {"ORG", PropertyKind::Organization},
    {"TITLE", PropertyKind::JobTitle},
    {"ROLE", PropertyKind::Role},
    {"TEL", PropertyKind::Phone},
    {"EMAIL", PropertyKind::Email},
    {"ADR", PropertyKind::Address},
    {"X-SAMSUNGADR", PropertyKind::Address},
    {"BDAY", PropertyKind::Birthday},
    {"ANNIVERSARY", PropertyKind::Anniversary},
    {"X-ANNIVERSARY", PropertyKind::Anniversary},
    {"X-ABDATE", PropertyKind::Anniversary, AllFieldsRole::AppleDate},
    {"URL", PropertyKind::Website},
    {"PHOTO", PropertyKind::Photo},
    {"IMPP", PropertyKind::Messaging},
    {"X-AIM", PropertyKind::Messaging, AllFieldsRole::Property, "aim"},
    {"X-ICQ", PropertyKind::Messaging, AllFieldsRole::Property, "icq"},
    {"X-JABBER", PropertyKind::Messaging, AllFieldsRole::Property, "xmpp"},
    {"X-MSN", PropertyKind::Messaging, AllFieldsRole::Property, "msnim"},
    {"X-YAHOO", PropertyKind::Messaging, AllFieldsRole::Property, "ymsgr"},
    {"X-SKYPE", PropertyKind::Messaging, AllFieldsRole::Property, "skype"},
    {"X-SKYPE-USERNAME", PropertyKind::Messaging, AllFieldsRole::Property, "skype"},
    {"X-QQ", PropertyKind::Messaging, AllFieldsRole::Property, "qq"},
    {"X-GADUGADU", PropertyKind::Messaging, AllFieldsRole::Property, "gg"},
    {"RELATED", PropertyKind::Related},
    {"X-ABRELATEDNAMES", PropertyKind::Related},
    {"CATEGORIES", PropertyKind::Categories},
    {"NOTE", PropertyKind::Note},
    {"GENDER", PropertyKind::Gender},
    {"X-GENDER", PropertyKind::Gender},
    {"REV", PropertyKind::Revision},
    {"X-PHONETIC-FIRST-NAME", PropertyKind::PhoneticFirstName},
    {"X-PHONETIC-MIDDLE-NAME", PropertyKind::PhoneticMiddleName},
    {"X-PHONETIC-LAST-NAME", PropertyKind::PhoneticLastName},
    {"X-ABLABEL", PropertyKind::Note, AllFieldsRole::AppleLabel},
};

const AllFieldsName *allFieldsName(std::string_view name)
{
    for (const AllFieldsName &entry : kAllFieldsNames) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

/*
 * The kinds that have no column of their own among the fifteen: their values are counted as left
 * out. (X-ABDATE is some date or other unless its label says more, and phonetic names belong to
 * the names that the fifteen columns hold.)
 */
bool hasNoFifteenColumn(const AllFieldsName &entry)
{
    if (entry.role != AllFieldsRole::Property)
        return false;
    switch (entry.kind) {
    case PropertyKind::Nickname:
    case PropertyKind::JobTitle:
    case PropertyKind::Role:
    case PropertyKind::Birthday:
    case PropertyKind::Anniversary:
    case PropertyKind::Photo:
    case PropertyKind::Messaging:
    case PropertyKind::Related:
    case PropertyKind::Categories:
    case PropertyKind::Gender:
        return true;
    default:
        return false;
    }
}

/* Whether a value, as written, is a web address (a photo's, rather than its inline bytes). */
bool isWebAddress(QByteArrayView value)
{
    value = trimControlAndBlank(value);
    return value.size() > 8
           && (QByteArrayView(value.first(7)).compare("http://", Qt::CaseInsensitive) == 0
               || QByteArrayView(value.first(8)).compare("https://", Qt::CaseInsensitive) == 0);
}

/*
 * A property's name as the upper-cased text before the value's colon gives it: the part before
 * the first ";", without a group prefix (up to the last ".") and without white space around it.
 */
std::string_view propertyName(std::string_view upperHead)
{
    std::string_view name = upperHead.substr(0, upperHead.find(';'));
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos)
        name.remove_prefix(dot + 1);
    while (!name.empty() && static_cast<unsigned char>(name.front()) <= 0x20)
        name.remove_prefix(1);
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= 0x20)
        name.remove_suffix(1);
    return name;
}

/*
 * Decides what a logical line does. colon is where its value starts (valueColon, -1 when none);
 * upperHead gets the upper-cased text before it. A property whose value is "BEGIN:VCARD" (an
 * AGENT's card, as vCard 2.1 writes it) begins a card like the line itself.
 */
Target classify(QByteArrayView line, qsizetype colon, std::string &upperHead, std::string_view &name)
{
    name = {};
    if (isCardMarker(line, "BEGIN:VCARD"))
        return Target::Begin;
    if (isCardMarker(line, "END:VCARD"))
        return Target::End;
    upperHead.resize(size_t(colon < 0 ? 0 : colon));
    if (colon < 0)
        return Target::None;
    std::transform(line.begin(), line.begin() + colon, upperHead.begin(), asciiUpper);
    if (isCardMarker(line.sliced(colon + 1), "BEGIN:VCARD"))
        return Target::Begin;
    name = propertyName(upperHead);
    for (const NamedTarget &named : kNamedTargets) {
        if (named.name == name)
            return named.target;
    }
    return Target::None;
}

/*
 * The character set that a property's upper-cased parameters declare in their first CHARSET
 * parameter, when the platform reads it and it is not UTF-8; else empty.
 */
QByteArray declaredOtherCharset(std::string_view upperHead)
{
    for (size_t start = upperHead.find(';'); start != std::string_view::npos;) {
        const size_t end = upperHead.find(';', start + 1);
        std::string_view parameter = upperHead.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        if (parameter.starts_with("CHARSET=")) {
            parameter.remove_prefix(8);
            if (parameter.size() >= 2 && parameter.front() == '"' && parameter.back() == '"')
                parameter = parameter.substr(1, parameter.size() - 2);
            const QByteArrayView label(parameter.data(), qsizetype(parameter.size()));
            return isOtherKnownEncoding(label) ? encodingForLabel(label) : QByteArray();
        }
        start = end;
    }
    return QByteArray();
}

/*
 * The card being collected, as UTF-8. A value that took continuation lines waits undecoded in
 * joined until the card is finished, as a later line may still replace it. The buffers are
 * reused from card to card, so that collecting a card allocates nothing.
 */
/* A property that All fields keeps, waiting in its card for the labels of its group. */
struct PendingProperty {
    PropertyKind kind;
    AllFieldsRole role;
    quint8 typeFlags;
    qsizetype groupStart; // the group and the value lie in WorkingCard::pendingBytes
    qsizetype groupSize;
    qsizetype valueStart;
    qsizetype valueSize;
};

struct WorkingCard {
    std::array<QByteArray, kContactColumnCount> fields;
    std::array<std::optional<JoinedValue>, kContactColumnCount> joined;
    // All fields: the card's properties so far, their groups and values one after another.
    std::vector<PendingProperty> pending;
    QByteArray pendingBytes;

    bool isFree(size_t column) const { return fields[column].isEmpty() && !joined[column]; }

    void reset()
    {
        for (QByteArray &field : fields) {
            releaseIfLarge(field);
            if (!field.isEmpty())
                field.resize(0); // keeps the buffer
        }
        for (std::optional<JoinedValue> &value : joined)
            value.reset();
        clearPending();
    }

    void clearPending()
    {
        pending.clear();
        releaseIfLarge(pendingBytes);
        pendingBytes.resize(0);
    }

    QByteArrayView pendingGroup(const PendingProperty &property) const
    {
        return QByteArrayView(pendingBytes).sliced(property.groupStart, property.groupSize);
    }

    QByteArrayView pendingValue(const PendingProperty &property) const
    {
        return QByteArrayView(pendingBytes).sliced(property.valueStart, property.valueSize);
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

/* Whether a value holds more than white space (a joined one is taken to). */
bool holdsText(const QByteArray &value)
{
    return !trimControlAndBlank(QByteArrayView(value)).isEmpty();
}

bool holdsText(const JoinedValue &value)
{
    return !value.isEmpty();
}

/*
 * Stores a value in the first empty slot of a multi-slot field; a full field drops it, and
 * counts it in leftOut as a value of kind.
 */
template<typename Value>
void fillFirstFree(WorkingCard &card, ContactColumn first, int slotCount, Value &value, PropertyKind kind,
                   LeftOutValues &leftOut)
{
    if (isEmptyValue(value))
        return; // an empty value in the first free slot leaves it free
    for (int k = 0; k < slotCount; ++k) {
        const size_t slot = size_t(first) + size_t(k);
        if (card.isFree(slot)) {
            card.set(slot, value);
            return;
        }
    }
    if (holdsText(value))
        leftOut.add(kind);
}

/*
 * Stores a value (taking its bytes) in the target's field. A second address, web page or note
 * replaces the first, which leftOut counts as a value left out.
 */
template<typename Value>
void storeField(WorkingCard &card, Target target, Value &value, LeftOutValues &leftOut)
{
    auto set = [&](ContactColumn column) { card.set(size_t(column), value); };
    auto replace = [&](ContactColumn column, PropertyKind kind) {
        if (!card.isFree(size_t(column)) && holdsText(value))
            leftOut.add(kind);
        card.set(size_t(column), value);
    };
    switch (target) {
    case Target::FormattedName:
        return set(ContactColumn::FormattedName);
    case Target::StructuredName:
        return set(ContactColumn::StructuredName);
    case Target::Email:
        return fillFirstFree(card, ContactColumn::Email1, 5, value, PropertyKind::Email, leftOut);
    case Target::Url:
        return replace(ContactColumn::Url, PropertyKind::Website);
    case Target::Note:
        return replace(ContactColumn::Note, PropertyKind::Note);
    case Target::Organization:
        return set(ContactColumn::Organization);
    case Target::Revision:
        return set(ContactColumn::Revision);
    case Target::Address:
        return replace(ContactColumn::Address, PropertyKind::Address);
    case Target::Phone:
        return fillFirstFree(card, ContactColumn::Phone1, 3, value, PropertyKind::Phone, leftOut);
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
 * The scan's state from line to line: the cards that are open, innermost last, and the cards
 * found so far.
 *
 * The first working card is also the one that collects outside every card: "END:VCARD" there
 * makes a card of what it collected since the last one (none when it collected nothing: a
 * doubled "END:VCARD"), and every "END:VCARD" empties the card it finished, so that a card
 * without "BEGIN:VCARD" starts empty. A "BEGIN:VCARD" inside an open card starts a card of its
 * own; when it ends, the card around it collects again with the values it had. Cards are listed
 * in the order in which they begin, so a card that ends inside another waits until the
 * outermost one is done. Where a loaded file ends (TextLines::fileEnds), its open cards are
 * finished and the next file starts with nothing collected.
 */
class CardScanner
{
public:
    CardScanner(const TextLines &lines, QChar delimiter, ScanMode mode, std::stop_token stop)
        : m_logical(lines)
        , m_delimiter(QString(delimiter).toUtf8())
        , m_mode(mode)
        , m_steps(mode == ScanMode::AllFields ? ValueSteps::KeepStructure : ValueSteps::Flatten)
        , m_stop(std::move(stop))
        , m_fileEnds(lines.fileEnds())
    {
        m_working.resize(1);
    }

    /* Scans the logical lines that start in [from, to); joins may read on past to. */
    void scan(qsizetype from, qsizetype to);
    /* Finishes the cards still open, innermost first, and empties what was collected outside them. */
    void finishFile()
    {
        finishOpenCards();
        m_working.front().reset();
        m_collectedOutside = false;
    }
    /* Finishes the cards still open, innermost first, as if "END:VCARD" followed. */
    void finishOpenCards()
    {
        while (m_openCount > 0)
            endCard();
    }

    qsizetype openCount() const { return m_openCount; }
    CardList takeCards() { return std::move(m_cards); }
    const LeftOutValues &leftOut() const { return m_leftOut; }

private:
    WorkingCard &currentCard() { return m_working[size_t(std::max<qsizetype>(m_openCount, 1) - 1)]; }
    void beginCard();
    void endCard();
    void appendFinished(WorkingCard &working, CardList &cards);
    void releaseLargeScratch();
    void storeValue(Target target, QByteArrayView propertyValue, bool declared, bool softBreak, bool inRun,
                    qsizetype next);
    JoinedValue joinContinuation(QByteArrayView propertyValue, bool inRun, qsizetype next);
    void decodeValue(QByteArrayView propertyValue, bool declared, bool softBreak, bool inRun, qsizetype next);
    void keepProperty(const AllFieldsName &name, QByteArrayView propertyValue, bool declared, bool softBreak,
                      bool inRun, qsizetype next);
    void appendRecord(WorkingCard &working, CardList &cards);
    void countLeftOut(std::string_view name, QByteArrayView propertyValue);
    bool isInLineStorage(QByteArrayView text) const;
    void decodeInLineStorage(QByteArrayView propertyValue);

    LogicalLines m_logical;
    QByteArray m_delimiter;
    ScanMode m_mode;
    ValueSteps m_steps;
    std::stop_token m_stop;
    LeftOutValues m_leftOut; // the fifteen columns: the values that have no column
    RecordWriter m_recordWriter;
    QByteArray m_record;
    std::vector<WorkingCard> m_working; // the open cards (at least the outside one), buffers kept
    qsizetype m_openCount = 0;
    // A property line came since the last "END:VCARD" (or the start): an "END:VCARD" outside
    // every card makes a card only then.
    bool m_collectedOutside = false;
    const std::vector<qsizetype> &m_fileEnds; // where each loaded file's lines end
    size_t m_nextFileEnd = 0;                 // the first of them that the scan has not passed
    qint64 m_begun = 0;                       // cards begun so far, for the order of the inner ones
    std::vector<qint64> m_beginOrder;         // when each open card began
    CardList m_cards;                         // the cards found, in the order in which they begin
    CardList m_innerCards;                    // cards ended inside a card that is still open
    std::vector<qint64> m_innerBeginOrder;    // when each of those began
    std::array<QByteArray, kContactColumnCount> m_normalized;
    QByteArray m_value;
    std::string m_upperHead;
    QByteArray m_lineStorage;
    QByteArray m_phoneNumber; // a "tel:" phone's number, decoded from here
    // The line at the scan's position continues a declared quoted-printable value.
    bool m_continuesValue = false;
    // The continuation lines found last, and which of its pieces the scan reaches next.
    std::shared_ptr<const ContinuationRun> m_run;
    qsizetype m_nextPiece = 0;
};

void CardScanner::beginCard()
{
    if (m_openCount > 0 && size_t(m_openCount) == m_working.size())
        m_working.emplace_back();
    ++m_openCount;
    currentCard().reset();
    m_beginOrder.resize(size_t(m_openCount));
    m_beginOrder.back() = m_begun++;
}

void CardScanner::endCard()
{
    const bool collected = m_collectedOutside;
    m_collectedOutside = false;
    if (m_openCount == 0 && !collected)
        return; // a doubled "END:VCARD" ends nothing
    if (m_openCount <= 1) {
        // The outermost card, or one without "BEGIN:VCARD": its place in the list is now.
        if (m_mode == ScanMode::AllFields)
            appendRecord(currentCard(), m_cards);
        else
            appendFinished(currentCard(), m_cards);
        if (!m_innerCards.isEmpty()) {
            std::vector<size_t> byBegin(size_t(m_innerCards.size()));
            for (size_t i = 0; i < byBegin.size(); ++i)
                byBegin[i] = i;
            std::sort(byBegin.begin(), byBegin.end(),
                      [this](size_t a, size_t b) { return m_innerBeginOrder[a] < m_innerBeginOrder[b]; });
            for (const size_t i : byBegin)
                m_cards.appendCardOf(m_innerCards, qsizetype(i));
            m_innerCards.clear();
            m_innerBeginOrder.clear();
        }
    } else {
        if (m_mode == ScanMode::AllFields)
            appendRecord(currentCard(), m_innerCards);
        else
            appendFinished(currentCard(), m_innerCards);
        m_innerBeginOrder.push_back(m_beginOrder.back());
    }
    // The card's values end with it: a card that follows without "BEGIN:VCARD" starts empty.
    currentCard().reset();
    if (m_openCount > 0) {
        --m_openCount;
        m_beginOrder.pop_back();
    }
    releaseLargeScratch();
}

void CardScanner::releaseLargeScratch()
{
    releaseIfLarge(m_value);
    releaseIfLarge(m_lineStorage);
    // The continuation lines found last, once the scan has passed all of them.
    if (m_run && m_nextPiece >= qsizetype(m_run->pieceLines.size()))
        m_run.reset();
}

/*
 * Appends the finished card to cards: a short field is normalised into a buffer of its own, a
 * long one where it is, and shared with the card list, so that it is held once.
 */
void CardScanner::appendFinished(WorkingCard &working, CardList &cards)
{
    ContactFieldBuffers buffers{};
    for (int i = 0; i < kContactColumnCount; ++i) {
        QByteArray &field = working.fields[size_t(i)];
        if (std::optional<JoinedValue> &joined = working.joined[size_t(i)]) {
            // Decoded once, into the field's own buffer.
            joined->decodeInto(field, m_delimiter);
            joined.reset();
        }
        if (field.isEmpty())
            continue;
        trimControlAndBlankInPlace(field);
        if (field.size() < kLongValueBytes) {
            QByteArray &out = m_normalized[size_t(i)];
            normalizeFieldUtf8(field, out);
            buffers[size_t(i)] = &out;
            continue;
        }
        normalizeFieldUtf8InPlace(field);
        if (!field.isEmpty())
            buffers[size_t(i)] = &field;
    }
    cards.appendBuffers(buffers);
}

/*
 * Stores the value of a property line; softBreak tells that the lines from next on continue it,
 * inRun that the line is itself one of the continuation lines found last.
 */
/* Whether text lies in m_lineStorage, where folded lines were joined. */
bool CardScanner::isInLineStorage(QByteArrayView text) const
{
    const std::less_equal<const char *> notAfter;
    return notAfter(m_lineStorage.constData(), text.data())
           && notAfter(text.data() + text.size(), m_lineStorage.constData() + m_lineStorage.size());
}

/*
 * Decodes into m_value a value that lies in m_lineStorage, where folded lines joined it, and
 * that its property does not declare quoted-printable: in that buffer, instead of a copy.
 */
void CardScanner::decodeInLineStorage(QByteArrayView propertyValue)
{
    const qsizetype start = propertyValue.data() - m_lineStorage.constData();
    m_value.swap(m_lineStorage);
    decodePlainValueUtf8InPlace(m_value, start, m_delimiter);
}

void CardScanner::storeValue(Target target, QByteArrayView propertyValue, bool declared, bool softBreak, bool inRun,
                             qsizetype next)
{
    if (declared && softBreak) {
        JoinedValue joined = joinContinuation(propertyValue, inRun, next);
        storeField(currentCard(), target, joined, m_leftOut);
        return;
    }
    // A phone written as a "tel:" address is kept as the number it dials; its ";" parameters
    // must go before the decoding turns them into spaces.
    if (target == Target::Phone) {
        if (QByteArray number = dialableNumber(trimControlAndBlank(propertyValue)); !number.isEmpty()) {
            m_phoneNumber.swap(number);
            propertyValue = m_phoneNumber;
        }
    }
    decodeValue(propertyValue, declared, softBreak, inRun, next);
    storeField(currentCard(), target, m_value, m_leftOut);
}

/*
 * A declared value that takes the continuation lines: the rest of the run when this line is one
 * of its pieces, else the lines that start here, found once. An escape cut off at the end of
 * this line goes in front of the next one: the run takes it when it starts here, and already
 * holds it when this is a piece.
 */
JoinedValue CardScanner::joinContinuation(QByteArrayView propertyValue, bool inRun, qsizetype next)
{
    const QByteArrayView head = propertyValue.chopped(1);
    const qsizetype cut = cutEscapeLength(head);
    if (!inRun) {
        m_run = ContinuationRun::find(m_logical, next, head.last(cut).toByteArray(), m_steps);
        m_nextPiece = 0;
    }
    JoinedValue joined{{}, {}, declaredOtherCharset(m_upperHead), m_run, m_nextPiece};
    joined.head = decodeQuotedPrintableLine(head.chopped(cut), false, &joined.headLiterals, m_steps);
    return joined;
}

/*
 * Decodes a value into m_value at once, as the scan's steps ask. A value that takes continuation
 * lines is decoded with them.
 */
void CardScanner::decodeValue(QByteArrayView propertyValue, bool declared, bool softBreak, bool inRun, qsizetype next)
{
    if (declared && softBreak) {
        joinContinuation(propertyValue, inRun, next).decodeInto(m_value, m_delimiter, m_steps);
        return;
    }
    const QByteArray encoding = declared ? declaredOtherCharset(m_upperHead) : QByteArray();
    if (!encoding.isEmpty()) {
        decodeCharsetValueUtf8(propertyValue, encoding, m_delimiter, m_value, m_steps);
    } else if (!declared && propertyValue.size() >= kLongValueBytes && isInLineStorage(propertyValue)) {
        decodeInLineStorage(propertyValue);
    } else {
        decodePropertyValueUtf8(propertyValue, m_delimiter, declared, m_value, m_steps);
    }
}

/* The group of a property, upper-cased: its name's text before the last ".", without blanks. */
QByteArrayView propertyGroup(std::string_view upperHead)
{
    std::string_view name = upperHead.substr(0, upperHead.find(';'));
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return trimControlAndBlank(QByteArrayView(name.data(), qsizetype(dot)));
}

/* The parameters of a property, upper-cased: the text after its name's first ";". */
QByteArrayView propertyParameters(std::string_view upperHead)
{
    const size_t semicolon = upperHead.find(';');
    if (semicolon == std::string_view::npos)
        return {};
    return QByteArrayView(upperHead.data() + semicolon + 1, qsizetype(upperHead.size() - semicolon - 1));
}

/*
 * A date whose year Apple's writers mark as none (X-APPLE-OMIT-YEAR=1604 with 1604-12-12) loses
 * that year: "--12-12".
 */
void dropOmittedYear(QByteArrayView upperParameters, QByteArray &date)
{
    const qsizetype at = upperParameters.indexOf("X-APPLE-OMIT-YEAR=");
    if (at < 0)
        return;
    QByteArrayView year = upperParameters.sliced(at + 18);
    year = year.first(std::min<qsizetype>(4, year.size()));
    const QByteArrayView value = trimControlAndBlank(QByteArrayView(date));
    if (year.size() == 4 && value.startsWith(year))
        date = "--" + value.sliced(value.size() > 5 && value[4] == '-' ? 5 : 4).toByteArray();
}

/* Keeps a property of All fields in the card, with its group and type words, for its record. */
void CardScanner::keepProperty(const AllFieldsName &name, QByteArrayView propertyValue, bool declared, bool softBreak,
                               bool inRun, qsizetype next)
{
    // A photo's inline bytes are no table's business: only its web address is kept.
    if (name.kind == PropertyKind::Photo && name.role == AllFieldsRole::Property && !isWebAddress(propertyValue))
        return;
    decodeValue(propertyValue, declared, softBreak, inRun, next);
    const QByteArrayView parameters = propertyParameters(m_upperHead);
    if (name.kind == PropertyKind::Birthday || name.kind == PropertyKind::Anniversary)
        dropOmittedYear(parameters, m_value);
    WorkingCard &card = currentCard();
    const QByteArrayView group = propertyGroup(m_upperHead);
    PendingProperty property{
        name.kind, name.role, typeFlagsOfParameters(parameters), card.pendingBytes.size(), group.size(), 0, 0};
    card.pendingBytes.append(group);
    property.valueStart = card.pendingBytes.size();
    const QByteArrayView value = trimControlAndBlank(QByteArrayView(m_value));
    if (!name.scheme.empty() && !value.isEmpty()) {
        card.pendingBytes.append(name.scheme.data(), qsizetype(name.scheme.size()));
        card.pendingBytes.append(':');
    }
    card.pendingBytes.append(value);
    property.valueSize = card.pendingBytes.size() - property.valueStart;
    card.pending.push_back(property);
}

/*
 * Appends the finished card's record to cards: its properties in the order they came, each
 * with the label that its group's Apple label or else its type words give. The card's
 * properties go with it: a card that follows without "BEGIN:VCARD" starts without them.
 */
void CardScanner::appendRecord(WorkingCard &working, CardList &cards)
{
    const auto appleLabelOf = [&working](QByteArrayView group) -> QByteArrayView {
        if (group.isEmpty())
            return {};
        for (const PendingProperty &other : working.pending) {
            if (other.role == AllFieldsRole::AppleLabel && working.pendingGroup(other) == group)
                return working.pendingValue(other);
        }
        return {};
    };
    m_record.resize(0);
    for (const PendingProperty &property : working.pending) {
        if (property.role == AllFieldsRole::AppleLabel)
            continue;
        const QByteArrayView appleLabel = appleLabelOf(working.pendingGroup(property));
        if (property.role == AllFieldsRole::AppleDate && !isAppleAnniversaryLabel(appleLabel))
            continue;
        const quint8 flags = typeFlagsOfAppleLabel(appleLabel).value_or(property.typeFlags);
        m_recordWriter.append(m_record, property.kind, labelFor(property.kind, flags), working.pendingValue(property));
    }
    ContactFieldBuffers buffers{};
    buffers[size_t(kRecordColumn)] = &m_record;
    cards.appendBuffers(buffers);
    working.clearPending();
    releaseIfLarge(m_record);
}

/* Counts a value of a property that has no column among the fifteen. */
void CardScanner::countLeftOut(std::string_view name, QByteArrayView propertyValue)
{
    const AllFieldsName *entry = allFieldsName(name);
    if (entry == nullptr || !hasNoFifteenColumn(*entry) || trimControlAndBlank(propertyValue).isEmpty())
        return;
    if (entry->kind == PropertyKind::Photo && !isWebAddress(propertyValue))
        return;
    m_leftOut.add(entry->kind);
}

void CardScanner::scan(qsizetype from, qsizetype to)
{
    constexpr qsizetype kLinesBetweenStopChecks = 4096;
    qsizetype linesToStopCheck = 0;
    // The file ends before from belong to lines that another scan read.
    while (m_nextFileEnd < m_fileEnds.size() && m_fileEnds[m_nextFileEnd] < from)
        ++m_nextFileEnd;
    for (qsizetype index = from; index < to;) {
        if (--linesToStopCheck < 0) {
            throwIfStopRequested(m_stop);
            linesToStopCheck = kLinesBetweenStopChecks;
        }
        // A file's lines ended before this line (a join may have read past the end, into the
        // folded lines at the next file's start, which stay the empty line's).
        if (m_nextFileEnd < m_fileEnds.size() && m_fileEnds[m_nextFileEnd] <= index) {
            finishFile();
            while (m_nextFileEnd < m_fileEnds.size() && m_fileEnds[m_nextFileEnd] <= index)
                ++m_nextFileEnd;
        }
        qsizetype next;
        const QByteArrayView line = m_logical.read(index, next, m_lineStorage, m_continuesValue);
        // The scan meets the pieces of a run one by one, as logical lines read the same way.
        const bool inRun = m_run && m_nextPiece < qsizetype(m_run->pieceLines.size())
                           && m_run->pieceLines[size_t(m_nextPiece)] == index;
        if (inRun)
            ++m_nextPiece;
        const qsizetype colon = valueColon(line);
        std::string_view name;
        const Target target = classify(line, colon, m_upperHead, name);
        // (A "BEGIN:VCARD" or "END:VCARD" line declares nothing.)
        const bool declared
            = target != Target::Begin && target != Target::End && colon >= 0
              && declaresQuotedPrintable(QByteArrayView(m_upperHead.data(), qsizetype(m_upperHead.size())));
        // Whether the lines after this one continue a declared value, after a soft line break.
        const bool softBreak = (m_continuesValue || declared) && line.endsWith('=') && next < m_logical.size()
                               && !m_logical.isBlankAsLoaded(next);
        if (target != Target::Begin && target != Target::End && colon >= 0)
            m_collectedOutside = true;
        if (target == Target::Begin) {
            beginCard();
        } else if (target == Target::End) {
            endCard();
        } else if (m_mode == ScanMode::AllFields) {
            // A continuation line of a declared value is part of that value, not a property.
            const AllFieldsName *kept = colon >= 0 && !m_continuesValue ? allFieldsName(name) : nullptr;
            if (kept != nullptr)
                keepProperty(*kept, line.sliced(colon + 1), declared, softBreak, inRun, next);
        } else if (target != Target::None) {
            storeValue(target, line.sliced(colon + 1), declared, softBreak, inRun, next);
        } else if (m_openCount > 0 && colon >= 0) {
            countLeftOut(name, line.sliced(colon + 1));
        }
        m_continuesValue = softBreak;
        index = next;
    }
}

/* Whether line i is a "BEGIN:VCARD" line of its own: not folded, and continued by no folded line. */
bool isUnfoldedBegin(const TextLines &lines, qsizetype i)
{
    const QByteArrayView line = lines.utf8At(i);
    return isCardMarker(line, "BEGIN:VCARD") && !isFoldedContinuation(line)
           && !(i + 1 < lines.size() && isFoldedContinuation(lines.utf8At(i + 1)));
}

/*
 * A place to cut the lines in two for a second thread: a "BEGIN:VCARD" line of its own. When no
 * card is open before it, the cards are empty after it whatever came before, so the two halves
 * scan to the same cards as the whole. Returns 0 when there is none.
 */
qsizetype splitPoint(const TextLines &lines)
{
    for (qsizetype i = lines.size() / 2; i + 1 < lines.size(); ++i) {
        if (isUnfoldedBegin(lines, i))
            return i;
    }
    return 0;
}

} // namespace

bool isCardBoundaryLine(QByteArrayView utf8Line)
{
    return isCardBoundary(utf8Line);
}

qsizetype linesOfFirstCards(const TextLines &lines, qsizetype cards)
{
    qsizetype begun = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // As at the split for a second thread: a folded line is part of another. (An indented
        // BEGIN after an empty line, which begins a card, is not counted: more lines are read.)
        if (!isUnfoldedBegin(lines, i))
            continue;
        if (begun >= cards)
            return i;
        ++begun;
    }
    return lines.size();
}

CardList scanCards(const TextLines &lines, QChar delimiter, const std::stop_token &stop, ScanMode mode,
                   LeftOutValues *leftOut)
{
    constexpr qsizetype kLinesWorthASecondThread = 100000;
    const qsizetype split = lines.size() >= kLinesWorthASecondThread ? splitPoint(lines) : 0;
    CardScanner first(lines, delimiter, mode, stop);
    const auto finish = [leftOut](CardScanner &scanner) {
        scanner.finishOpenCards();
        if (leftOut)
            *leftOut += scanner.leftOut();
    };
    if (split == 0) {
        first.scan(0, lines.size());
        finish(first);
        return first.takeCards();
    }
    CardScanner second(lines, delimiter, mode, stop);
    // A failure of the second half (memory running out, a stop) reaches this thread through join().
    HelperThread helper([&] {
        second.scan(split, lines.size());
        second.finishOpenCards();
    });
    first.scan(0, split);
    helper.join();
    if (first.openCount() > 0) {
        // A card is still open where the second half starts (a file cut short, or cards
        // nested across the cut): the second half's cards belong inside it, so scan on here.
        first.scan(split, lines.size());
        finish(first);
        return first.takeCards();
    }
    finish(first);
    if (leftOut)
        *leftOut += second.leftOut();
    CardList cards = first.takeCards();
    cards.appendList(second.takeCards());
    return cards;
}
