#include "text/singlebytecodec.h"

#include "platform/ansicodepage.h"

#include <QStringDecoder>

#include <map>
#include <memory>
#include <mutex>

SingleByteCodec::SingleByteCodec(int codePage)
    : m_codePage(codePage)
{
    QStringDecoder decoder(QByteArray("windows-" + QByteArray::number(codePage)).constData());
    for (int byte = 0; byte < 256; ++byte) {
        char16_t unit = char16_t(byte);
        if (byte >= 0x80 && decoder.isValid()) {
            const char raw = char(byte);
            const QString decoded = decoder.decode(QByteArrayView(&raw, 1));
            decoder.resetState();
            if (decoded.size() == 1 && decoded.at(0) != QChar::ReplacementCharacter)
                unit = decoded.at(0).unicode();
        }
        m_toUnicode[byte] = unit;
        const QByteArray utf8 = QString(QChar(unit)).toUtf8();
        Utf8Form &form = m_utf8[byte];
        form.size = utf8.size();
        std::copy(utf8.cbegin(), utf8.cend(), form.bytes);
    }
    for (int byte = 255; byte >= 0; --byte)
        m_fromUnicode.insert(m_toUnicode[byte], static_cast<unsigned char>(byte));
}

const SingleByteCodec &SingleByteCodec::forCodePage(int codePage)
{
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<SingleByteCodec>> codecs;
    const std::lock_guard lock(mutex);
    std::unique_ptr<SingleByteCodec> &codec = codecs[codePage];
    if (!codec)
        codec.reset(new SingleByteCodec(codePage));
    return *codec;
}

const SingleByteCodec &SingleByteCodec::ansi()
{
    static const SingleByteCodec &codec = forCodePage(systemAnsiCodePage());
    return codec;
}

QByteArray SingleByteCodec::fromUnicode(QStringView text) const
{
    QByteArray out;
    appendEncoded(text, out);
    return out;
}

qsizetype SingleByteCodec::appendEncoded(QStringView text, QByteArray &out) const
{
    qsizetype replaced = 0;
    if (out.isEmpty())
        out.reserve(text.size()); // appends to a batch grow it as appends do

    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            out.append(char(unit));
            continue;
        }
        const auto found = m_fromUnicode.constFind(unit);
        if (found != m_fromUnicode.constEnd()) {
            out.append(char(*found));
            continue;
        }
        out.append('?');
        ++replaced;
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return replaced;
}
