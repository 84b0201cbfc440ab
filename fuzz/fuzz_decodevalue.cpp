// The value pipeline on arbitrary bytes: quoted-printable decoding, vCard escapes, the
// delimiter replacements and the field normalisation. The first byte picks the delimiter,
// whether the value is declared quoted-printable and the character set it declares.

#include "fuzzsupport.h"

#include "engine/valuedecoding.h"
#include "text/textformat.h"
#include "text/utf8.h"

#include <cstdint>

namespace {

QChar delimiterFrom(quint8 byte)
{
    static const QChar delimiters[] = {u',', u';', u'\t', u'=', u'\\', QChar(0x00E9), QChar(0x20AC), u'|'};
    return delimiters[byte % 8];
}

void checkDecoded(QByteArrayView value, QChar delimiter, bool quotedPrintable)
{
    const QString decoded = decodePropertyValue(value, delimiter, quotedPrintable);
    FUZZ_CHECK(!decoded.contains(delimiter) && !decoded.contains(u';'), decoded);
    // The quick path for plain values gives what the whole pipeline gives.
    QString slow = undoVcardEscapes(quotedPrintable ? decodeQuotedPrintableValue(value) : QString::fromUtf8(value));
    slow.replace(delimiter, u' ');
    slow.replace(u';', u' ');
    FUZZ_CHECK(decoded == slow, decoded + QStringLiteral(" | ") + slow);
    if (quotedPrintable && value.contains('=')) {
        // A value decoded as one line gives what the line-by-line path gives for it.
        FUZZ_CHECK(finishDecodedValue(decodeQuotedPrintableLine(value, true), delimiter) == decoded, decoded);
    }
    if (!utf8::isValid(value))
        return;
    // Without "=", the bytes are read as UTF-8 unchanged.
    if (!value.contains('='))
        FUZZ_CHECK(decodeQuotedPrintableValue(value) == QString::fromUtf8(value));
    // An undeclared value keeps every "=".
    if (!quotedPrintable && delimiter != u'=')
        FUZZ_CHECK(decoded.count(u'=') == QString::fromUtf8(value).count(u'='), decoded);
}

/* The scanner's pipeline on UTF-8 gives the UTF-8 of what the text pipeline gives. */
void checkUtf8Pipeline(QByteArrayView value, QChar delimiter, bool quotedPrintable)
{
    const QByteArray delimiterUtf8 = QString(delimiter).toUtf8();
    QByteArray bytes;
    decodePropertyValueUtf8(value, delimiterUtf8, quotedPrintable, bytes);
    const QString decoded = decodePropertyValue(value, delimiter, quotedPrintable);
    FUZZ_CHECK(utf8::isValid(bytes) || !utf8::isValid(value), decoded);
    // Decoded quoted-printable bytes may be anything: they are read in any case.
    QByteArray finished;
    finishDecodedValueUtf8(value, delimiterUtf8, finished);
    FUZZ_CHECK(utf8::isValid(finished) && finished == finishDecodedValue(value, delimiter).toUtf8());
    if (!utf8::isValid(value))
        return; // loaded lines are always valid UTF-8
    FUZZ_CHECK(bytes == decoded.toUtf8(), decoded);
    QByteArray normalized;
    normalizeFieldUtf8(decoded.toUtf8(), normalized);
    FUZZ_CHECK(normalized == normalizeFieldValue(trimControlAndBlank(decoded)).toUtf8(), decoded);
}

/*
 * A value in a declared character set: valid UTF-8 without the delimiter or ";", and a value
 * without "=" reads as it does without the declaration.
 */
void checkCharsetPipeline(QByteArrayView value, QChar delimiter, QByteArrayView charset)
{
    if (!utf8::isValid(value))
        return; // loaded lines are always valid UTF-8
    const QByteArray delimiterUtf8 = QString(delimiter).toUtf8();
    QByteArray bytes;
    decodeCharsetValueUtf8(value, charset, delimiterUtf8, bytes);
    FUZZ_CHECK(utf8::isValid(bytes));
    const QString text = QString::fromUtf8(bytes);
    FUZZ_CHECK(!text.contains(delimiter) && !text.contains(u';'), text);
    if (!value.contains('=')) {
        QByteArray plain;
        decodePropertyValueUtf8(value, delimiterUtf8, true, plain);
        FUZZ_CHECK(bytes == plain, text);
    }
}

void checkNormalized(const QString &text)
{
    const QString trimmed = trimControlAndBlank(text);
    FUZZ_CHECK(trimmed.isEmpty() || (trimmed.front().unicode() > 0x20 && trimmed.back().unicode() > 0x20));
    const QString normalized = normalizeFieldValue(text);
    FUZZ_CHECK(!normalized.contains(u"  ") && !normalized.startsWith(u'='), normalized);
    FUZZ_CHECK(normalized.isEmpty() || (normalized.front().unicode() > 0x20 && normalized.back().unicode() > 0x20));
    FUZZ_CHECK(normalizeFieldValue(normalized) == normalized, normalized);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QChar delimiter = delimiterFrom(data[0]);
    const bool quotedPrintable = (data[0] & 0x08) == 0;
    const QByteArrayView value(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    checkDecoded(value, delimiter, quotedPrintable);
    checkUtf8Pipeline(value, delimiter, quotedPrintable);
    static const char *const charsets[]
        = {"SHIFT_JIS", "WINDOWS-1251", "KOI8-R", "ISO-8859-2", "BIG5", "ISO-2022-JP", "EUC-KR", "ISO-8859-1"};
    checkCharsetPipeline(value, delimiter, charsets[(data[0] >> 4) % 8]);
    checkNormalized(decodePropertyValue(value, delimiter, quotedPrintable));
    checkNormalized(QString::fromUtf8(value));
    return 0;
}
