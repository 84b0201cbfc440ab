#include "engine/loading.h"

#include "engine/cardscanner.h"
#include "i18n/translate.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>
#include <optional>

namespace {

QString filenameLine(const QString &path)
{
    return formatText(translate(QStringLiteral("Filename: %s")), path);
}

QStringList emptyFileMessage(const QString &path)
{
    return {translate(QStringLiteral("The file is empty!")), filenameLine(path),
            translate(QStringLiteral("Verify that the file has not been corrupted and that the file extension "
                                     "matches the format of the file."))};
}

/* A file that could not be decoded, named, with the hint that another encoding may read it. */
QStringList undecodableFileMessage(const QString &reason, const QString &path)
{
    return {reason, filenameLine(path),
            translate(QStringLiteral("The file may be saved in another encoding: choose ANSI or UTF-16 and load it "
                                     "again."))};
}

/* A file that another encoding reads as vCards, named, with that encoding to choose. */
QStringList otherEncodingMessage(const QString &path, const QString &encodingName)
{
    return {formatText(translate(QStringLiteral("The file holds no vCard in the chosen encoding, but it does when read "
                                                "as %s.")),
                       encodingName),
            filenameLine(path),
            formatText(translate(QStringLiteral("Choose %s and load the file again.")), encodingName)};
}

QString encodingCaption(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Ansi:
        return QStringLiteral("ANSI");
    case TextEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case TextEncoding::Utf16:
        return QStringLiteral("UTF-16");
    }
    return QString();
}

bool holdsCardBoundary(const TextLines &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isCardBoundaryLine(lines.utf8At(i)))
            return true;
    }
    return false;
}

bool startsWithByteOrderMark(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(3);
    return start.startsWith("\xEF\xBB\xBF") || start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF");
}

/* Whether the lines hold a character above U+007F. */
bool holdsNonAscii(const TextLines &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = lines.utf8At(i);
        if (std::any_of(line.begin(), line.end(), [](char c) { return (c & 0x80) != 0; }))
            return true;
    }
    return false;
}

/*
 * A file without a byte-order mark in UTF-16 whose lines hold "BEGIN:VCARD" or "END:VCARD"
 * in big-endian order (as Apple Address Book and Entourage write it) and not in little-endian
 * order: its lines read big-endian.
 */
std::optional<TextLines> bigEndianCards(const QString &path, const TextLines &littleEndian)
{
    if (holdsCardBoundary(littleEndian))
        return std::nullopt;
    TextLines lines;
    if (readTextLines(path, TextEncoding::Utf16, lines, nullptr, Utf16Order::BigEndian) && holdsCardBoundary(lines))
        return lines;
    return std::nullopt;
}

/*
 * For a file whose lines, read in the chosen encoding, hold no "BEGIN:VCARD" or "END:VCARD"
 * (easily after a preset switched the encoding): the other encoding that finds them, UTF-8
 * before ANSI before UTF-16 (in either byte order), as UTF-8 keeps every letter. None when no
 * encoding finds them or a byte-order mark decided the reading.
 */
std::optional<TextEncoding> encodingThatReadsCards(const QString &path, TextEncoding chosen)
{
    if (startsWithByteOrderMark(path))
        return std::nullopt;
    for (const TextEncoding other : {TextEncoding::Utf8, TextEncoding::Ansi, TextEncoding::Utf16}) {
        if (other == chosen)
            continue;
        TextLines lines;
        if (!readTextLines(path, other, lines, nullptr))
            continue;
        if (holdsCardBoundary(lines) || (other == TextEncoding::Utf16 && bigEndianCards(path, lines)))
            return other;
    }
    return std::nullopt;
}

/*
 * For a file without a byte-order mark while ANSI or UTF-16 is chosen: its lines read as UTF-8
 * when its bytes are well-formed UTF-8 throughout and hold some character above ASCII (text in
 * a single-byte code page or UTF-16 practically never does), as after a preset switched the
 * encoding to ANSI a UTF-8 file would otherwise load as mojibake.
 */
std::optional<TextLines> utf8Lines(const QString &path)
{
    TextLines lines;
    if (readTextLines(path, TextEncoding::Utf8, lines, nullptr) && holdsNonAscii(lines))
        return lines;
    return std::nullopt;
}

/* Why there is nothing to read at a path, and its name: no entry, a folder, or a device or pipe. */
QStringList notAFileMessage(const QFileInfo &info)
{
    QString reason;
    if (!info.exists())
        reason = translate(QStringLiteral("The file does not exist."));
    else if (info.isDir())
        reason = translate(QStringLiteral("This is a folder, not a file."));
    else
        reason = translate(QStringLiteral("This is not a regular file."));
    return {reason, filenameLine(info.filePath())};
}

QStringList noMemoryMessage(const QString &path)
{
    return {translate(QStringLiteral("Not enough memory to load the file.")), filenameLine(path)};
}

} // namespace

LoadOutcome appendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target)
{
    LoadOutcome outcome;
    if (const QFileInfo info(path); !info.isFile()) {
        outcome.kind = info.exists() ? LoadOutcome::NotAFile : LoadOutcome::Missing;
        outcome.warningCaption = translate(QStringLiteral("WARNING"));
        outcome.warningParagraphs = notAFileMessage(info);
        return outcome;
    }

    const qsizetype linesBefore = target.loadedLines.size();
    if (fileSize64(path) == 0) {
        outcome.warningCaption = translate(QStringLiteral("Warning"));
        outcome.warningParagraphs = emptyFileMessage(path);
    }

    QString error;
    try {
        TextLines fileLines;
        const bool marked = startsWithByteOrderMark(path);
        std::optional<TextLines> asUtf8;
        if (!marked && encoding != TextEncoding::Utf8)
            asUtf8 = utf8Lines(path);
        if (asUtf8) {
            fileLines = std::move(*asUtf8);
        } else if (!readTextLines(path, encoding, fileLines, &error)) {
            outcome.kind = LoadOutcome::Failed;
            outcome.warningCaption = translate(QStringLiteral("WARNING"));
            // Every other reason names the file already.
            outcome.warningParagraphs
                = error == invalidUtf8Message() ? undecodableFileMessage(error, path) : QStringList{error};
            return outcome;
        } else if (!marked && encoding == TextEncoding::Utf16) {
            if (std::optional<TextLines> bigEndian = bigEndianCards(path, fileLines))
                fileLines = std::move(*bigEndian);
        }
        if (!holdsCardBoundary(fileLines)) {
            if (const std::optional<TextEncoding> other = encodingThatReadsCards(path, encoding)) {
                outcome.kind = LoadOutcome::Failed;
                outcome.warningCaption = translate(QStringLiteral("WARNING"));
                outcome.warningParagraphs = otherEncodingMessage(path, encodingCaption(*other));
                return outcome;
            }
        }
        target.loadedLines.appendLines(std::move(fileLines));
        target.loadedLines.appendUtf8(QByteArrayView());
        // The scan finishes the cards that this file leaves open here, before the next file's.
        target.loadedLines.markFileEnd();
    } catch (const std::bad_alloc &) {
        // The lines appended so far belong to no file: the loaded text is left as it was.
        target.loadedLines.truncate(linesBefore);
        outcome.kind = LoadOutcome::NoMemory;
        outcome.warningCaption = translate(QStringLiteral("WARNING"));
        outcome.warningParagraphs = noMemoryMessage(path);
        return outcome;
    }
    ++target.loadedFileCount;
    outcome.kind = LoadOutcome::Loaded;
    return outcome;
}
