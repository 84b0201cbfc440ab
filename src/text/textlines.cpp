#include "text/textlines.h"

#include <QStringDecoder>

#include <algorithm>
#include <utility>

namespace {

/*
 * Makes room for count elements in all, doubling the capacity when it grows, so that appending
 * one file after another copies the list a logarithmic number of times, not once per file.
 * May throw before anything changes.
 */
template<typename T>
void reserveGrowing(std::vector<T> &list, size_t count)
{
    if (count > list.capacity())
        list.reserve(std::max(count, 2 * list.capacity()));
}

/*
 * Lines appended one by one gather in a chunk of at most this many bytes; then a new one starts.
 * A chunk grows by doubling, each time copied whole while the old copy is still held: a cap
 * keeps that copy small, where one chunk of a large table would briefly hold it twice.
 */
constexpr qsizetype kAppendChunkBytes = qsizetype(32) << 20;

} // namespace

QString utf8LineText(QByteArrayView line)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(line);
}

QString TextLines::at(qsizetype i) const
{
    return utf8LineText(utf8At(i));
}

void TextLines::reserveEnd()
{
    const size_t page = size_t(m_size >> kPageBits);
    const qsizetype slot = m_size & (kPageSize - 1);
    if (page == m_pages.size()) {
        reserveGrowing(m_pages, page + 1);
        m_pages.push_back(Page(new quint32[size_t(kPageSize)]));
    } else if (m_pages[page].use_count() > 1) {
        // A copy of this list shares the page: the slots from here on are this list's alone.
        Page own(new quint32[size_t(kPageSize)]);
        std::memcpy(own.get(), m_pages[page].get(), size_t(slot) * sizeof(quint32));
        m_pages[page] = std::move(own);
    }
}

void TextLines::storeEnd(quint32 relativeEnd)
{
    // reserveEnd made the room: unchecked, as the reads are (chunkOfLine).
    m_pages.data()[m_size >> kPageBits].get()[m_size & (kPageSize - 1)] = relativeEnd;
    ++m_size;
}

void TextLines::appendUtf8(QByteArrayView line)
{
    reserveEnd();
    const bool fits = !m_chunks.empty() && m_chunks.back().appendable
                      && m_chunks.back().end + line.size() - m_chunks.back().base <= kMaxRelativeEnd
                      && m_chunks.back().bytes.size() + line.size() <= kAppendChunkBytes;
    if (fits) {
        Chunk &chunk = m_chunks.back();
        chunk.bytes.append(line);
        chunk.end = chunk.bytes.size();
    } else {
        reserveGrowing(m_chunks, m_chunks.size() + 1);
        m_chunks.push_back(Chunk{line.toByteArray(), 0, line.size(), m_size, true});
    }
    const Chunk &chunk = m_chunks.back();
    storeEnd(quint32(chunk.end - chunk.base));
}

void TextLines::appendUtf8Buffer(QByteArray &line)
{
    // Shorter lines are gathered into a shared buffer; a copy of a few of them costs little.
    constexpr qsizetype kLongLine = qsizetype(1) << 20;
    if (line.size() < kLongLine) {
        appendUtf8(line);
        return;
    }
    reserveEnd();
    reserveGrowing(m_chunks, m_chunks.size() + 1);
    const qsizetype size = line.size();
    // A chunk of its own that takes no more lines, so that the next line never grows this buffer.
    m_chunks.push_back(Chunk{std::move(line), 0, size, m_size, false});
    line = QByteArray();
    storeEnd(quint32(std::min(size, kMaxRelativeEnd)));
}

void TextLines::appendLines(TextLines &&other)
{
    if (other.isEmpty())
        return;
    if (isEmpty()) {
        *this = std::exchange(other, TextLines()); // other is left empty
        return;
    }
    const qsizetype offset = m_size;
    reserveGrowing(m_chunks, m_chunks.size() + other.m_chunks.size());
    // The ends are copied page by page; each of other's pages is freed once it is copied, so
    // the two lists together never hold much more than one of them.
    for (qsizetype i = 0; i < other.m_size;) {
        reserveEnd();
        const qsizetype slot = m_size & (kPageSize - 1);
        const qsizetype otherSlot = i & (kPageSize - 1);
        const qsizetype count = std::min({kPageSize - slot, kPageSize - otherSlot, other.m_size - i});
        Page &from = other.m_pages[size_t(i >> kPageBits)];
        std::memcpy(m_pages[size_t(m_size >> kPageBits)].get() + slot, from.get() + otherSlot,
                    size_t(count) * sizeof(quint32));
        m_size += count;
        i += count;
        if ((i & (kPageSize - 1)) == 0)
            from.reset();
    }
    for (Chunk &chunk : other.m_chunks) {
        chunk.firstLine += offset;
        m_chunks.push_back(std::move(chunk));
    }
    for (const qsizetype end : other.m_fileEnds)
        m_fileEnds.push_back(end + offset);
    other.clear();
}

void TextLines::markFileEnd()
{
    if (m_fileEnds.empty() || m_fileEnds.back() != m_size)
        m_fileEnds.push_back(m_size);
}

void TextLines::truncate(qsizetype count)
{
    if (count >= m_size)
        return;
    if (count <= 0) {
        clear();
        return;
    }
    qsizetype lastLine = 0;
    chunkOfLine(count - 1, &lastLine);
    while (m_chunks.back().firstLine >= count)
        m_chunks.pop_back();
    Chunk &chunk = m_chunks.back();
    if (count - 1 < lastLine) // the new last line was not the chunk's last, so its end fits
        chunk.end = chunk.base + relativeEnd(count - 1);
    if (chunk.appendable)
        chunk.bytes.truncate(chunk.end);
    m_size = count;
    m_pages.resize(size_t((count + kPageSize - 1) >> kPageBits));
    while (!m_fileEnds.empty() && m_fileEnds.back() > count)
        m_fileEnds.pop_back();
}

void TextLines::unsharePages()
{
    for (Page &page : m_pages) {
        if (page.use_count() > 1) {
            Page own(new quint32[size_t(kPageSize)]);
            std::memcpy(own.get(), page.get(), size_t(kPageSize) * sizeof(quint32));
            page = std::move(own);
        }
    }
}

void TextLines::removeLines(const std::vector<bool> &removed)
{
    Q_ASSERT(qsizetype(removed.size()) == m_size);
    if (std::find(removed.begin(), removed.end(), true) == removed.end())
        return;
    unsharePages();
    // Every line keeps its chunk. A line's new number is never above its old one, so its old
    // end is read before the slot is written again.
    std::vector<Chunk> chunks;
    chunks.reserve(m_chunks.size());
    qsizetype kept = 0;
    for (size_t k = 0; k < m_chunks.size(); ++k) {
        Chunk &chunk = m_chunks[k];
        const qsizetype lastLine = (k + 1 == m_chunks.size() ? m_size : m_chunks[k + 1].firstLine) - 1;
        const qsizetype firstKept = kept;
        char *bytes = nullptr; // taken (and so detached) only once something moves
        qsizetype oldStart = chunk.base;
        qsizetype newEnd = chunk.base;
        for (qsizetype i = chunk.firstLine; i <= lastLine; ++i) {
            const qsizetype oldEnd = i == lastLine ? chunk.end : chunk.base + relativeEnd(i);
            if (!removed[size_t(i)]) {
                const qsizetype length = oldEnd - oldStart;
                if (newEnd != oldStart) {
                    if (!bytes)
                        bytes = chunk.bytes.data();
                    std::memmove(bytes + newEnd, bytes + oldStart, size_t(length));
                }
                newEnd += length;
                m_pages[size_t(kept >> kPageBits)][size_t(kept & (kPageSize - 1))] = quint32(newEnd - chunk.base);
                ++kept;
            }
            oldStart = oldEnd;
        }
        if (kept == firstKept)
            continue; // every line of the chunk went
        chunk.firstLine = firstKept;
        chunk.end = newEnd;
        if (chunk.appendable)
            chunk.bytes.truncate(newEnd);
        chunks.push_back(std::move(chunk));
    }
    m_chunks = std::move(chunks);
    m_size = kept;
    m_pages.resize(size_t((kept + kPageSize - 1) >> kPageBits));
    // A file's end moves up by the lines removed before it.
    if (!m_fileEnds.empty()) {
        size_t mark = 0;
        qsizetype keptBefore = 0;
        for (size_t i = 0; i <= removed.size() && mark < m_fileEnds.size(); ++i) {
            while (mark < m_fileEnds.size() && m_fileEnds[mark] == qsizetype(i))
                m_fileEnds[mark++] = keptBefore;
            if (i < removed.size() && !removed[i])
                ++keptBefore;
        }
        m_fileEnds.erase(std::unique(m_fileEnds.begin(), m_fileEnds.end()), m_fileEnds.end());
    }
}

void TextLines::clear()
{
    m_chunks.clear();
    m_pages.clear();
    m_size = 0;
    m_fileEnds.clear();
}

QStringList TextLines::toStringList() const
{
    QStringList result;
    result.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        result.append(at(i));
    return result;
}

TextLines TextLines::fromStringList(const QStringList &lines)
{
    TextLines result;
    for (const QString &line : lines)
        result.append(line);
    return result;
}
