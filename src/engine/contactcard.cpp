#include "engine/contactcard.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

/* Blocks are this large unless one card needs more; a block stays below 4 GiB for 32-bit offsets. */
constexpr qsizetype kBlockBytes = qsizetype(4) << 20;

/* Writes a length in 7-bit groups, low group first, the high bit set on all groups but the last. */
char *writeLength(char *out, quint64 length)
{
    while (length >= 0x80) {
        *out++ = char(0x80 | (length & 0x7F));
        length >>= 7;
    }
    *out++ = char(length);
    return out;
}

quint64 readLength(const char *&at)
{
    quint64 length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        length |= quint64(byte & 0x7F) << shift;
        if (byte < 0x80)
            return length;
    }
}

} // namespace

QByteArrayView CardList::field(qsizetype index, int column) const
{
    const CardRef ref = m_cards[size_t(index)];
    const char *at = m_blocks[ref.block].constData() + ref.offset;
    quint64 lengths[kContactColumnCount];
    quint64 start = 0;
    for (int i = 0; i <= column; ++i)
        lengths[i] = readLength(at);
    for (int i = column + 1; i < kContactColumnCount; ++i)
        readLength(at);
    for (int i = 0; i < column; ++i)
        start += lengths[i];
    return QByteArrayView(at + start, qsizetype(lengths[column]));
}

ContactFieldsUtf8 CardList::fieldsUtf8(qsizetype index) const
{
    const CardRef ref = m_cards[size_t(index)];
    const char *at = m_blocks[ref.block].constData() + ref.offset;
    quint64 lengths[kContactColumnCount];
    for (quint64 &length : lengths)
        length = readLength(at);
    ContactFieldsUtf8 fields;
    for (int i = 0; i < kContactColumnCount; ++i) {
        fields[size_t(i)] = QByteArrayView(at, qsizetype(lengths[i]));
        at += lengths[i];
    }
    return fields;
}

ContactFields CardList::fields(qsizetype index) const
{
    const ContactFieldsUtf8 utf8 = fieldsUtf8(index);
    ContactFields result;
    for (int i = 0; i < kContactColumnCount; ++i)
        result[size_t(i)] = QString::fromUtf8(utf8[size_t(i)]);
    return result;
}

void CardList::append(const ContactFieldsUtf8 &fields)
{
    qsizetype bytes = 0;
    for (QByteArrayView field : fields)
        bytes += field.size();
    const qsizetype recordBytes = bytes + kContactColumnCount * 10; // lengths take at most 10 bytes each
    const bool fits = !m_blocks.empty() && m_blocks.back().size() + recordBytes <= m_blocks.back().capacity()
                      && m_blocks.back().size() <= std::numeric_limits<quint32>::max();
    if (!fits) {
        QByteArray block;
        block.reserve(std::max(kBlockBytes, recordBytes));
        m_blocks.push_back(std::move(block));
    }
    QByteArray &block = m_blocks.back();
    const qsizetype offset = block.size();
    block.resize(offset + recordBytes); // within the capacity: nothing moves
    char *out = block.data() + offset;
    for (QByteArrayView field : fields)
        out = writeLength(out, quint64(field.size()));
    for (QByteArrayView field : fields)
        out = std::copy_n(field.data(), field.size(), out); // an empty field may have no data at all
    block.truncate(out - block.constData());
    m_cards.push_back(CardRef{quint32(m_blocks.size() - 1), quint32(offset)});
}

void CardList::append(const ContactFields &fields)
{
    std::array<QByteArray, kContactColumnCount> utf8;
    ContactFieldsUtf8 views;
    for (int i = 0; i < kContactColumnCount; ++i) {
        utf8[size_t(i)] = fields[size_t(i)].toUtf8();
        views[size_t(i)] = utf8[size_t(i)];
    }
    append(views);
}

void CardList::appendList(CardList &&other)
{
    const auto blockShift = quint32(m_blocks.size());
    m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
    m_cards.reserve(m_cards.size() + other.m_cards.size());
    for (QByteArray &block : other.m_blocks)
        m_blocks.push_back(std::move(block));
    for (const CardRef ref : other.m_cards)
        m_cards.push_back(CardRef{ref.block + blockShift, ref.offset});
    other.clear();
}

void CardList::clear()
{
    m_blocks.clear();
    m_cards.clear();
}
