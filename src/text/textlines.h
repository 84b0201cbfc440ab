#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

class QFile;

/** The three encodings a user can choose for reading and writing text files. */
enum class TextEncoding { Ansi, Utf8, Utf16 };

/** The byte order in which UTF-16 without a byte-order mark is read. */
enum class Utf16Order { LittleEndian, BigEndian };

/**
 * An ordered list of text lines, stored compactly as UTF-8 without line-break characters.
 *
 * Lines are kept in large shared buffers (one per appended file) with one 32-bit end offset
 * per line, in pages that are never moved or copied as the list grows, so that millions of
 * lines cost little more than their text: 4 bytes a line. Copies share the buffers and
 * pages. Lines are only ever appended; the list can be emptied as a whole or cut short.
 */
class TextLines
{
public:
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    /**
     * The bytes of line i (valid UTF-8), without its line break. Always inlined: the scan and
     * the sort call it for every line, and with the standard library's checked containers it
     * would otherwise grow past the compiler's inlining limit.
     */
    Q_ALWAYS_INLINE QByteArrayView utf8At(qsizetype i) const
    {
        Q_ASSERT(i >= 0 && i < m_size);
        qsizetype lastLine = 0;
        const Chunk &chunk = chunkOfLine(i, &lastLine);
        const qsizetype start = i == chunk.firstLine ? chunk.base : chunk.base + relativeEnd(i - 1);
        const qsizetype end = i == lastLine ? chunk.end : chunk.base + relativeEnd(i);
        return QByteArrayView(chunk.bytes.constData() + start, end - start);
    }
    /** Line i as text (a U+FEFF at its start included). */
    QString at(qsizetype i) const;

    void append(QStringView line) { appendUtf8(line.toUtf8()); }
    /** Appends one line given as UTF-8; the caller vouches for its validity. */
    void appendUtf8(QByteArrayView line);
    /**
     * Appends one line given as UTF-8 in line's buffer. A long line's buffer becomes the list's
     * own, without a copy of its text, and line is left empty; a short one is copied.
     */
    void appendUtf8Buffer(QByteArray &line);
    /** Moves all lines of other to the end of this list, its file ends with them. */
    void appendLines(TextLines &&other);
    /**
     * Records that the lines so far end a file: the lines appended later are another file's.
     * A loader calls it after each file, so that a reader of the lines can keep files apart.
     */
    void markFileEnd();
    /**
     * Where the files recorded by markFileEnd end: for each, the number of lines the list held
     * then, in ascending order. Cutting the list short or removing lines keeps them in place.
     */
    const std::vector<qsizetype> &fileEnds() const { return m_fileEnds; }
    /** Keeps the first count lines and drops the rest. */
    void truncate(qsizetype count);
    /**
     * Drops every line i for which removed[i] is set (removed holds one flag a line). The
     * lines that stay move down in their own buffers, without a second copy of the text; a
     * buffer that a copy of this list shares is copied first.
     */
    void removeLines(const std::vector<bool> &removed);
    void clear();

    QStringList toStringList() const;
    static TextLines fromStringList(const QStringList &lines);

private:
    friend class LineSplitter;

    /*
     * A run of lines in one byte buffer. The chunks of one file share its buffer, cut where
     * 32-bit offsets end; only a chunk with a buffer of its own takes appended lines.
     */
    struct Chunk {
        QByteArray bytes;
        qsizetype base = 0;      // where the chunk's first line starts in bytes
        qsizetype end = 0;       // where its last line ends (a line may be longer than 4 GiB)
        qsizetype firstLine = 0; // its first line's number in the list
        bool appendable = false; // bytes hold this chunk alone and end with its last line
    };
    /* The largest end offset a line of a chunk can have, unless it is the chunk's last line. */
    static constexpr qsizetype kMaxRelativeEnd = std::numeric_limits<quint32>::max();
    static constexpr int kPageBits = 16;
    static constexpr qsizetype kPageSize = qsizetype(1) << kPageBits;
    using Page = std::shared_ptr<quint32[]>;

    /*
     * The reads of a line below index the chunks and pages through plain pointers: every line
     * read passes here, the indexes are in range by construction (utf8At asserts its line), and
     * the checked operators of a hardened build would cost the scan and the sort a few percent.
     */

    /** The chunk that holds line i, and the number of that chunk's last line. */
    const Chunk &chunkOfLine(qsizetype i, qsizetype *lastLine) const
    {
        const Chunk *chunks = m_chunks.data();
        // A chunk or two per file: a short list is searched from its end, a long one halved.
        size_t k = m_chunks.size() - 1;
        if (k < 8) {
            while (chunks[k].firstLine > i)
                --k;
        } else {
            k = size_t(std::upper_bound(m_chunks.begin(), m_chunks.end(), i,
                                        [](qsizetype line, const Chunk &chunk) { return line < chunk.firstLine; })
                       - m_chunks.begin())
                - 1;
        }
        *lastLine = (k + 1 == m_chunks.size() ? m_size : chunks[k + 1].firstLine) - 1;
        return chunks[k];
    }
    /** Line i's end less its chunk's base; only the last line of a chunk may not fit. */
    quint32 relativeEnd(qsizetype i) const { return m_pages.data()[i >> kPageBits].get()[i & (kPageSize - 1)]; }
    /** Makes room for one more end, in a page of this list's own; may throw before anything changes. */
    void reserveEnd();
    /** Appends line m_size's end after reserveEnd(); never throws. */
    void storeEnd(quint32 relativeEnd);
    /** Gives this list pages of its own where a copy shares them. */
    void unsharePages();

    std::vector<Chunk> m_chunks;
    std::vector<Page> m_pages; // the end of every line, less its chunk's base
    qsizetype m_size = 0;
    std::vector<qsizetype> m_fileEnds; // see fileEnds()
};

/**
 * A text file opened for reading, with the size it had then. Reading takes no more than that
 * size, so that a file that another program keeps appending to still ends where it ended when
 * it was opened.
 */
class TextFileReader
{
public:
    /** Opens the file at path; a failure is reported by readLines. */
    explicit TextFileReader(const QString &path);
    ~TextFileReader();
    TextFileReader(const TextFileReader &) = delete;
    TextFileReader &operator=(const TextFileReader &) = delete;

    /** Reads the file into lines, as readTextLines does; once. */
    bool readLines(TextEncoding encoding, TextLines &lines, QString *error,
                   Utf16Order utf16Order = Utf16Order::LittleEndian);

private:
    QString m_path;
    std::unique_ptr<QFile> m_file;
    QString m_openError; // why the file could not be opened
    qint64 m_size = 0;   // its size when it was opened
};

/**
 * Reads a text file into lines, no further than the size the file had when it was opened.
 *
 * A byte-order mark (UTF-8, UTF-16 LE or BE) decides the encoding whatever the choice and is
 * not part of the first line; otherwise the chosen encoding is used (ANSI is the user's code
 * page, UTF-16 is in utf16Order, little-endian unless asked). Lines end at CR LF, LF or a lone CR; a break at the very end
 * adds no empty line. UTF-8 is strict: any invalid sequence fails the whole read with
 * "No mapping for the Unicode character exists in the target multi-byte code page".
 * A file that cannot be opened fails with "Cannot open file "<path>". <reason>"; a file that
 * ends before the size it had at the opening (it was cut short meanwhile) fails with "Cannot
 * read file "<path>". The file changed while it was read", and nothing of it is read.
 * On failure, lines is left empty and error holds the message.
 */
bool readTextLines(const QString &path, TextEncoding encoding, TextLines &lines, QString *error,
                   Utf16Order utf16Order = Utf16Order::LittleEndian);

/**
 * A line kept as UTF-8, as text. A U+FEFF at its start is text too (QString::fromUtf8 would drop
 * it, so that a line read, saved and read again would change each time).
 */
QString utf8LineText(QByteArrayView line);

/** The size of the named file in bytes, or -1 when there is no such file. */
qint64 fileSize64(const QString &path);

/** The error text of strict UTF-8 decoding. */
QString invalidUtf8Message();

/** The error text of a file too large for the memory: "Cannot read file "<path>". Not enough memory". */
QString notEnoughMemoryToReadMessage(const QString &path);
