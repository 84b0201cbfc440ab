#include "engine/cardscanner.h"

#include "engine/valuedecoding.h"
#include "text/textformat.h"

#include <QByteArray>

#include <cstring>
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

/* Whether the upper-cased text holds "URL:" or "URL;". Only the few colons and semicolons are visited. */
bool containsUrlMarker(QByteArrayView text)
{
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    for (const char stop : {':', ';'}) {
        for (const char *at = begin + 3; at < end;) {
            at = static_cast<const char *>(std::memchr(at, stop, size_t(end - at)));
            if (!at)
                break;
            if (asciiUpper(at[-3]) == 'U' && asciiUpper(at[-2]) == 'R' && asciiUpper(at[-1]) == 'L')
                return true;
            ++at;
        }
    }
    return false;
}

bool isBlank(QByteArrayView line)
{
    for (char c : line) {
        if (static_cast<unsigned char>(c) > 0x20)
            return false;
    }
    return true;
}

/* A folded line: it starts with a space or a tab and holds more than white space. */
bool isFoldedContinuation(QByteArrayView line)
{
    return !line.isEmpty() && (line.front() == ' ' || line.front() == '\t') && !isBlank(line);
}

/*
 * Reads logical lines: a physical line together with the folded lines that continue it.
 * A line ending in "=" is never unfolded, since a blank that follows a quoted-printable soft
 * line break belongs to the value.
 */
class LogicalLines
{
public:
    explicit LogicalLines(const TextLines &lines)
        : m_lines(lines)
    {
    }

    /* The logical line that starts at physical line first; next is set to the line after it. */
    QByteArrayView read(qsizetype first, qsizetype &next, QByteArray &storage) const
    {
        QByteArrayView line = m_lines.utf8At(first);
        next = first + 1;
        if (next >= m_lines.size() || line.endsWith('=') || !isFoldedContinuation(m_lines.utf8At(next)))
            return line;
        storage = line.toByteArray();
        while (next < m_lines.size() && !storage.endsWith('=')) {
            const QByteArrayView fold = m_lines.utf8At(next);
            if (!isFoldedContinuation(fold))
                break;
            storage.append(fold.sliced(1));
            ++next;
        }
        return storage;
    }

    /* Whether the physical line was blank as loaded (it stops a quoted-printable join). */
    bool isBlankAsLoaded(qsizetype line) const { return isBlank(m_lines.utf8At(line)); }
    qsizetype size() const { return m_lines.size(); }

private:
    const TextLines &m_lines;
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

/* Whether the upper-cased name holds the (upper-case) pattern. Names are short: a plain search. */
bool nameHas(std::string_view name, std::string_view pattern)
{
    return name.find(pattern) != std::string_view::npos;
}

/* Decides which rule a line matches; the first rule that matches wins. */
Target classify(QByteArrayView line, QByteArray &upperName)
{
    if (line.size() == 11 && equalsUpper(line, "BEGIN:VCARD"))
        return Target::Begin;

    const qsizetype colon = line.indexOf(':');
    upperName.resize(colon < 0 ? 0 : colon);
    for (qsizetype i = 0; i < upperName.size(); ++i)
        upperName[i] = asciiUpper(line[i]);
    const std::string_view name(upperName.constData(), size_t(upperName.size()));

    // FN and N are recognised with any parameters, but not inside other names.
    if (name == "FN" || name.starts_with("FN;"))
        return Target::FormattedName;
    if (name == "N" || name.starts_with("N;"))
        return Target::StructuredName;
    if (nameHas(name, "EMAIL"))
        return Target::Email;
    if (containsUrlMarker(line))
        return Target::Url;
    if (nameHas(name, "NOTE"))
        return Target::Note;
    if (nameHas(name, "ORG"))
        return Target::Organization;
    if (nameHas(name, "REV"))
        return Target::Revision;
    if (nameHas(name, "ADR"))
        return nameHas(name, "X-ABADR") ? Target::None : Target::Address;
    if (nameHas(name, "TEL"))
        return Target::Phone;
    if (line.size() == 9 && equalsUpper(line, "END:VCARD"))
        return Target::End;
    return Target::None;
}

/* Stores a value in the first empty slot of a multi-slot field; a full field drops it. */
void fillFirstFree(ContactFields &card, ContactColumn first, int slotCount, QString &&value)
{
    for (int k = 0; k < slotCount; ++k) {
        QString &slot = card[size_t(int(first) + k)];
        if (slot.isEmpty()) {
            slot = std::move(value);
            return;
        }
    }
}

void storeField(ContactFields &card, Target target, QString &&value)
{
    auto set = [&](ContactColumn column) { card[size_t(column)] = std::move(value); };
    switch (target) {
    case Target::FormattedName:
        return set(ContactColumn::FormattedName);
    case Target::StructuredName:
        return set(ContactColumn::StructuredName);
    case Target::Email:
        return fillFirstFree(card, ContactColumn::Email1, 5, std::move(value));
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
        return fillFirstFree(card, ContactColumn::Phone1, 3, std::move(value));
    case Target::None:
    case Target::Begin:
    case Target::End:
        break;
    }
}

ContactCard finishCard(ContactFields &working)
{
    ContactFields normalized;
    for (int i = 0; i < kContactColumnCount; ++i) {
        QString &field = working[size_t(i)];
        if (field.isEmpty())
            continue;
        field = trimControlAndBlank(field);
        normalized[size_t(i)] = normalizeFieldValue(field);
    }
    return ContactCard(normalized);
}

/* Scans the logical lines that start in [from, to); joins may read on past to. */
std::vector<ContactCard> scanRange(const TextLines &lines, qsizetype from, qsizetype to, QChar delimiter)
{
    std::vector<ContactCard> cards;
    ContactFields working;
    const LogicalLines logical(lines);
    QByteArray upperName;
    QByteArray lineStorage;
    QByteArray joinStorage;
    QByteArray valueStorage;

    for (qsizetype index = from; index < to;) {
        qsizetype next;
        const QByteArrayView line = logical.read(index, next, lineStorage);
        const Target target = classify(line, upperName);
        if (target == Target::Begin) {
            working = ContactFields();
        } else if (target == Target::End) {
            cards.push_back(finishCard(working));
        } else if (target != Target::None) {
            const qsizetype colon = line.indexOf(':');
            QByteArrayView value = colon < 0 ? line : line.sliced(colon + 1);
            if (value.endsWith('=')) {
                // Quoted-printable soft line breaks: take whole following lines until one
                // that does not end with "=", stopping at a line that was blank as loaded.
                valueStorage = value.toByteArray();
                for (qsizetype follow = next; valueStorage.endsWith('=') && follow < logical.size();) {
                    if (logical.isBlankAsLoaded(follow))
                        break;
                    qsizetype after;
                    valueStorage.append(logical.read(follow, after, joinStorage));
                    follow = after;
                }
                value = valueStorage;
            }
            storeField(working, target, decodePropertyValue(value, delimiter));
        }
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

std::vector<ContactCard> scanCards(const TextLines &lines, QChar delimiter)
{
    constexpr qsizetype kLinesWorthASecondThread = 100000;
    const qsizetype split = lines.size() >= kLinesWorthASecondThread ? splitPoint(lines) : 0;
    if (split == 0)
        return scanRange(lines, 0, lines.size(), delimiter);
    std::vector<ContactCard> secondHalf;
    std::thread helper([&] { secondHalf = scanRange(lines, split, lines.size(), delimiter); });
    std::vector<ContactCard> cards = scanRange(lines, 0, split, delimiter);
    helper.join();
    cards.insert(cards.end(), std::make_move_iterator(secondHalf.begin()), std::make_move_iterator(secondHalf.end()));
    return cards;
}
