#include "engine/valuedecoding.h"

#include "text/textformat.h"

#include "text/charsets.h"
#include "text/singlebytecodec.h"
#include "text/utf8.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

/* Extends the last run of literal bytes by the byte at position, or starts a new run there. */
void noteLiteralByte(std::vector<qsizetype> &literals, qsizetype position)
{
    if (!literals.empty() && literals.back() == position)
        literals.back() = position + 1;
    else
        literals.insert(literals.end(), {position, position + 1});
}

/*
 * Lenient quoted-printable decoding of bytes that have had "=00" and "=0A" handled. Trailing
 * blanks are dropped only at the value's end: a line that a soft line break continues keeps them.
 */
QByteArray decodeQuotedPrintableBytes(QByteArrayView in, bool valueEnd, std::vector<qsizetype> *literals)
{
    while (valueEnd && !in.isEmpty() && (in.back() == ' ' || in.back() == '\t'))
        in.chop(1);
    QByteArray out(in.size(), Qt::Uninitialized); // decoding never grows the text
    char *write = out.data();
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n;) {
        const char c = in[i++];
        if (c != '=') {
            if (literals && (c & 0x80) != 0)
                noteLiteralByte(*literals, write - out.constData());
            *write++ = c;
            continue;
        }
        if (i == n)
            break; // a trailing "=" is dropped
        const int high = hexValue(in[i]);
        if (high >= 0) {
            ++i;
            const int low = i < n ? hexValue(in[i]) : -1;
            if (low >= 0) {
                ++i;
                *write++ = char(high * 16 + low);
            } else {
                *write++ = char(high);
            }
            continue;
        }
        // Soft line break: drop the "=" and up to two CR or LF bytes after it.
        for (int k = 0; k < 2 && i < n && (in[i] == '\r' || in[i] == '\n'); ++k)
            ++i;
    }
    out.truncate(write - out.constData());
    return out;
}

/* Reads decoded bytes: well-formed UTF-8 where it starts, the ANSI character for any other byte. */
QString readDecodedBytes(QByteArrayView bytes)
{
    if (utf8::isValid(bytes))
        return QString::fromUtf8(bytes);
    const SingleByteCodec &ansi = SingleByteCodec::ansi();
    QString text;
    text.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p != end) {
        const int length = utf8::sequenceLength(p, end);
        if (length > 0) {
            text += QString::fromUtf8(reinterpret_cast<const char *>(p), length);
            p += length;
        } else {
            text += QChar(ansi.toUnicode(*p));
            ++p;
        }
    }
    return text;
}

/* Whether c is the second digit of "=0A" or "=0D", in either letter case. */
bool isLineBreakHexDigit(char c)
{
    return c == 'A' || c == 'a' || c == 'D' || c == 'd';
}

/*
 * Removes every "=00", then turns every "=0A" and "=0D" (either letter case) into a space (two
 * passes, as removal can form new ones): a value that decoding would break over lines stays on
 * one line, and "=0D=0A" ends as one space once the field's runs of spaces are joined. With
 * KeepStructure the line breaks stay escapes, for the decoding to keep.
 */
QByteArray removeNulAndLineFeedEscapes(QByteArrayView value, ValueSteps steps)
{
    QByteArray bytes(value.size(), Qt::Uninitialized);
    char *write = bytes.data();
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() && value[i + 1] == '0' && value[i + 2] == '0')
            i += 2;
        else
            *write++ = value[i];
    }
    const qsizetype size = write - bytes.constData();
    if (steps == ValueSteps::KeepStructure) {
        bytes.truncate(size);
        return bytes;
    }
    char *const begin = bytes.data();
    write = begin;
    for (qsizetype i = 0; i < size; ++i) {
        if (begin[i] == '=' && i + 2 < size && begin[i + 1] == '0' && isLineBreakHexDigit(begin[i + 2])) {
            *write++ = ' ';
            i += 2;
        } else {
            *write++ = begin[i];
        }
    }
    bytes.truncate(write - begin);
    return bytes;
}

/* The steps after quoted-printable decoding: vCard escapes, then delimiters and ";" become spaces. */
QString finishValueText(QString value, QChar delimiter)
{
    value = undoVcardEscapes(value);
    value.replace(delimiter, u' ');
    value.replace(u';', u' ');
    return value;
}

} // namespace

QByteArray decodeQuotedPrintableLine(QByteArrayView line, bool valueEnd, std::vector<qsizetype> *literals,
                                     ValueSteps steps)
{
    return decodeQuotedPrintableBytes(removeNulAndLineFeedEscapes(line, steps), valueEnd, literals);
}

qsizetype cutEscapeLength(QByteArrayView line)
{
    if (line.endsWith('='))
        return 1;
    if (line.size() >= 2 && line[line.size() - 2] == '=' && hexValue(line.back()) >= 0)
        return 2;
    return 0;
}

QString decodeQuotedPrintableValue(QByteArrayView utf8Value)
{
    if (!utf8Value.contains('='))
        return QString::fromUtf8(utf8Value);
    return readDecodedBytes(decodeQuotedPrintableLine(utf8Value, true));
}

QString decodeQuotedPrintableValue(const QString &value)
{
    return decodeQuotedPrintableValue(QByteArrayView(value.toUtf8()));
}

QString undoVcardEscapes(const QString &value)
{
    qsizetype at = value.indexOf(u'\\');
    if (at < 0)
        return value;
    QString out = value.first(at);
    out.reserve(value.size());
    for (qsizetype i = at; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        if (next == u'n' || next == u'N') {
            out += u' ';
            ++i;
        } else if (next == u',' || next == u';' || next == u':' || next == u'\\') {
            out += next;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString decodePropertyValue(QByteArrayView utf8Value, QChar delimiter, bool quotedPrintable)
{
    // Most values need none of the steps: one look at the bytes spares the passes over the text.
    const char asciiDelimiter = delimiter.unicode() < 0x80 ? char(delimiter.unicode()) : '\0';
    if (asciiDelimiter != '\0'
        && std::none_of(utf8Value.begin(), utf8Value.end(), [asciiDelimiter, quotedPrintable](char c) {
               return (quotedPrintable && c == '=') || c == '\\' || c == ';' || c == asciiDelimiter;
           }))
        return QString::fromUtf8(utf8Value);
    return finishValueText(quotedPrintable ? decodeQuotedPrintableValue(utf8Value) : QString::fromUtf8(utf8Value),
                           delimiter);
}

QString decodePropertyValue(const QString &value, QChar delimiter, bool quotedPrintable)
{
    return decodePropertyValue(QByteArrayView(value.toUtf8()), delimiter, quotedPrintable);
}

QString finishDecodedValue(QByteArrayView decodedBytes, QChar delimiter)
{
    return finishValueText(readDecodedBytes(decodedBytes), delimiter);
}

QString normalizeFieldValue(const QString &value)
{
    // Trimmed, then leading "=" signs skipped with the blanks between them: one pass with an
    // index, since a value may start with a great many of them.
    const QString trimmed = trimControlAndBlank(value);
    qsizetype first = 0;
    while (first < trimmed.size() && trimmed[first] == u'=') {
        ++first;
        while (first < trimmed.size() && trimmed[first].unicode() <= 0x20)
            ++first;
    }
    QString text = first == 0 ? trimmed : trimmed.sliced(first);
    const auto *const data = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    qsizetype pair = 1;
    while (pair < size && !(data[pair] == u' ' && data[pair - 1] == u' '))
        ++pair;
    if (pair >= size)
        return text;
    // Merge every run of spaces into one.
    QString merged(size, Qt::Uninitialized);
    char16_t *write = reinterpret_cast<char16_t *>(merged.data());
    const char16_t *const start = write;
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == u' ' && i > 0 && data[i - 1] == u' ')
            continue;
        *write++ = data[i];
    }
    merged.truncate(write - start);
    return merged;
}

// ---------------------------------------------------------------------------
// The pipeline on UTF-8 bytes. Every step that changes text touches only ASCII characters,
// which UTF-8 keeps as single bytes that never occur inside other characters' sequences.

namespace {

constexpr QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

/* Appends bytes as QString::fromUtf8 reads them: a U+FEFF at the start is dropped. */
void appendWithoutLeadingMark(QByteArray &out, QByteArrayView bytes)
{
    out.append(bytes.startsWith(kByteOrderMark) ? bytes.sliced(kByteOrderMark.size()) : bytes);
}

/* readDecodedBytes as UTF-8: a sequence read on its own drops a U+FEFF, as the text does. */
void appendDecodedBytes(QByteArray &out, QByteArrayView bytes)
{
    if (utf8::isValid(bytes)) {
        appendWithoutLeadingMark(out, bytes);
        return;
    }
    const SingleByteCodec &ansi = SingleByteCodec::ansi();
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p != end) {
        const int length = utf8::sequenceLength(p, end);
        if (length > 0) {
            const QByteArrayView sequence(reinterpret_cast<const char *>(p), length);
            if (sequence != kByteOrderMark)
                out.append(sequence);
            p += length;
        } else {
            ansi.appendUtf8(*p, out);
            ++p;
        }
    }
}

/* undoVcardEscapes in place. */
void undoVcardEscapesUtf8(QByteArray &value)
{
    qsizetype at = value.indexOf('\\');
    if (at < 0)
        return;
    char *const data = value.data();
    const qsizetype size = value.size();
    qsizetype write = at;
    for (qsizetype i = at; i < size; ++i) {
        const char c = data[i];
        if (c != '\\' || i + 1 == size) {
            data[write++] = c;
            continue;
        }
        const char next = data[i + 1];
        if (next == 'n' || next == 'N') {
            data[write++] = ' ';
            ++i;
        } else if (next == ',' || next == ';' || next == ':' || next == '\\') {
            data[write++] = next;
            ++i;
        } else {
            data[write++] = c;
        }
    }
    value.truncate(write);
}

/* finishValueText in place: vCard escapes, then the delimiter and ";" become spaces. */
void finishValueTextUtf8(QByteArray &value, QByteArrayView delimiter, ValueSteps steps)
{
    if (steps == ValueSteps::KeepStructure)
        return;
    undoVcardEscapesUtf8(value);
    if (delimiter.size() == 1) {
        // Both in one pass, the common case.
        const char single = delimiter.front();
        for (char &c : value) {
            if (c == single || c == ';')
                c = ' ';
        }
        return;
    }
    if (!delimiter.isEmpty())
        value.replace(delimiter, " ");
    value.replace(';', ' ');
}

} // namespace

void decodePropertyValueUtf8(QByteArrayView utf8Value, QByteArrayView delimiter, bool quotedPrintable, QByteArray &out,
                             ValueSteps steps)
{
    out.resize(0);
    const char asciiDelimiter = delimiter.size() == 1 ? delimiter.front() : '\0';
    if (steps == ValueSteps::KeepStructure && !(quotedPrintable && utf8Value.contains('='))) {
        appendWithoutLeadingMark(out, utf8Value);
        return;
    }
    if (asciiDelimiter != '\0'
        && std::none_of(utf8Value.begin(), utf8Value.end(), [asciiDelimiter, quotedPrintable](char c) {
               return (quotedPrintable && c == '=') || c == '\\' || c == ';' || c == asciiDelimiter;
           })) {
        appendWithoutLeadingMark(out, utf8Value);
        return;
    }
    if (quotedPrintable && utf8Value.contains('='))
        appendDecodedBytes(out, decodeQuotedPrintableLine(utf8Value, true, nullptr, steps));
    else
        appendWithoutLeadingMark(out, utf8Value);
    finishValueTextUtf8(out, delimiter, steps);
}

void finishDecodedValueUtf8(QByteArrayView decodedBytes, QByteArrayView delimiter, QByteArray &out, ValueSteps steps)
{
    out.resize(0);
    appendDecodedBytes(out, decodedBytes);
    finishValueTextUtf8(out, delimiter, steps);
}

void decodeCharsetValueUtf8(QByteArrayView utf8Value, QByteArrayView encoding, QByteArrayView delimiter,
                            QByteArray &out, ValueSteps steps)
{
    if (!utf8Value.contains('=')) {
        // Nothing is escaped: the value holds what it says, whatever the character set.
        decodePropertyValueUtf8(utf8Value, delimiter, true, out, steps);
        return;
    }
    std::vector<qsizetype> literals;
    const QByteArray decoded = decodeQuotedPrintableLine(utf8Value, true, &literals, steps);
    finishCharsetValueUtf8(decoded, literals, encoding, delimiter, out, steps);
}

void finishCharsetValueUtf8(QByteArrayView decodedBytes, const std::vector<qsizetype> &literals,
                            QByteArrayView encoding, QByteArrayView delimiter, QByteArray &out, ValueSteps steps)
{
    out.resize(0);
    qsizetype done = 0;
    auto appendEncoded = [&](qsizetype end) {
        if (end > done)
            appendWithoutLeadingMark(out, decodeInEncoding(decodedBytes.sliced(done, end - done), encoding).toUtf8());
    };
    for (size_t k = 0; k + 1 < literals.size(); k += 2) {
        appendEncoded(literals[k]);
        out.append(decodedBytes.sliced(literals[k], literals[k + 1] - literals[k]));
        done = literals[k + 1];
    }
    appendEncoded(decodedBytes.size());
    finishValueTextUtf8(out, delimiter, steps);
}

namespace {

/*
 * Where a trimmed field's text starts: leading "=" signs go with the blanks between them. The
 * character there is neither a blank nor "=".
 */
qsizetype afterLeadingEquals(QByteArrayView trimmed)
{
    const char *const data = trimmed.data();
    const qsizetype end = trimmed.size();
    qsizetype begin = 0;
    while (begin < end && data[begin] == '=') {
        ++begin;
        while (begin < end && isControlOrBlank(data[begin]))
            ++begin;
    }
    return begin;
}

/* Where the first run of two or more spaces in text starts, or -1. */
qsizetype firstDoubleSpace(QByteArrayView text)
{
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    for (const char *space = begin; space < end; space += 2) {
        space = static_cast<const char *>(std::memchr(space, ' ', size_t(end - space)));
        if (space == nullptr || space + 1 == end)
            return -1;
        if (space[1] == ' ')
            return space - begin;
    }
    return -1;
}

} // namespace

void normalizeFieldUtf8(QByteArrayView field, QByteArray &out)
{
    const QByteArrayView trimmed = trimControlAndBlank(field);
    const char *const data = trimmed.data();
    const qsizetype begin = afterLeadingEquals(trimmed);
    const qsizetype end = trimmed.size();
    // Every run of spaces becomes one space. The text starts with neither a blank nor "=", so
    // a space never comes first.
    out.resize(end - begin);
    char *const write = out.data();
    qsizetype size = 0;
    for (qsizetype i = begin; i < end; ++i) {
        if (data[i] == ' ' && write[size - 1] == ' ')
            continue;
        write[size++] = data[i];
    }
    out.truncate(size);
}

void normalizeFieldUtf8InPlace(QByteArray &field)
{
    const QByteArrayView trimmed = trimControlAndBlank(QByteArrayView(field));
    const QByteArrayView kept = trimmed.sliced(afterLeadingEquals(trimmed));
    const qsizetype doubleSpace = firstDoubleSpace(kept);
    if (kept.size() == field.size() && doubleSpace < 0)
        return; // nothing changes, and a buffer shared with others stays shared
    const qsizetype start = kept.data() - field.constData();
    const qsizetype end = start + kept.size();
    char *const data = field.data();
    // Up to the first run of spaces the bytes only move; from there on, each run becomes one
    // space. No byte is written before it is read.
    qsizetype size = doubleSpace < 0 ? kept.size() : doubleSpace + 1;
    if (start > 0)
        std::memmove(data, data + start, size_t(size));
    for (qsizetype i = start + size; i < end; ++i) {
        if (data[i] == ' ' && data[size - 1] == ' ')
            continue;
        data[size++] = data[i];
    }
    field.truncate(size);
}

void decodePlainValueUtf8InPlace(QByteArray &value, qsizetype start, QByteArrayView delimiter, ValueSteps steps)
{
    if (QByteArrayView(value).sliced(start).startsWith(kByteOrderMark))
        start += kByteOrderMark.size();
    value.remove(0, start);
    finishValueTextUtf8(value, delimiter, steps);
}

QByteArray dialableNumber(QByteArrayView value)
{
    if (value.size() < 4 || QByteArrayView(value.first(4)).compare("tel:", Qt::CaseInsensitive) != 0)
        return {};
    value = value.sliced(4);
    const qsizetype semicolon = value.indexOf(';');
    QByteArray number = (semicolon < 0 ? value : value.first(semicolon)).toByteArray();
    for (qsizetype at = semicolon; at >= 0;) {
        const qsizetype end = value.indexOf(';', at + 1);
        const QByteArrayView parameter = value.sliced(at + 1, (end < 0 ? value.size() : end) - at - 1);
        if (parameter.size() > 4 && QByteArrayView(parameter.first(4)).compare("ext=", Qt::CaseInsensitive) == 0)
            number += " ext. " + parameter.sliced(4).toByteArray();
        at = end;
    }
    return number;
}
