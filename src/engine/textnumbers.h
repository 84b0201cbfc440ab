#pragma once

#include <QByteArrayView>

#include <vector>

/**
 * Numbers distinct texts in the order they first appear, so that equal texts share one entry
 * (the shared strings of an .xls workbook). The table holds no copies: the texts are views into
 * the caller's bytes, which outlive the numbering. Their hashes come with them, made where the
 * rows were made ready. Open addressing over (hash, number) pairs keeps a lookup to one or two
 * slots, and a text is compared only when its hash matches.
 *
 * A table of its own rather than QHash, which keeps no part of a key's hash and compares the
 * keys themselves at every slot it probes: numbering the cells through QHash took half as long
 * again (callgrind, 50,000 cards to .xls: 45 million instructions with this table, 70 million
 * with QHash).
 */
class TextNumbers
{
public:
    explicit TextNumbers(qsizetype expectedTexts) { resize(expectedTexts); }

    /** The number of text, whose hash is given, the next free one when the text is new. */
    quint32 numberOf(QByteArrayView text, size_t hash)
    {
        // At most half full, so that a search ends soon at a free slot.
        if (2 * (m_texts.size() + 1) > m_slots.size())
            resize(2 * qsizetype(m_slots.size()));
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.number == 0) {
                m_texts.push_back(text);
                m_hashes.push_back(hash);
                slot = {checkOf(hash), quint32(m_texts.size())};
                return slot.number - 1;
            }
            if (slot.check == checkOf(hash) && m_texts[slot.number - 1] == text)
                return slot.number - 1;
        }
    }

    /** The distinct texts by number. */
    const std::vector<QByteArrayView> &texts() const { return m_texts; }

private:
    struct Slot {
        quint32 check = 0;  // the high bits of the text's hash, which the slot's place does not tell
        quint32 number = 0; // one-based, so that zero marks a free slot
    };

    static quint32 checkOf(size_t hash) { return quint32(quint64(hash) >> 32); }

    /** Makes room for at least minimum slots (a power of two) and puts the texts so far back in. */
    void resize(qsizetype minimum);

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<QByteArrayView> m_texts;
    std::vector<size_t> m_hashes; // of the texts, for putting them into a larger table
};
