// Reading a text file into TextLines: the bytes are decoded to UTF-8 where they are not UTF-8
// already, and split into lines without their breaks.

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

/* Splits UTF-8 text, which arrives in blocks, into lines without their breaks. */
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
        if (end - m_chunkBase > TextLines::kMaxRelativeEnd && m_chunkLines > 0)
            closeChunk(m_lastEnd);
        m_lines.reserveEnd();
        m_lines.storeEnd(quint32(end - m_chunkBase));
        ++m_chunkLines;
        m_lastEnd = end;
        if (end - m_chunkBase > TextLines::kMaxRelativeEnd)
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

namespace {

constexpr qsizetype kBlockSize = qsizetype(64) << 10;

enum class FileEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

FileEncoding encodingFromChoice(TextEncoding choice, Utf16Order utf16Order)
{
    switch (choice) {
    case TextEncoding::Ansi:
        return FileEncoding::Ansi;
    case TextEncoding::Utf8:
        return FileEncoding::Utf8;
    case TextEncoding::Utf16:
        break;
    }
    return utf16Order == Utf16Order::BigEndian ? FileEncoding::Utf16BE : FileEncoding::Utf16LE;
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

/*
 * Turns blocks of ANSI or UTF-16 into UTF-8 blocks for the splitter. A UTF-8 file needs no
 * decoder: it is checked and split where it lies.
 */
class BlockDecoder
{
public:
    explicit BlockDecoder(FileEncoding encoding)
        : m_ansi(encoding == FileEncoding::Ansi)
        // The file's own mark is gone already; a second one is text, as it is in UTF-8.
        , m_utf16(encoding == FileEncoding::Utf16BE ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                  QStringConverter::Flag::ConvertInitialBom)
    {
        Q_ASSERT(encoding != FileEncoding::Utf8);
    }

    /* Feeds one block. */
    void feed(QByteArrayView block, LineSplitter &splitter)
    {
        if (m_ansi) {
            const SingleByteCodec &codec = SingleByteCodec::ansi();
            m_scratch.clear();
            for (char byte : block)
                codec.appendUtf8(static_cast<unsigned char>(byte), m_scratch);
            splitter.feed(m_scratch.constData(), m_scratch.size());
            return;
        }
        m_utf16Bytes += block.size();
        const QByteArray utf8 = QString(m_utf16.decode(block)).toUtf8();
        splitter.feed(utf8.constData(), utf8.size());
    }

    /* Ends the stream. */
    void finish(LineSplitter &splitter)
    {
        if (m_ansi)
            return;
        const QByteArray rest = QString(m_utf16.decode(QByteArrayView())).toUtf8();
        splitter.feed(rest.constData(), rest.size());
        // The decoder keeps an odd trailing byte to itself without an error: keep it visible
        // instead of dropping it.
        if (m_utf16Bytes % 2 != 0) {
            const QByteArray replacement = QString(QChar::ReplacementCharacter).toUtf8();
            splitter.feed(replacement.constData(), replacement.size());
        }
    }

private:
    bool m_ansi;
    QStringDecoder m_utf16;
    qint64 m_utf16Bytes = 0;
    QByteArray m_scratch;
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

/* The message for a file that ended before the size it had when it was opened. */
QString changedWhileReadMessage(const QString &path)
{
    return formatText(QStringLiteral("Cannot read file \"%s\". %s"),
                      {path, QStringLiteral("The file changed while it was read")});
}

/*
 * Reads the rest of file after the bytes already in buffer, up to size bytes in all; false with
 * *error set on a read error or when the file ends sooner (it was cut short meanwhile).
 */
bool readRest(QFile &file, const QString &path, qint64 size, QByteArray &buffer, QString *error)
{
    qsizetype used = buffer.size();
    buffer.resize(std::max<qsizetype>(used, size));
    while (used < buffer.size()) {
        const qint64 got = file.read(buffer.data() + used, buffer.size() - used);
        if (got <= 0) {
            if (error)
                *error = got < 0 ? cannotReadMessage(path, file) : changedWhileReadMessage(path);
            return false;
        }
        used += got;
    }
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

bool TextFileReader::readLines(TextEncoding encoding, TextLines &lines, QString *error, Utf16Order utf16Order)
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
    if (first < 0 || (first == 0 && unread > 0)) {
        if (error)
            *error = first < 0 ? cannotReadMessage(m_path, file) : changedWhileReadMessage(m_path);
        return false;
    }
    unread -= first;
    block.truncate(first);
    FileEncoding fileEncoding = encodingFromChoice(encoding, utf16Order);
    const qsizetype markLength = detectByteOrderMark(block, fileEncoding);

    if (fileEncoding == FileEncoding::Utf8) {
        // The whole file in one buffer, split where it lies: no second copy of the text.
        if (!readRest(file, m_path, m_size, block, error))
            return false;
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
        if (got < 0 || (got == 0 && unread > 0)) {
            if (error)
                *error = got < 0 ? cannotReadMessage(m_path, file) : changedWhileReadMessage(m_path);
            return false;
        }
        unread -= got;
        data = QByteArrayView(block.constData(), got);
    }
    decoder.finish(splitter);
    lines = splitter.finish();
    return true;
}

bool readTextLines(const QString &path, TextEncoding encoding, TextLines &lines, QString *error, Utf16Order utf16Order)
{
    return TextFileReader(path).readLines(encoding, lines, error, utf16Order);
}

qint64 fileSize64(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}
