#include "engine/contactcard.h"

#include "engine/lengthcodes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

/* Blocks are this large unless one card needs more; a record starts below 2 GiB for 31-bit offsets. */
constexpr qsizetype kBlockBytes = qsizetype(4) << 20;

/* A field this long that arrives in a buffer of its own is kept there instead of copied. */
constexpr qsizetype kSeparateFieldBytes = qsizetype(1) << 20;

} // namespace

QByteArrayView CardList::field(qsizetype index, int column) const
{
    const CardRef ref = m_cards[size_t(index)];
    if ((ref.offset & kSeparateFields) != 0)
        return readSeparateRecord(index, nullptr)[size_t(column)];
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
    if ((ref.offset & kSeparateFields) != 0)
        return readSeparateRecord(index, nullptr);
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

/*
 * A record with fields in blocks of their own starts with a mask of those fields; in its bytes,
 * each such field is how many blocks after the record's own its block comes.
 */
ContactFieldsUtf8 CardList::readSeparateRecord(qsizetype index,
                                               std::array<qsizetype, kContactColumnCount> *blocks) const
{
    const CardRef ref = m_cards[size_t(index)];
    const char *at = m_blocks[ref.block].constData() + (ref.offset & ~kSeparateFields);
    const quint64 separate = readLength(at);
    quint64 lengths[kContactColumnCount];
    for (quint64 &length : lengths)
        length = readLength(at);
    ContactFieldsUtf8 fields;
    for (int i = 0; i < kContactColumnCount; ++i) {
        if ((separate >> i & 1) == 0) {
            fields[size_t(i)] = QByteArrayView(at, qsizetype(lengths[i]));
            at += lengths[i];
            continue;
        }
        const auto block = qsizetype(ref.block + readLength(at));
        fields[size_t(i)] = QByteArrayView(m_blocks[size_t(block)].constData(), qsizetype(lengths[i]));
        if (blocks)
            (*blocks)[size_t(i)] = block;
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

QByteArray &CardList::blockWithRoom(qsizetype recordBytes)
{
    const bool fits = m_openBlock >= 0
                      && m_blocks[size_t(m_openBlock)].size() + recordBytes <= m_blocks[size_t(m_openBlock)].capacity()
                      && m_blocks[size_t(m_openBlock)].size() < qsizetype(kSeparateFields);
    if (!fits) {
        QByteArray block;
        block.reserve(std::max(kBlockBytes, recordBytes));
        m_blocks.push_back(std::move(block));
        m_openBlock = qsizetype(m_blocks.size()) - 1;
    }
    return m_blocks[size_t(m_openBlock)];
}

void CardList::append(const ContactFieldsUtf8 &fields)
{
    qsizetype bytes = 0;
    for (QByteArrayView field : fields)
        bytes += field.size();
    const qsizetype recordBytes = bytes + kContactColumnCount * 10; // lengths take at most 10 bytes each
    QByteArray &block = blockWithRoom(recordBytes);
    const qsizetype offset = block.size();
    block.resize(offset + recordBytes); // within the capacity: nothing moves
    char *out = block.data() + offset;
    for (QByteArrayView field : fields)
        out = writeLength(out, quint64(field.size()));
    for (QByteArrayView field : fields)
        out = std::copy_n(field.data(), field.size(), out); // an empty field may have no data at all
    block.truncate(out - block.constData());
    m_cards.push_back(CardRef{quint32(m_openBlock), quint32(offset)});
}

void CardList::appendBuffers(const ContactFieldBuffers &fields)
{
    ContactFieldsUtf8 views;
    bool anySeparate = false;
    for (int i = 0; i < kContactColumnCount; ++i) {
        if (const QByteArray *field = fields[size_t(i)]) {
            views[size_t(i)] = *field;
            anySeparate = anySeparate || field->size() >= kSeparateFieldBytes;
        }
    }
    if (!anySeparate) {
        append(views);
        return;
    }
    std::array<QByteArray, kContactColumnCount> separate;
    for (int i = 0; i < kContactColumnCount; ++i) {
        if (views[size_t(i)].size() >= kSeparateFieldBytes)
            separate[size_t(i)] = *fields[size_t(i)]; // shares the bytes
    }
    appendSeparateRecord(views, separate);
}

void CardList::appendCardOf(const CardList &other, qsizetype index)
{
    if ((other.m_cards[size_t(index)].offset & kSeparateFields) == 0) {
        append(other.fieldsUtf8(index));
        return;
    }
    std::array<qsizetype, kContactColumnCount> blocks;
    blocks.fill(-1);
    const ContactFieldsUtf8 fields = other.readSeparateRecord(index, &blocks);
    std::array<QByteArray, kContactColumnCount> separate;
    for (int i = 0; i < kContactColumnCount; ++i) {
        if (blocks[size_t(i)] >= 0)
            separate[size_t(i)] = other.m_blocks[size_t(blocks[size_t(i)])]; // shares the bytes
    }
    appendSeparateRecord(fields, separate);
}

void CardList::appendSeparateRecord(const ContactFieldsUtf8 &fields,
                                    const std::array<QByteArray, kContactColumnCount> &separate)
{
    quint64 separateFields = 0;
    qsizetype bytes = 0;
    for (int i = 0; i < kContactColumnCount; ++i) {
        if (!separate[size_t(i)].isEmpty())
            separateFields |= quint64(1) << i;
        else
            bytes += fields[size_t(i)].size();
    }
    // The mask, the lengths and the block distances take at most 10 bytes each.
    const qsizetype recordBytes = bytes + (2 * kContactColumnCount + 1) * 10;
    blockWithRoom(recordBytes);
    const auto recordBlock = quint32(m_openBlock);
    quint64 blockAfter[kContactColumnCount] = {};
    for (int i = 0; i < kContactColumnCount; ++i) {
        if ((separateFields >> i & 1) != 0) {
            m_blocks.push_back(separate[size_t(i)]);
            blockAfter[i] = m_blocks.size() - 1 - recordBlock;
        }
    }
    QByteArray &block = m_blocks[recordBlock];
    const qsizetype offset = block.size();
    block.resize(offset + recordBytes); // within the capacity: nothing moves
    char *out = writeLength(block.data() + offset, separateFields);
    for (QByteArrayView field : fields)
        out = writeLength(out, quint64(field.size()));
    for (int i = 0; i < kContactColumnCount; ++i) {
        const QByteArrayView field = fields[size_t(i)];
        if ((separateFields >> i & 1) != 0)
            out = writeLength(out, blockAfter[i]);
        else
            out = std::copy_n(field.data(), field.size(), out); // an empty field may have no data at all
    }
    block.truncate(out - block.constData());
    m_cards.push_back(CardRef{recordBlock, quint32(offset) | kSeparateFields});
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
    if (other.m_openBlock >= 0)
        m_openBlock = other.m_openBlock + blockShift;
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
    m_openBlock = -1;
}

size_t CardList::lastBlockOf(qsizetype index) const
{
    // A record's fields in blocks of their own come right after the block that holds it.
    const size_t own = m_cards[size_t(index)].block;
    if (index + 1 == size())
        return m_blocks.size() - 1;
    return std::max<size_t>(own, m_cards[size_t(index) + 1].block - 1);
}

void CardList::releaseCards(qsizetype from, qsizetype to)
{
    if (from >= to || to >= size())
        return;
    const size_t first = from == 0 ? 0 : lastBlockOf(from - 1) + 1;
    const size_t end = m_cards[size_t(to)].block; // blocks before it belong to cards before to
    for (size_t block = first; block < end; ++block)
        m_blocks[block] = QByteArray();
}
