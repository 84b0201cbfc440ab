#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

/** The three encodings a user can choose for reading and writing text files. */
enum class TextEncoding { Ansi, Utf8, Utf16 };

/**
 * An ordered list of text lines, stored compactly as UTF-8 without line-break characters.
 *
 * Lines are kept in large shared buffers (one per appended file) with one end offset per
 * line, so that millions of lines cost little more than their text. Lines are only ever
 * appended; the list can be emptied as a whole.
 */
class TextLines
{
public:
    qsizetype size() const { return qsizetype(m_lineEnds.size()); }
    bool isEmpty() const { return m_lineEnds.empty(); }

    /** The bytes of line i (valid UTF-8), without its line break. */
    QByteArrayView utf8At(qsizetype i) const;
    /** Line i as text (a U+FEFF at its start included). */
    QString at(qsizetype i) const;

    void append(QStringView line) { appendUtf8(line.toUtf8()); }
    /** Appends one line given as UTF-8; the caller vouches for its validity. */
    void appendUtf8(QByteArrayView line);
    /** Moves all lines of other to the end of this list. */
    void appendLines(TextLines &&other);
    void clear();

    QStringList toStringList() const;
    static TextLines fromStringList(const QStringList &lines);

private:
    friend class LineSplitter;

    struct Chunk {
        QByteArray bytes;
        qsizetype firstLine = 0;
    };
    const Chunk &chunkOfLine(qsizetype i) const;

    std::vector<Chunk> m_chunks;
    std::vector<qsizetype> m_lineEnds; // end offset of each line within its chunk
};

/**
 * Reads a text file into lines.
 *
 * A byte-order mark (UTF-8, UTF-16 LE or BE) decides the encoding whatever the choice and is
 * not part of the first line; otherwise the chosen encoding is used (ANSI is the user's code
 * page, UTF-16 is little-endian). Lines end at CR LF, LF or a lone CR; a break at the very end
 * adds no empty line. UTF-8 is strict: any invalid sequence fails the whole read with
 * "No mapping for the Unicode character exists in the target multi-byte code page".
 * A file that cannot be opened fails with "Cannot open file "<path>". <reason>".
 * On failure, lines is left empty and error holds the message.
 */
bool readTextLines(const QString &path, TextEncoding encoding, TextLines &lines, QString *error);

/** The size of the named file in bytes, or -1 when there is no such file. */
qint64 fileSize64(const QString &path);

/** The error text of strict UTF-8 decoding. */
QString invalidUtf8Message();
