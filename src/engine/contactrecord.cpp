#include "engine/contactrecord.h"

#include "engine/lengthcodes.h"

#include "text/textformat.h"

#include <algorithm>

namespace {

/* The flag of one type word (upper case), 0 for a word that decides no label. */
quint8 flagOfTypeWord(QByteArrayView word)
{
    if (word == "CELL" || word == "MOBILE" || word == "IPHONE")
        return TypeCell;
    if (word == "FAX")
        return TypeFax;
    if (word == "PAGER")
        return TypePager;
    if (word == "HOME")
        return TypeHome;
    if (word == "WORK")
        return TypeWork;
    return 0;
}

/* The flags of a comma-separated list of type words, quotes around it dropped. */
quint8 flagsOfTypeList(QByteArrayView list)
{
    quint8 flags = 0;
    for (qsizetype start = 0; start <= list.size();) {
        qsizetype end = list.indexOf(',', start);
        if (end < 0)
            end = list.size();
        QByteArrayView word = trimControlAndBlank(list.sliced(start, end - start));
        while (!word.isEmpty() && word.front() == '"')
            word = word.sliced(1);
        while (!word.isEmpty() && word.back() == '"')
            word.chop(1);
        flags |= flagOfTypeWord(word);
        start = end + 1;
    }
    return flags;
}

/* The next ";" of parameters from from on that is not inside a quoted value, or the end. */
qsizetype parameterEnd(QByteArrayView parameters, qsizetype from)
{
    bool quoted = false;
    for (qsizetype i = from; i < parameters.size(); ++i) {
        if (parameters[i] == '"')
            quoted = !quoted;
        else if (parameters[i] == ';' && !quoted)
            return i;
    }
    return parameters.size();
}

void appendLength(QByteArray &record, qsizetype length)
{
    char bytes[10];
    record.append(bytes, writeLength(bytes, quint64(length)) - bytes);
}

/* Whether kind's value is split at ";" into components. */
bool isStructured(PropertyKind kind)
{
    return kind == PropertyKind::StructuredName || kind == PropertyKind::Address || kind == PropertyKind::Organization
           || kind == PropertyKind::Gender;
}

/* Where the components of raw end: at each separator that no backslash escapes. */
void splitUnescaped(QByteArrayView raw, char separator, std::vector<QByteArrayView> &parts)
{
    parts.clear();
    qsizetype start = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\') {
            ++i; // the escaped character, whatever it is
        } else if (raw[i] == separator) {
            parts.push_back(raw.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(raw.sliced(start));
}

/*
 * A component's text: escapes undone ("\n" a line feed, "\," "\;" "\:" "\\" the character),
 * every line break a line feed, the ends trimmed.
 */
void cleanComponent(QByteArrayView raw, QByteArray &out)
{
    out.resize(0);
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == 'n' || next == 'N') {
                out.append('\n');
                ++i;
                continue;
            }
            if (next == ',' || next == ';' || next == ':' || next == '\\') {
                out.append(next);
                ++i;
                continue;
            }
        }
        if (c == '\r') {
            out.append('\n');
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            continue;
        }
        out.append(c);
    }
    const QByteArrayView trimmed = trimControlAndBlank(QByteArrayView(out));
    if (trimmed.size() != out.size())
        out = trimmed.toByteArray();
}

bool isDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(QByteArrayView digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace

quint8 typeFlagsOfParameters(QByteArrayView upperParameters)
{
    quint8 flags = 0;
    for (qsizetype start = 0; start < upperParameters.size();) {
        const qsizetype end = parameterEnd(upperParameters, start);
        const QByteArrayView parameter = trimControlAndBlank(upperParameters.sliced(start, end - start));
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0)
            flags |= flagsOfTypeList(parameter); // vCard 2.1: TEL;CELL;VOICE:
        else if (trimControlAndBlank(parameter.first(equals)) == "TYPE")
            flags |= flagsOfTypeList(parameter.sliced(equals + 1));
        start = end + 1;
    }
    return flags;
}

std::optional<quint8> typeFlagsOfAppleLabel(QByteArrayView label)
{
    label = trimControlAndBlank(label);
    if (label == "_$!<Mobile>!$_" || label == "iPhone")
        return quint8(TypeCell);
    if (label == "_$!<Home>!$_")
        return quint8(TypeHome);
    if (label == "_$!<Work>!$_")
        return quint8(TypeWork);
    if (label == "_$!<HomeFAX>!$_")
        return quint8(TypeHome | TypeFax);
    if (label == "_$!<WorkFAX>!$_")
        return quint8(TypeWork | TypeFax);
    if (label == "_$!<Pager>!$_")
        return quint8(TypePager);
    if (label == "_$!<Other>!$_" || label == "_$!<Main>!$_")
        return quint8(0);
    return std::nullopt;
}

bool isAppleAnniversaryLabel(QByteArrayView label)
{
    return trimControlAndBlank(label) == "_$!<Anniversary>!$_";
}

PropertyLabel labelFor(PropertyKind kind, quint8 typeFlags)
{
    const bool home = typeFlags & TypeHome;
    const bool work = typeFlags & TypeWork;
    if (kind == PropertyKind::Phone) {
        if (typeFlags & TypeCell)
            return PropertyLabel::Mobile;
        if (typeFlags & TypeFax)
            return home ? PropertyLabel::HomeFax : work ? PropertyLabel::WorkFax : PropertyLabel::Fax;
        if (typeFlags & TypePager)
            return PropertyLabel::Pager;
    }
    if (kind == PropertyKind::Phone || kind == PropertyKind::Email || kind == PropertyKind::Address
        || kind == PropertyKind::Website)
        return home ? PropertyLabel::Home : work ? PropertyLabel::Work : PropertyLabel::Other;
    return PropertyLabel::Other;
}

bool RecordWriter::append(QByteArray &record, PropertyKind kind, PropertyLabel label, QByteArrayView rawValue)
{
    std::vector<QByteArrayView> &parts = m_parts;
    std::vector<QByteArray> &cleaned = m_cleaned;
    if (isStructured(kind))
        splitUnescaped(rawValue, ';', parts);
    else if (kind == PropertyKind::Categories)
        splitUnescaped(rawValue, ',', parts);
    else
        parts.assign(1, rawValue);
    if (cleaned.size() < parts.size())
        cleaned.resize(parts.size());
    bool any = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        cleanComponent(parts[i], cleaned[i]);
        any = any || !cleaned[i].isEmpty();
    }
    if (!any)
        return false;
    record.append(char(kind));
    record.append(char(label));
    appendLength(record, qsizetype(parts.size()));
    for (size_t i = 0; i < parts.size(); ++i) {
        appendLength(record, cleaned[i].size());
        record.append(cleaned[i]);
    }
    return true;
}

bool RecordReader::next(RecordProperty &property)
{
    if (m_at + 2 > m_record.size())
        return false;
    property.kind = PropertyKind(quint8(m_record[m_at++]));
    property.label = PropertyLabel(quint8(m_record[m_at++]));
    // The record is this program's own: its lengths hold.
    const char *at = m_record.data() + m_at;
    const quint64 count = readLength(at);
    property.components.clear();
    for (quint64 i = 0; i < count; ++i) {
        const auto length = qsizetype(readLength(at));
        property.components.emplace_back(at, length);
        at += length;
    }
    m_at = at - m_record.data();
    return true;
}

qint64 LeftOutValues::total() const
{
    qint64 sum = 0;
    for (const qint64 n : counts)
        sum += n;
    return sum;
}

LeftOutValues &LeftOutValues::operator+=(const LeftOutValues &other)
{
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] += other.counts[i];
    return *this;
}

std::optional<DateParts> parseDate(QByteArrayView date)
{
    date = trimControlAndBlank(date);
    const qsizetype time = date.indexOf('T');
    if (time > 0)
        date = date.first(time);
    DateParts parts;
    if (date.startsWith("--")) {
        date = date.sliced(2);
        const bool dashed = date.size() == 5 && date[2] == '-';
        const QByteArrayView month = date.first(std::min<qsizetype>(2, date.size()));
        const QByteArrayView day = date.sliced(std::min<qsizetype>(dashed ? 3 : 2, date.size()));
        if ((date.size() != 4 && !dashed) || month.size() != 2 || !isDigits(month) || day.size() != 2 || !isDigits(day))
            return std::nullopt;
        parts.month = number(month);
        parts.day = number(day);
    } else if (date.size() == 10 && date[4] == '-' && date[7] == '-' && isDigits(date.first(4))
               && isDigits(date.sliced(5, 2)) && isDigits(date.sliced(8, 2))) {
        parts.year = number(date.first(4));
        parts.month = number(date.sliced(5, 2));
        parts.day = number(date.sliced(8, 2));
    } else if (date.size() == 8 && isDigits(date)) {
        parts.year = number(date.first(4));
        parts.month = number(date.sliced(4, 2));
        parts.day = number(date.sliced(6, 2));
    } else {
        return std::nullopt;
    }
    if (parts.month < 1 || parts.month > 12 || parts.day < 1 || parts.day > 31)
        return std::nullopt;
    return parts;
}

QByteArray isoDate(QByteArrayView date)
{
    const std::optional<DateParts> parts = parseDate(date);
    if (!parts)
        return date.toByteArray();
    const auto twoDigits = [](int n) { return QByteArray::number(n).rightJustified(2, '0'); };
    const QByteArray monthDay = twoDigits(parts->month) + '-' + twoDigits(parts->day);
    if (parts->year == 0)
        return "--" + monthDay;
    return QByteArray::number(parts->year).rightJustified(4, '0') + '-' + monthDay;
}
