#include "engine/xlsrecords.h"

#include "text/utf8.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

enum RecordType : quint16 {
    RecordEof = 0x000A,
    RecordFont = 0x0031,
    RecordWindow1 = 0x003D,
    RecordContinue = 0x003C,
    RecordCodePage = 0x0042,
    RecordColInfo = 0x007D,
    RecordBoundSheet = 0x0085,
    RecordXf = 0x00E0,
    RecordSst = 0x00FC,
    RecordLabelSst = 0x00FD,
    RecordBlank = 0x0201,
    RecordExtSst = 0x00FF,
    RecordDimensions = 0x0200,
    RecordWindow2 = 0x023E,
    RecordStyle = 0x0293,
    RecordBof = 0x0809,
};

constexpr qsizetype kRecordHeaderSize = 4;
// Readers reject records whose data is longer; longer data goes on in CONTINUE records.
constexpr qsizetype kMaxRecordData = 8224;

constexpr quint16 kBofGlobals = 0x0005;
constexpr quint16 kBofWorksheet = 0x0010;
constexpr quint16 kCodePageUtf16 = 1200;

constexpr quint16 kFontCount = 5;
constexpr quint16 kStyleXfCount = 15;
constexpr quint16 kDefaultCellXf = 15;
constexpr quint16 kTextCellXf = 16;
constexpr quint16 kBuiltInTextFormat = 49; // the number format "@"

constexpr quint16 kColumnWidth = 40 * 256; // in 1/256 of a character
constexpr quint16 kColumnWidthUserSet = 0x0002;

// A shared string starts with a 16-bit character count and an option byte.
constexpr qsizetype kStringHeaderSize = 3;
constexpr quint8 kStringWide = 0x01;

void appendU8(QByteArray &out, quint8 value)
{
    out.append(char(value));
}

void appendU16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

void appendU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

/** Starts a record whose length endRecord fills in; returns where the record data begins. */
qsizetype beginRecord(QByteArray &out, quint16 type)
{
    appendU16(out, type);
    appendU16(out, 0);
    return out.size();
}

void endRecord(QByteArray &out, qsizetype dataStart)
{
    const qsizetype length = out.size() - dataStart;
    Q_ASSERT(length <= kMaxRecordData);
    qToLittleEndian(quint16(length), out.data() + dataStart - 2);
}

bool isLatin1(QStringView text)
{
    // One OR over every unit, which the compiler vectorises, is quicker than stopping early.
    char16_t units = 0;
    for (QChar c : text)
        units |= c.unicode();
    return units < 0x100;
}

/** Appends UTF-16 units either as single bytes (all below 0x100) or as UTF-16LE. */
void appendUnits(QByteArray &out, QStringView units, bool wide)
{
    const qsizetype start = out.size();
    if (wide) {
        out.resize(start + units.size() * 2);
        qToLittleEndian<quint16>(units.utf16(), units.size(), out.data() + start);
        return;
    }
    out.resize(start + units.size());
    char *dst = out.data() + start;
    for (QChar c : units)
        *dst++ = char(c.unicode());
}

/** A string stored in a record with an 8-bit length, such as a font or sheet name. */
void appendShortString(QByteArray &out, QStringView text)
{
    const bool wide = !isLatin1(text);
    appendU8(out, quint8(text.size()));
    appendU8(out, wide ? kStringWide : 0);
    appendUnits(out, text, wide);
}

void appendBof(QByteArray &out, quint16 substream)
{
    const qsizetype start = beginRecord(out, RecordBof);
    appendU16(out, 0x0600); // BIFF8
    appendU16(out, substream);
    appendU16(out, 0x0DBB); // build
    appendU16(out, 0x07CC); // year
    appendU32(out, 0);      // file history
    appendU32(out, 0x0006); // lowest version that reads every record: BIFF8
    endRecord(out, start);
}

void appendEof(QByteArray &out)
{
    endRecord(out, beginRecord(out, RecordEof));
}

void appendU16Record(QByteArray &out, quint16 type, quint16 value)
{
    const qsizetype start = beginRecord(out, type);
    appendU16(out, value);
    endRecord(out, start);
}

void appendWindow1(QByteArray &out)
{
    const qsizetype start = beginRecord(out, RecordWindow1);
    appendU16(out, 0x01E0); // window position and size in twips
    appendU16(out, 0x005A);
    appendU16(out, 0x3FCF);
    appendU16(out, 0x2A4E);
    appendU16(out, 0x0038); // horizontal and vertical scroll bars, sheet tabs
    appendU16(out, 0);      // active sheet
    appendU16(out, 0);      // first visible tab
    appendU16(out, 1);      // selected sheets
    appendU16(out, 0x0258); // tab bar width ratio
    endRecord(out, start);
}

/** Readers expect the usual set of fonts; index 4 is never stored, so five records give 0-3 and 5. */
void appendFonts(QByteArray &out)
{
    for (int i = 0; i < kFontCount; ++i) {
        const qsizetype start = beginRecord(out, RecordFont);
        appendU16(out, 200);    // 10 pt in twips
        appendU16(out, 0);      // no italic, strike-out, outline
        appendU16(out, 0x7FFF); // automatic colour
        appendU16(out, 400);    // normal weight
        appendU16(out, 0);      // no super- or subscript
        appendU8(out, 0);       // no underline
        appendU8(out, 0);       // font family
        appendU8(out, 0);       // character set
        appendU8(out, 0);
        appendShortString(out, u"Arial");
        endRecord(out, start);
    }
}

void appendXf(QByteArray &out, quint16 font, quint16 format, quint16 typeAndParent, quint8 usedAttributes)
{
    const qsizetype start = beginRecord(out, RecordXf);
    appendU16(out, font);
    appendU16(out, format);
    appendU16(out, typeAndParent);
    appendU8(out, 0x20); // aligned to the bottom, horizontal alignment "general"
    appendU8(out, 0);    // no rotation
    appendU8(out, 0);    // no indent
    appendU8(out, usedAttributes);
    appendU32(out, 0); // no borders
    appendU32(out, 0);
    appendU16(out, 0x20C0); // default pattern colours
    endRecord(out, start);
}

/**
 * The 15 style XFs every workbook carries, the default cell XF, and the text cell XF.
 * The text cell XF marks its number format as its own, not inherited from the style.
 */
void appendXfs(QByteArray &out)
{
    constexpr quint16 kStyleXf = 0xFFF5; // locked, style XF, no parent
    constexpr quint16 kCellXf = 0x0001;  // locked, cell XF, parent style 0
    // In a style XF a set bit leaves that attribute out of the style: styles 1-14 carry only a font.
    constexpr quint8 kStyleFontOnly = 0xF4;
    constexpr quint8 kOwnNumberFormat = 0x04;
    static constexpr std::array<quint16, kStyleXfCount> kStyleFonts = {0, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (quint16 i = 0; i < kStyleXfCount; ++i)
        appendXf(out, kStyleFonts[i], 0, kStyleXf, i == 0 ? 0 : kStyleFontOnly);
    appendXf(out, 0, 0, kCellXf, 0);
    appendXf(out, 0, kBuiltInTextFormat, kCellXf, kOwnNumberFormat);
}

void appendNormalStyle(QByteArray &out)
{
    const qsizetype start = beginRecord(out, RecordStyle);
    appendU16(out, 0x8000); // built-in style on XF 0
    appendU8(out, 0);       // "Normal"
    appendU8(out, 0xFF);    // no outline level
    endRecord(out, start);
}

/** Returns where the sheet offset is stored so it can be filled in once the sheet's place is known. */
qsizetype appendBoundSheet(QByteArray &out)
{
    const qsizetype start = beginRecord(out, RecordBoundSheet);
    const qsizetype offsetPosition = out.size();
    appendU32(out, 0);
    appendU8(out, 0); // visible
    appendU8(out, 0); // worksheet
    appendShortString(out, u"Sheet1");
    endRecord(out, start);
    return offsetPosition;
}

/**
 * Writes the shared string table. When a record is full the table goes on in CONTINUE records;
 * a string's header is never split, and a string's characters that go on in the next record are
 * preceded by its option byte again. Also collects the positions that EXTSST lists.
 */
class SstWriter
{
public:
    SstWriter(QByteArray &out, quint32 totalCount, quint32 uniqueCount)
        : m_out(out)
        , m_bucketSize(quint16(std::clamp<quint32>((uniqueCount + kWantedBuckets - 1) / kWantedBuckets, 8, 0xFFFF)))
    {
        m_dataStart = beginRecord(m_out, RecordSst);
        appendU32(m_out, totalCount);
        appendU32(m_out, uniqueCount);
    }

    void add(QStringView text)
    {
        const bool wide = !isLatin1(text);
        const qsizetype unitSize = wide ? 2 : 1;
        // Keep the header together with the first characters (room for a whole surrogate pair).
        if (room() < kStringHeaderSize + std::min<qsizetype>(text.size() * unitSize, 4))
            continueRecord();
        if (m_added++ % m_bucketSize == 0)
            m_buckets.push_back({quint32(m_out.size()), quint16(m_out.size() - m_dataStart + kRecordHeaderSize)});
        appendU16(m_out, quint16(text.size()));
        appendU8(m_out, wide ? kStringWide : 0);
        while (!text.isEmpty()) {
            qsizetype count = std::min(text.size(), room() / unitSize);
            // Each record's part must be valid UTF-16 on its own, so a surrogate pair stays whole.
            if (count < text.size() && text[count - 1].isHighSurrogate())
                --count;
            Q_ASSERT(count > 0);
            appendUnits(m_out, text.first(count), wide);
            text = text.sliced(count);
            if (!text.isEmpty()) {
                continueRecord();
                appendU8(m_out, wide ? kStringWide : 0);
            }
        }
    }

    /** Closes the table and appends the EXTSST index over it. */
    void finish()
    {
        endRecord(m_out, m_dataStart);
        const qsizetype start = beginRecord(m_out, RecordExtSst);
        appendU16(m_out, m_bucketSize);
        for (const Bucket &bucket : m_buckets) {
            appendU32(m_out, bucket.streamPosition);
            appendU16(m_out, bucket.recordOffset);
            appendU16(m_out, 0);
        }
        endRecord(m_out, start);
    }

private:
    // Few enough entries for EXTSST to stay one record, even for the largest sheet (at most 257).
    static constexpr quint32 kWantedBuckets = 128;

    struct Bucket {
        quint32 streamPosition;
        quint16 recordOffset; // from the start of the record header
    };

    qsizetype room() const { return kMaxRecordData - (m_out.size() - m_dataStart); }

    void continueRecord()
    {
        endRecord(m_out, m_dataStart);
        m_dataStart = beginRecord(m_out, RecordContinue);
    }

    QByteArray &m_out;
    qsizetype m_dataStart = 0;
    quint16 m_bucketSize;
    quint32 m_added = 0;
    std::vector<Bucket> m_buckets;
};

void appendSharedStrings(QByteArray &out, const XlsSharedStrings &strings)
{
    SstWriter sst(out, strings.filledCells, quint32(strings.texts.size()));
    std::vector<char16_t> units; // each text in UTF-16, as the table holds it
    for (const QByteArrayView text : strings.texts) {
        units.resize(size_t(text.size()));
        const auto *at = reinterpret_cast<const unsigned char *>(text.data());
        const auto *const end = at + text.size();
        size_t count = 0;
        while (at != end) {
            const char32_t c = utf8::decode(at);
            if (QChar::requiresSurrogates(c)) {
                units[count++] = QChar::highSurrogate(c);
                units[count++] = QChar::lowSurrogate(c);
            } else {
                units[count++] = char16_t(c);
            }
        }
        sst.add(QStringView(units.data(), qsizetype(count)));
    }
    sst.finish();
}

void appendColumnWidths(QByteArray &out, int widthColumns)
{
    if (widthColumns <= 0)
        return;
    const qsizetype start = beginRecord(out, RecordColInfo);
    appendU16(out, 0);
    appendU16(out, quint16(widthColumns - 1));
    appendU16(out, kColumnWidth);
    appendU16(out, kDefaultCellXf);
    appendU16(out, kColumnWidthUserSet);
    appendU16(out, 0);
    endRecord(out, start);
}

void appendDimensions(QByteArray &out, const XlsUsedRange &used)
{
    const bool empty = used.firstRow < 0;
    const qsizetype start = beginRecord(out, RecordDimensions);
    appendU32(out, empty ? 0 : quint32(used.firstRow));
    appendU32(out, empty ? 0 : quint32(used.lastRow + 1)); // one past the last row
    appendU16(out, 0);                                     // the first column
    appendU16(out, empty ? 0 : quint16(used.lastColumn + 1));
    appendU16(out, 0);
    endRecord(out, start);
}

/**
 * One fixed-size record per cell, an empty text as a blank cell that still carries the text
 * format, as every used cell does. Their size is known beforehand, so they are filled in
 * place from two prepared records.
 */
class CellRecords
{
public:
    CellRecords()
    {
        qToLittleEndian(quint16(RecordLabelSst), m_label.data());
        qToLittleEndian(quint16(kLabelSize), m_label.data() + 2);
        qToLittleEndian(kTextCellXf, m_label.data() + 8);
        qToLittleEndian(quint16(RecordBlank), m_blank.data());
        qToLittleEndian(quint16(kBlankSize), m_blank.data() + 2);
        qToLittleEndian(kTextCellXf, m_blank.data() + 8);
    }

    static qsizetype bytesFor(qsizetype labels, qsizetype blanks)
    {
        return labels * qsizetype(sizeof m_label) + blanks * qsizetype(sizeof m_blank);
    }

    /** Writes the record at out and returns where the next one goes. */
    char *putLabel(char *out, quint16 row, quint16 column, quint32 string) const
    {
        std::memcpy(out, m_label.data(), m_label.size());
        qToLittleEndian(row, out + 4);
        qToLittleEndian(column, out + 6);
        qToLittleEndian(string, out + 10);
        return out + m_label.size();
    }

    char *putBlank(char *out, quint16 row, quint16 column) const
    {
        std::memcpy(out, m_blank.data(), m_blank.size());
        qToLittleEndian(row, out + 4);
        qToLittleEndian(column, out + 6);
        return out + m_blank.size();
    }

private:
    static constexpr qsizetype kLabelSize = 10;
    static constexpr qsizetype kBlankSize = 6;
    std::array<char, kRecordHeaderSize + kLabelSize> m_label{};
    std::array<char, kRecordHeaderSize + kBlankSize> m_blank{};
};

void appendTextCells(QByteArray &out, const XlsCellLayout &cells, const std::function<void(qint64, qint64)> &rowDone)
{
    const CellRecords records;
    const qsizetype labels = cells.filledCells;
    const qsizetype start = out.size();
    out.resize(start + CellRecords::bytesFor(labels, qsizetype(cells.cellStrings.size()) - labels));
    char *next = out.data() + start;
    size_t cell = 0;
    for (size_t r = 0; r < cells.rowEnds.size(); ++r) {
        for (quint16 column = 0; cell < cells.rowEnds[r]; ++cell, ++column) {
            const quint32 string = cells.cellStrings[cell];
            next = string == kXlsBlankCell ? records.putBlank(next, quint16(r), column)
                                           : records.putLabel(next, quint16(r), column, string);
        }
        if (rowDone)
            rowDone(qint64(r) + 1, qint64(cells.rowEnds.size()));
    }
    Q_ASSERT(next == out.constData() + out.size());
}

void appendWindow2(QByteArray &out)
{
    const qsizetype start = beginRecord(out, RecordWindow2);
    appendU16(out, 0x06B6); // grid, headers, zeros, outline symbols; sheet selected and shown
    appendU16(out, 0);      // first visible row
    appendU16(out, 0);      // first visible column
    appendU16(out, 64);     // automatic grid colour
    appendU16(out, 0);
    appendU16(out, 0); // default zoom in page break preview
    appendU16(out, 0); // default zoom
    appendU32(out, 0);
    endRecord(out, start);
}

} // namespace

QByteArray xlsGlobalsStream(const XlsSharedStrings &strings)
{
    // Room for the fixed records and the shared strings at their widest: headers and two bytes a
    // unit (a text has no more units than UTF-8 bytes), and a few bytes more for every record
    // they fill (a CONTINUE header, an option byte).
    qsizetype stringBytes = 0;
    for (const QByteArrayView text : strings.texts)
        stringBytes += kStringHeaderSize + 2 * text.size();
    QByteArray out;
    out.reserve(8192 + stringBytes + stringBytes / 512);
    appendBof(out, kBofGlobals);
    appendU16Record(out, RecordCodePage, kCodePageUtf16);
    appendWindow1(out);
    appendFonts(out);
    appendXfs(out);
    appendNormalStyle(out);
    const qsizetype sheetOffsetPosition = appendBoundSheet(out);
    appendSharedStrings(out, strings);
    appendEof(out);
    // The worksheet's records follow right after these.
    qToLittleEndian(quint32(out.size()), out.data() + sheetOffsetPosition);
    return out;
}

QByteArray xlsSheetStream(const XlsCellLayout &cells, const XlsUsedRange &used, int widthColumns,
                          const std::function<void(qint64, qint64)> &rowDone)
{
    QByteArray out;
    out.reserve(1024 + CellRecords::bytesFor(qsizetype(cells.cellStrings.size()), 0));
    appendBof(out, kBofWorksheet);
    appendColumnWidths(out, std::clamp(widthColumns, 0, int(kXlsMaxColumns)));
    appendDimensions(out, used);
    appendTextCells(out, cells, rowDone);
    appendWindow2(out);
    appendEof(out);
    return out;
}
