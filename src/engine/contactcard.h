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

/**
 * The cards of a scan, in order, with their fields as UTF-8.
 *
 * Each card is one record in a large block: the fifteen field lengths in a few bytes, then the
 * fields' bytes. A million cards cost little more than their text, and appending never moves
 * what is stored already.
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
    /** Moves all cards of other to the end of this list. */
    void appendList(CardList &&other);
    void clear();

private:
    struct CardRef {
        quint32 block;
        quint32 offset;
    };

    std::vector<QByteArray> m_blocks;
    std::vector<CardRef> m_cards;
};
