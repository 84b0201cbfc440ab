// Arbitrary bytes as a loaded file: reading in the chosen encoding, scanning, the export
// table, finishing the rows and writing them as text, each checked against what it promises;
// for the workbook file type, the rows written as .xlsx and read back hold the CSV's fields.
//
// The last input byte chooses the options (encoding, delimiter, file type, flavour, sort);
// the bytes before it are the file, so a vCard file is a good seed as it is.

#include "fuzzsupport.h"
#include "xlsxcheck.h"

#include "engine/allfieldstable.h"
#include "engine/cardscanner.h"
#include "engine/exporttable.h"
#include "engine/rowsort.h"
#include "engine/rowsplitter.h"
#include "engine/workbookexport.h"
#include "engine/xlsxfile.h"
#include "text/singlebytecodec.h"
#include "text/textlines.h"
#include "text/textwriter.h"
#include "text/utf8.h"

#include <QBuffer>
#include <QCollator>
#include <QStringDecoder>

#include <cstdint>

namespace {

struct Options {
    TextEncoding encoding;
    QChar delimiter;
    ExportType fileType;
    CsvFlavor flavor;
    bool sort;
};

Options optionsFrom(quint8 byte)
{
    static const TextEncoding encodings[]
        = {TextEncoding::Ansi, TextEncoding::Utf8, TextEncoding::Utf16, TextEncoding::Utf8};
    static const QChar delimiters[] = {u',', u';', u'\t', QChar(0x00E9)}; // é: a delimiter beyond ASCII
    static const CsvFlavor flavors[] = {CsvFlavor::Plain, CsvFlavor::Outlook, CsvFlavor::Google, CsvFlavor::Yahoo};
    return Options{encodings[byte & 3], delimiters[(byte >> 2) & 3], (byte & 0x10) ? ExportType::Csv : ExportType::Xls,
                   flavors[(byte >> 5) & 3], (byte & 0x80) != 0};
}

/* The file's text as the documented rules give it, decoded in one piece; false for bad UTF-8. */
bool expectedText(QByteArrayView bytes, TextEncoding encoding, QString &text)
{
    enum {
        Ansi,
        Utf8,
        Utf16LE,
        Utf16BE
    } kind
        = encoding == TextEncoding::Ansi   ? Ansi
          : encoding == TextEncoding::Utf8 ? Utf8
                                           : Utf16LE;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        kind = Utf8;
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE")) {
        kind = Utf16LE;
        bytes = bytes.sliced(2);
    } else if (bytes.startsWith("\xFE\xFF")) {
        kind = Utf16BE;
        bytes = bytes.sliced(2);
    }
    switch (kind) {
    case Ansi:
        text.clear();
        for (char byte : bytes)
            text += QChar(SingleByteCodec::ansi().toUnicode(static_cast<unsigned char>(byte)));
        return true;
    case Utf8: {
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = decoder.decode(bytes);
        return !decoder.hasError();
    }
    case Utf16LE:
    case Utf16BE: {
        QStringDecoder decoder(kind == Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::ConvertInitialBom);
        const bool odd = bytes.size() % 2 != 0;
        text = decoder.decode(bytes.first(bytes.size() - (odd ? 1 : 0)));
        text += decoder.decode(QByteArrayView());
        // Lines are kept as UTF-8: a lone surrogate becomes "?".
        text = QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom).decode(text.toUtf8());
        if (odd)
            text += QChar::ReplacementCharacter; // an odd trailing byte stays visible
        return true;
    }
    }
    return false;
}

qsizetype firstDifference(const QString &a, const QString &b)
{
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return i;
}

void checkReading(QByteArrayView file, TextEncoding encoding, bool read, const TextLines &lines, const QString &error)
{
    QString text;
    const bool valid = expectedText(file, encoding, text);
    FUZZ_CHECK(read == valid, error);
    if (!read) {
        FUZZ_CHECK(error == invalidUtf8Message(), error);
        FUZZ_CHECK(lines.isEmpty());
        return;
    }
    const QStringList expected = referenceLines(text);
    FUZZ_CHECK(lines.size() == expected.size(),
               QStringLiteral("%1 lines, expected %2").arg(lines.size()).arg(expected.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(utf8::isValid(lines.utf8At(i)));
        FUZZ_CHECK(lines.at(i) == expected.at(i),
                   QStringLiteral("line %1 differs at %2").arg(i).arg(firstDifference(lines.at(i), expected.at(i))));
    }
}

/* Every field is normalised: no delimiter or ";", no blank ends, no leading "=", no double space. */
void checkCards(const CardList &cards, QChar delimiter)
{
    for (qsizetype card = 0; card < cards.size(); ++card) {
        const ContactFields fields = cards.fields(card);
        for (int column = 0; column < kContactColumnCount; ++column) {
            FUZZ_CHECK(utf8::isValid(cards.field(card, column)));
            const QString &field = fields[size_t(column)];
            if (field.isEmpty())
                continue;
            FUZZ_CHECK(!field.contains(delimiter) && !field.contains(u';'), field);
            FUZZ_CHECK(field.front().unicode() > 0x20 && field.back().unicode() > 0x20, field);
            FUZZ_CHECK(field.front() != u'=', field);
            FUZZ_CHECK(!field.contains(u"  "), field);
        }
    }
}

/* A field's value: the text between its enclosing quote marks, each quote mark written twice read once. */
QString fieldValue(const QString &field, QChar quoteMark)
{
    QString value = field.sliced(1, field.size() - 2);
    return value.replace(QString(2, quoteMark), QString(quoteMark));
}

/* Each row has one quoted field per present column, a quote mark inside a field written twice. */
void checkRows(const QStringList &rows, const ColumnPresence &presence, RowFormat format)
{
    const qsizetype columns = std::count(presence.begin(), presence.end(), true);
    for (const QString &row : rows) {
        if (columns == 0) {
            FUZZ_CHECK(row.isEmpty(), row);
            continue;
        }
        const QStringList fields = row.split(format.delimiter);
        FUZZ_CHECK(fields.size() == columns, row);
        for (const QString &field : fields) {
            FUZZ_CHECK(field.size() >= 2 && field.front() == format.quoteMark && field.back() == format.quoteMark, row);
            QString inside = field.sliced(1, field.size() - 2);
            FUZZ_CHECK(!inside.remove(QString(2, format.quoteMark)).contains(format.quoteMark), row);
        }
    }
    QStringList distinct = rows;
    distinct.removeDuplicates();
    FUZZ_CHECK(distinct.size() == rows.size());
}

/* Sorted rows are a stable permutation in collation order, after the header when there is one. */
void checkFinishing(const QStringList &before, const QStringList &after, const QString &header, bool sort)
{
    FUZZ_CHECK(after.size() == before.size() + 1 && after.front() == header);
    QStringList body = after.sliced(1);
    if (!sort) {
        FUZZ_CHECK(body == before);
        return;
    }
    static QCollator collator = [] {
        QCollator made{QLocale()};
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    const bool plain = QLocale().language() == QLocale::C;
    auto compare = [&](const QString &a, const QString &b) {
        return plain ? QString::compare(a, b, Qt::CaseInsensitive) : collator.compare(a, b);
    };
    for (qsizetype i = 1; i < body.size(); ++i)
        FUZZ_CHECK(compare(body[i - 1], body[i]) <= 0, body[i - 1] + QStringLiteral(" > ") + body[i]);
    QStringList sortedBefore = before, sortedBody = body;
    sortedBefore.sort();
    sortedBody.sort();
    FUZZ_CHECK(sortedBefore == sortedBody);
}

/* The written bytes are the byte-order mark and the lines with CR LF, in the encoding. */
/* Writes lines kept as UTF-8; the bytes must be those of the same lines written as text. */
void checkWriting(qsizetype count, const Utf8LineAt &lineAt, TextEncoding encoding)
{
    QStringList lines;
    for (qsizetype i = 0; i < count; ++i)
        lines.append(utf8LineText(lineAt(i)));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    FUZZ_CHECK(writeUtf8Lines(count, lineAt, buffer, encoding, &error), error);
    const QByteArray bytes = buffer.data();
    QBuffer textBuffer;
    textBuffer.open(QIODevice::WriteOnly);
    FUZZ_CHECK(writeTextLines(lines, textBuffer, encoding, &error), error);
    FUZZ_CHECK(textBuffer.data() == bytes);
    const QString joined = lines.isEmpty() ? QString() : lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    switch (encoding) {
    case TextEncoding::Ansi:
        FUZZ_CHECK(bytes == SingleByteCodec::ansi().fromUnicode(joined));
        break;
    case TextEncoding::Utf8:
        FUZZ_CHECK(bytes == "\xEF\xBB\xBF" + joined.toUtf8());
        break;
    case TextEncoding::Utf16:
        FUZZ_CHECK(bytes.startsWith("\xFF\xFE")
                   && QStringDecoder(QStringConverter::Utf16LE).decode(bytes.sliced(2)) == joined);
        break;
    }
}

/* The export's reports, unheard: the workbook writer tells its failure through its result. */
class QuietEvents final : public ExportEvents
{
public:
    void progressed(ExportStage, int) override { }
    void messageReady(const ExportMessage &) override { }
};

/*
 * The finished rows written as .xlsx hold, cell for cell, the fields that the CSV holds, as a
 * spreadsheet program reads them (escapes decoded); a cell too long for the format stops the
 * export with the limit's message instead.
 */
void checkXlsxCells(const FinishedRows &finishedRows, RowFormat format)
{
    const QStringList rows = finishedRows.toStringList();
    QList<QStringList> expected;
    bool tooLong = false;
    for (const QString &row : rows) {
        QStringList fields = row.split(format.delimiter);
        for (QString &field : fields) {
            if (field.size() >= 2 && field.front() == format.quoteMark && field.back() == format.quoteMark)
                field = fieldValue(field, format.quoteMark);
            tooLong = tooLong || XlsxFile::writtenLength(field) > kXlsxMaxCellChars;
        }
        expected.append(fields);
    }
    const QString path = scratchDir().filePath(QStringLiteral("rows.xlsx"));
    QFile::remove(path);
    QuietEvents events;
    QString error;
    const WriteResult result = exportToWorkbook(finishedRows, format.delimiter, path, events, {}, &error);
    const bool written = result == WriteResult::Written;
    if (tooLong) {
        FUZZ_CHECK(result == WriteResult::DoesNotFit && error.startsWith(QStringLiteral("A value has")), error);
        return;
    }
    FUZZ_CHECK(written, error);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    QString why;
    const std::optional<QList<QStringList>> cells = xlsxcheck::readCells(file.readAll(), why);
    FUZZ_CHECK(cells.has_value(), why);
    for (qsizetype n = 0; n < std::max(expected.size(), cells->size()); ++n) {
        const QStringList want = expected.value(n), got = cells->value(n);
        for (qsizetype k = 0; k < std::max(want.size(), got.size()); ++k)
            FUZZ_CHECK(want.value(k) == got.value(k),
                       QStringLiteral("row %1, column %2: %3 | %4").arg(n).arg(k).arg(want.value(k), got.value(k)));
    }
}

/*
 * The All fields table of the same lines: every row splits, as a CSV reader splits it, into one
 * field per named column, and every card keeps its text block.
 */
void checkAllFields(const TextLines &lines, const Options &options)
{
    const RowFormat format = allFieldsRowFormat(options.fileType, options.flavor, {options.delimiter, u'"'});
    CardList cards = scanCards(lines, format.delimiter, {}, ScanMode::AllFields);
    const qsizetype cardCount = cards.size();
    const ExportTable table
        = buildAllFieldsTable(std::move(cards), options.fileType, options.flavor, format, TableParts::Both);
    FUZZ_CHECK(table.rows.size() <= cardCount);
    const RowSplitter splitter(format.delimiter);
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        const QByteArrayView row = table.rows.utf8At(i);
        FUZZ_CHECK(utf8::isValid(row));
        FUZZ_CHECK(table.columnNames.isEmpty() ? row.isEmpty() : splitter.fieldCount(row) == table.columnNames.size(),
                   QString::fromUtf8(row));
    }
    qsizetype blocks = 0;
    for (qsizetype i = 0; i < table.txtLines.size(); ++i)
        blocks += table.txtLines.utf8At(i).isEmpty() ? 1 : 0;
    FUZZ_CHECK(blocks == cardCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const Options options = optionsFrom(data[size - 1]);
    const QByteArrayView file(reinterpret_cast<const char *>(data), qsizetype(size - 1));
    const QString path = writeScratchFile(QStringLiteral("input.vcf"), file.data(), file.size());

    TextLines lines;
    QString error;
    const bool read = readTextLines(path, options.encoding, lines, &error);
    checkReading(file, options.encoding, read, lines, error);
    if (!read)
        return 0;

    const RowFormat format{options.delimiter, u'"'};
    CardList cards = scanCards(lines, format.delimiter);
    checkCards(cards, format.delimiter);
    const qsizetype cardCount = cards.size();
    const ColumnPresence presence = computeColumnPresence(cards);
    ExportTable table = buildExportTable(std::move(cards), presence, options.fileType, options.flavor, format);
    FUZZ_CHECK(table.rows.size() <= cardCount);
    checkRows(table.rows.toStringList(), table.presence, format);
    removeBlankRows(table.rows);

    const QString header = buildHeaderRow(table.presence, options.fileType, options.flavor, format);
    const FinishedRows finishedRows = finishRows(table.rows, true, options.sort, header);
    const QStringList finished = finishedRows.toStringList();
    checkFinishing(table.rows.toStringList(), finished, header, options.sort);
    checkWriting(
        finished.size(), [&](qsizetype i) { return finishedRows.utf8At(i); }, options.encoding);
    checkWriting(
        table.txtLines.size(), [&](qsizetype i) { return table.txtLines.utf8At(i); }, options.encoding);
    // A workbook costs some milliseconds (the xlsx library's own temporary files): only for the
    // workbook file type, and only when there are cells to compare.
    if (options.fileType == ExportType::Xls && !table.rows.isEmpty())
        checkXlsxCells(finishedRows, format);
    checkAllFields(lines, options);
    return 0;
}
