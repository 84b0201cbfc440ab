#include "engine/textnumbers.h"

void TextNumbers::resize(qsizetype minimum)
{
    size_t slotCount = 16;
    while (slotCount < size_t(minimum))
        slotCount *= 2;
    m_slots.assign(slotCount, Slot());
    m_mask = slotCount - 1;
    for (size_t n = 0; n < m_texts.size(); ++n) {
        size_t i = m_hashes[n] & m_mask;
        while (m_slots[i].number != 0)
            i = (i + 1) & m_mask;
        m_slots[i] = {checkOf(m_hashes[n]), quint32(n + 1)};
    }
}
