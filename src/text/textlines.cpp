#include "text/textlines.h"

#include "text/helperthread.h"
#include "text/singlebytecodec.h"
#include "text/textformat.h"
#include "text/utf8.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// TextLines

namespace {

/* The largest end offset a line of a chunk can have, unless it is the chunk's last line. */
constexpr qsizetype kMaxRelativeEnd = std::numeric_limits<quint32>::max();

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
    m_pages[size_t(m_size >> kPageBits)][size_t(m_size & (kPageSize - 1))] = relativeEnd;
    ++m_size;
}

void TextLines::appendUtf8(QByteArrayView line)
{
    reserveEnd();
    const bool fits = !m_chunks.empty() && m_chunks.back().appendable
                      && m_chunks.back().end + line.size() - m_chunks.back().base <= kMaxRelativeEnd;
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
        *this = std::move(other);
        other.clear();
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
    other.clear();
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
}

void TextLines::clear()
{
    m_chunks.clear();
    m_pages.clear();
    m_size = 0;
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

// ---------------------------------------------------------------------------
// Line splitting: UTF-8 text arrives in blocks and leaves as lines without their breaks.

class LineSplitter
{
public:
    /* Lines go into a buffer of the splitter's own that grows as needed. */
    explicit LineSplitter(qsizetype expectedBytes)
        : m_bytes(expectedBytes, Qt::Uninitialized)
    {
    }

    /*
     * Lines stay in buffer, the whole file as read: the text fed must be buffer's own bytes,
     * from offset from on, and each line moves down over the line breaks before it. Splitters
     * of separate parts of one buffer may run on separate threads; data is buffer's bytes,
     * taken once, as the buffer must not be detached there.
     */
    LineSplitter(const QByteArray &buffer, char *data, qsizetype from)
        : m_bytes(buffer)
        , m_data(data)
        , m_inPlace(true)
        , m_size(from)
        , m_chunkBase(from)
        , m_lastEnd(from)
    {
    }

    void feed(const char *data, qsizetype size)
    {
        const char *const end = data + size;
        if (m_pendingCr && data != end) {
            m_pendingCr = false;
            if (*data == '\n')
                ++data;
        }
        while (data != end) {
            const char *breakAt = nextBreak(data, end);
            append(data, breakAt - data);
            m_open = true;
            if (breakAt == end)
                break;
            endLine();
            data = breakAt + 1;
            if (*breakAt == '\r') {
                if (data == end)
                    m_pendingCr = true;
                else if (*data == '\n')
                    ++data;
            }
        }
    }

    TextLines finish()
    {
        if (m_open)
            endLine();
        if (m_chunkLines > 0)
            closeChunk(m_lastEnd);
        if (m_lines.isEmpty())
            return {};
        if (m_inPlace) {
            for (TextLines::Chunk &chunk : m_lines.m_chunks)
                chunk.bytes = m_bytes;
            return std::move(m_lines);
        }
        m_bytes.truncate(m_size);
        if (m_bytes.capacity() > m_size + m_size / 8)
            m_bytes.squeeze();
        // Every chunk of the file shares its one buffer.
        for (TextLines::Chunk &chunk : m_lines.m_chunks)
            chunk.bytes = m_bytes;
        m_bytes = QByteArray();
        return std::move(m_lines);
    }

private:
    /* The first CR or LF from from on, or end: eight bytes at a time, as lines are short. */
    static const char *nextBreak(const char *from, const char *end)
    {
        constexpr quint64 kOnes = 0x0101010101010101ULL;
        constexpr quint64 kHighs = 0x8080808080808080ULL;
        for (; end - from >= 8; from += 8) {
            quint64 word;
            std::memcpy(&word, from, 8);
            const quint64 lf = word ^ (kOnes * '\n');
            const quint64 cr = word ^ (kOnes * '\r');
            // A byte of lf or cr is zero where the word holds that break.
            if (((lf - kOnes) & ~lf & kHighs) | ((cr - kOnes) & ~cr & kHighs))
                break;
        }
        while (from != end && *from != '\n' && *from != '\r')
            ++from;
        return from;
    }

    /* Appends bytes, growing the buffer geometrically: plain copies, no per-line bookkeeping. */
    void append(const char *data, qsizetype size)
    {
        if (m_inPlace) {
            // The bytes are already in the buffer, at or after the place they go to.
            if (data != m_data + m_size)
                std::memmove(m_data + m_size, data, size_t(size));
            m_size += size;
            return;
        }
        if (m_size + size > m_bytes.size())
            m_bytes.resize(std::max(m_size + size, m_bytes.size() + m_bytes.size() / 2 + 4096));
        std::memcpy(m_bytes.data() + m_size, data, size_t(size));
        m_size += size;
    }

    /* Ends the chunk that started at m_chunkBase with the line that ends at end. */
    void closeChunk(qsizetype end)
    {
        m_lines.m_chunks.push_back(TextLines::Chunk{QByteArray(), m_chunkBase, end, m_chunkFirstLine, false});
        m_chunkBase = end;
        m_chunkFirstLine = m_lines.m_size;
        m_chunkLines = 0;
    }

    /*
     * Records the line that ends at m_size. A line's end is kept as 32 bits from its chunk's
     * base, so a chunk ends before a line whose end would not fit; a line longer than that
     * makes a chunk of its own, whose end the chunk keeps.
     */
    void endLine()
    {
        const qsizetype end = m_size;
        if (end - m_chunkBase > kMaxRelativeEnd && m_chunkLines > 0)
            closeChunk(m_lastEnd);
        m_lines.reserveEnd();
        m_lines.storeEnd(quint32(end - m_chunkBase));
        ++m_chunkLines;
        m_lastEnd = end;
        if (end - m_chunkBase > kMaxRelativeEnd)
            closeChunk(end);
        m_open = false;
    }

    QByteArray m_bytes;     // the first m_size bytes are in use
    char *m_data = nullptr; // in place: m_bytes's bytes
    bool m_inPlace = false;
    qsizetype m_size = 0;
    TextLines m_lines;         // the line ends and chunks found so far, without their bytes
    qsizetype m_chunkBase = 0; // where the open chunk starts
    qsizetype m_chunkFirstLine = 0;
    qsizetype m_chunkLines = 0; // lines in the open chunk
    qsizetype m_lastEnd = 0;    // where the last line ended
    bool m_open = false;        // bytes (or an empty line) have started since the last break
    bool m_pendingCr = false;   // the last block ended with CR; an LF that follows belongs to it
};

// ---------------------------------------------------------------------------
// Strict UTF-8 validation that carries an incomplete sequence over to the next block.

namespace {

constexpr qsizetype kBlockSize = qsizetype(64) << 10;

enum class FileEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

FileEncoding encodingFromChoice(TextEncoding choice)
{
    switch (choice) {
    case TextEncoding::Ansi:
        return FileEncoding::Ansi;
    case TextEncoding::Utf8:
        return FileEncoding::Utf8;
    case TextEncoding::Utf16:
        break;
    }
    return FileEncoding::Utf16LE;
}

/* Detects a byte-order mark at the start of the file; returns its length (0 when none). */
qsizetype detectByteOrderMark(QByteArrayView head, FileEncoding &encoding)
{
    if (head.startsWith("\xEF\xBB\xBF")) {
        encoding = FileEncoding::Utf8;
        return 3;
    }
    if (head.startsWith("\xFF\xFE")) {
        encoding = FileEncoding::Utf16LE;
        return 2;
    }
    if (head.startsWith("\xFE\xFF")) {
        encoding = FileEncoding::Utf16BE;
        return 2;
    }
    return 0;
}

/* Turns blocks of the file's encoding into UTF-8 blocks for the splitter. */
class BlockDecoder
{
public:
    explicit BlockDecoder(FileEncoding encoding)
        : m_encoding(encoding)
        // The file's own mark is gone already; a second one is text, as it is in UTF-8.
        , m_utf16(encoding == FileEncoding::Utf16BE ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                  QStringConverter::Flag::ConvertInitialBom)
    {
    }

    /* Feeds one block; returns false when the text is not valid UTF-8. */
    bool feed(QByteArrayView block, LineSplitter &splitter)
    {
        switch (m_encoding) {
        case FileEncoding::Utf8:
            return feedUtf8(block, splitter);
        case FileEncoding::Ansi: {
            const SingleByteCodec &codec = SingleByteCodec::ansi();
            m_scratch.clear();
            for (char byte : block)
                codec.appendUtf8(static_cast<unsigned char>(byte), m_scratch);
            splitter.feed(m_scratch.constData(), m_scratch.size());
            return true;
        }
        case FileEncoding::Utf16LE:
        case FileEncoding::Utf16BE: {
            m_utf16Bytes += block.size();
            const QByteArray utf8 = QString(m_utf16.decode(block)).toUtf8();
            splitter.feed(utf8.constData(), utf8.size());
            return true;
        }
        }
        return true;
    }

    /* Ends the stream; returns false when it ends inside a UTF-8 sequence. */
    bool finish(LineSplitter &splitter)
    {
        if (m_encoding == FileEncoding::Utf16LE || m_encoding == FileEncoding::Utf16BE) {
            const QByteArray rest = QString(m_utf16.decode(QByteArrayView())).toUtf8();
            splitter.feed(rest.constData(), rest.size());
            // The decoder keeps an odd trailing byte to itself without an error: keep it
            // visible instead of dropping it.
            if (m_utf16Bytes % 2 != 0) {
                const QByteArray replacement = QString(QChar::ReplacementCharacter).toUtf8();
                splitter.feed(replacement.constData(), replacement.size());
            }
        }
        return m_carry.isEmpty();
    }

private:
    bool feedUtf8(QByteArrayView block, LineSplitter &splitter)
    {
        if (!m_carry.isEmpty()) {
            // Complete the sequence that the previous block cut.
            const qsizetype needed = std::min<qsizetype>(4 - m_carry.size(), block.size());
            m_carry.append(block.first(needed));
            const auto *start = reinterpret_cast<const unsigned char *>(m_carry.constData());
            const int length = utf8::sequenceLength(start, start + m_carry.size());
            if (length == 0)
                return false;
            if (length < 0) // still incomplete: the block was tiny
                return block.size() == needed;
            const qsizetype fromBlock = length - (m_carry.size() - needed);
            splitter.feed(m_carry.constData(), length);
            m_carry.clear();
            block = block.sliced(fromBlock);
        }
        const auto *begin = reinterpret_cast<const unsigned char *>(block.data());
        const qsizetype incomplete = utf8::checkBlock(begin, begin + block.size());
        if (incomplete < 0)
            return false;
        const qsizetype complete = block.size() - incomplete;
        splitter.feed(block.data(), complete);
        m_carry = block.sliced(complete).toByteArray();
        return true;
    }

    FileEncoding m_encoding;
    QStringDecoder m_utf16;
    qint64 m_utf16Bytes = 0;
    QByteArray m_scratch;
    QByteArray m_carry;
};

} // namespace

QString invalidUtf8Message()
{
    return QStringLiteral("No mapping for the Unicode character exists in the target multi-byte code page");
}

namespace {

QString cannotReadMessage(const QString &path, const QFile &file)
{
    return formatText(QStringLiteral("Cannot read file \"%s\". %s"), {path, file.errorString()});
}

/* Reads the rest of file after the bytes already in buffer, up to size bytes in all; false on a read error. */
bool readRest(QFile &file, qint64 size, QByteArray &buffer)
{
    qsizetype used = buffer.size();
    buffer.resize(std::max<qsizetype>(used, size));
    while (used < buffer.size()) {
        const qint64 got = file.read(buffer.data() + used, buffer.size() - used);
        if (got < 0)
            return false;
        if (got == 0)
            break; // the file was cut short meanwhile
        used += got;
    }
    buffer.truncate(used);
    return true;
}

/* The first line break at or after from, or size when there is none. */
qsizetype nextLineFeed(QByteArrayView bytes, qsizetype from)
{
    const qsizetype at = bytes.sliced(from).indexOf('\n');
    return at < 0 ? bytes.size() : from + at + 1;
}

/*
 * Splits the UTF-8 text of buffer after its first skip bytes into lines, in place: the lines
 * keep the buffer. Large files are split in two halves after a line feed, each checked and
 * split on its own thread. Returns false when the text is not valid UTF-8.
 */
bool splitUtf8Buffer(QByteArray &buffer, qsizetype skip, TextLines &lines)
{
    char *const data = buffer.data(); // detached once, before any second thread starts
    const qsizetype size = buffer.size();
    auto splitPart = [&](qsizetype from, qsizetype to, TextLines &part) {
        const auto *begin = reinterpret_cast<const unsigned char *>(data);
        if (utf8::checkBlock(begin + from, begin + to) != 0)
            return false;
        LineSplitter splitter(buffer, data, from);
        splitter.feed(data + from, to - from);
        part = splitter.finish();
        return true;
    };
    constexpr qsizetype kBytesWorthASecondThread = qsizetype(16) << 20;
    const qsizetype middle
        = size - skip >= kBytesWorthASecondThread ? nextLineFeed(buffer, skip + (size - skip) / 2) : size;
    if (middle >= size)
        return splitPart(skip, size, lines);
    TextLines later;
    bool laterValid = false;
    HelperThread helper([&] { laterValid = splitPart(middle, size, later); });
    const bool earlierValid = splitPart(skip, middle, lines);
    helper.join();
    if (!earlierValid || !laterValid)
        return false;
    lines.appendLines(std::move(later));
    return true;
}

} // namespace

QString notEnoughMemoryToReadMessage(const QString &path)
{
    return formatText(QStringLiteral("Cannot read file \"%s\". %s"), {path, QStringLiteral("Not enough memory")});
}

TextFileReader::TextFileReader(const QString &path)
    : m_path(path)
    , m_file(std::make_unique<QFile>(path))
{
    if (QFileInfo(path).isDir())
        m_openError = QStringLiteral("Is a directory");
    else if (!m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        m_openError = m_file->errorString();
    else
        m_size = m_file->size();
}

TextFileReader::~TextFileReader() = default;

bool TextFileReader::readLines(TextEncoding encoding, TextLines &lines, QString *error)
{
    lines.clear();
    QFile &file = *m_file;
    if (!file.isOpen()) {
        if (error)
            *error = formatText(QStringLiteral("Cannot open file \"%s\". %s"), {m_path, m_openError});
        return false;
    }

    // Nothing beyond the size at the opening is read: lines appended meanwhile wait for the next read.
    qint64 unread = m_size;
    QByteArray block(kBlockSize, Qt::Uninitialized);
    const qint64 first = file.read(block.data(), std::min<qint64>(kBlockSize, unread));
    if (first < 0) {
        if (error)
            *error = cannotReadMessage(m_path, file);
        return false;
    }
    unread -= first;
    block.truncate(first);
    FileEncoding fileEncoding = encodingFromChoice(encoding);
    const qsizetype markLength = detectByteOrderMark(block, fileEncoding);

    if (fileEncoding == FileEncoding::Utf8) {
        // The whole file in one buffer, split where it lies: no second copy of the text.
        if (!readRest(file, m_size, block)) {
            if (error)
                *error = cannotReadMessage(m_path, file);
            return false;
        }
        // A small file keeps no more than its size (the first read took a whole block).
        if (block.capacity() > block.size() + block.size() / 8)
            block.squeeze();
        if (!splitUtf8Buffer(block, markLength, lines)) {
            lines.clear();
            if (error)
                *error = invalidUtf8Message();
            return false;
        }
        return true;
    }

    LineSplitter splitter(m_size);
    BlockDecoder decoder(fileEncoding);
    QByteArrayView data = QByteArrayView(block).sliced(markLength);
    while (!data.isEmpty()) {
        decoder.feed(data, splitter);
        const qint64 got = unread > 0 ? file.read(block.data(), std::min<qint64>(kBlockSize, unread)) : 0;
        if (got < 0) {
            if (error)
                *error = cannotReadMessage(m_path, file);
            return false;
        }
        unread -= got;
        data = QByteArrayView(block.constData(), got);
    }
    decoder.finish(splitter);
    lines = splitter.finish();
    return true;
}

bool readTextLines(const QString &path, TextEncoding encoding, TextLines &lines, QString *error)
{
    return TextFileReader(path).readLines(encoding, lines, error);
}

qint64 fileSize64(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}
