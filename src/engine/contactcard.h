#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <vector>

/** The fifteen fields of a contact, in the fixed order that every export keeps. */
enum class ContactColumn {
    FormattedName,
    StructuredName,
    Phone1,
    Phone2,
    Phone3,
    Organization,
    Address,
    Revision,
    Email1,
    Email2,
    Email3,
    Email4,
    Email5,
    Url,
    Note,
};

inline constexpr int kContactColumnCount = 15;

/** The fifteen field texts of one card. */
using ContactFields = std::array<QString, kContactColumnCount>;

/** The fifteen fields of one card as UTF-8. */
using ContactFieldsUtf8 = std::array<QByteArrayView, kContactColumnCount>;

/** The fifteen fields of one card as UTF-8, each in a buffer (nullptr: an empty field). */
using ContactFieldBuffers = std::array<const QByteArray *, kContactColumnCount>;

/**
 * The cards of a scan, in order, with their fields as UTF-8.
 *
 * Each card is one record in a large block: the fifteen field lengths in a few bytes, then the
 * fields' bytes. A million cards cost little more than their text, and appending never moves
 * what is stored already. A field of a megabyte or more that arrives in a buffer of its own
 * stays there, as a block of its own, instead of being copied.
 */
class CardList
{
public:
    qsizetype size() const { return qsizetype(m_cards.size()); }
    bool isEmpty() const { return m_cards.empty(); }

    /** Field column of card index, as UTF-8. */
    QByteArrayView field(qsizetype index, int column) const;
    QByteArrayView field(qsizetype index, ContactColumn column) const { return field(index, int(column)); }
    /** All fields of card index, as UTF-8. */
    ContactFieldsUtf8 fieldsUtf8(qsizetype index) const;
    /** All fields of card index, as text. */
    ContactFields fields(qsizetype index) const;

    void append(const ContactFieldsUtf8 &fields);
    void append(const ContactFields &fields);
    /**
     * Appends a card whose fields are held in buffers. A field of a megabyte or more keeps its
     * buffer's bytes, shared with the caller (QByteArray's implicit sharing), without a copy;
     * the others are copied as append does. A caller that changes such a buffer afterwards
     * gets a copy of its own, and the list keeps the bytes it was given.
     */
    void appendBuffers(const ContactFieldBuffers &fields);
    /** Appends card index of other, sharing its long fields' bytes instead of copying them. */
    void appendCardOf(const CardList &other, qsizetype index);
    /** Moves all cards of other to the end of this list. */
    void appendList(CardList &&other);
    void clear();
    /**
     * Frees the memory of the cards in [from, to) that no card outside that range shares, of a
     * list that is only read from now on and never again in that range: a long walk through the
     * cards gives back what it has passed. Two threads may each release a range of their own
     * while they read cards outside both ranges.
     */
    void releaseCards(qsizetype from, qsizetype to);

private:
    struct CardRef {
        quint32 block;
        quint32 offset; // kSeparateFields set: the record says which fields are blocks of their own
    };

    static constexpr quint32 kSeparateFields = quint32(1) << 31;

    /* The fields of a record with fields in blocks of their own; blocks gets those blocks. */
    ContactFieldsUtf8 readSeparateRecord(qsizetype index, std::array<qsizetype, kContactColumnCount> *blocks) const;
    /* The last block that card index uses: its record's, or the last of its fields' own. */
    size_t lastBlockOf(qsizetype index) const;
    /* The block that takes the next record, with room for recordBytes. */
    QByteArray &blockWithRoom(qsizetype recordBytes);
    /* Appends a record whose fields with a non-empty separate buffer are kept in that buffer. */
    void appendSeparateRecord(const ContactFieldsUtf8 &fields,
                              const std::array<QByteArray, kContactColumnCount> &separate);

    std::vector<QByteArray> m_blocks;
    std::vector<CardRef> m_cards;
    qsizetype m_openBlock = -1; // the block that takes the next records, -1 when none does
};
