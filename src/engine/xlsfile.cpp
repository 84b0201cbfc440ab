#include "engine/xlsfile.h"

#include "text/devicewrite.h"
#include "text/helperthread.h"

#include <QFileDevice>
#include <QHashFunctions>
#include <QStringView>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace {

// ---------------------------------------------------------------------------------------------
// Workbook stream (BIFF8 records)
// ---------------------------------------------------------------------------------------------

enum RecordType : quint16 {
    kRecEof = 0x000A,
    kRecFont = 0x0031,
    kRecWindow1 = 0x003D,
    kRecContinue = 0x003C,
    kRecCodePage = 0x0042,
    kRecColInfo = 0x007D,
    kRecBoundSheet = 0x0085,
    kRecXf = 0x00E0,
    kRecSst = 0x00FC,
    kRecLabelSst = 0x00FD,
    kRecBlank = 0x0201,
    kRecExtSst = 0x00FF,
    kRecDimensions = 0x0200,
    kRecWindow2 = 0x023E,
    kRecStyle = 0x0293,
    kRecBof = 0x0809,
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
    const qsizetype start = beginRecord(out, kRecBof);
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
    endRecord(out, beginRecord(out, kRecEof));
}

void appendU16Record(QByteArray &out, quint16 type, quint16 value)
{
    const qsizetype start = beginRecord(out, type);
    appendU16(out, value);
    endRecord(out, start);
}

void appendWindow1(QByteArray &out)
{
    const qsizetype start = beginRecord(out, kRecWindow1);
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
        const qsizetype start = beginRecord(out, kRecFont);
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
    const qsizetype start = beginRecord(out, kRecXf);
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
    const qsizetype start = beginRecord(out, kRecStyle);
    appendU16(out, 0x8000); // built-in style on XF 0
    appendU8(out, 0);       // "Normal"
    appendU8(out, 0xFF);    // no outline level
    endRecord(out, start);
}

/** Returns where the sheet offset is stored so it can be filled in once the sheet's place is known. */
qsizetype appendBoundSheet(QByteArray &out)
{
    const qsizetype start = beginRecord(out, kRecBoundSheet);
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
        m_dataStart = beginRecord(m_out, kRecSst);
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
        const qsizetype start = beginRecord(m_out, kRecExtSst);
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
        m_dataStart = beginRecord(m_out, kRecContinue);
    }

    QByteArray &m_out;
    qsizetype m_dataStart = 0;
    quint16 m_bucketSize;
    quint32 m_added = 0;
    std::vector<Bucket> m_buckets;
};

// A blank cell's entry where other cells have the number of their shared string.
constexpr quint32 kBlank = 0xFFFFFFFF;

/** The shared strings, numbered in the order they first appear, as the cells refer to them. */
struct SharedStrings {
    std::span<const QStringView> texts;
    quint32 filledCells; // the cells that refer to them
};

void appendSharedStrings(QByteArray &out, const SharedStrings &strings)
{
    SstWriter sst(out, strings.filledCells, quint32(strings.texts.size()));
    for (QStringView text : strings.texts)
        sst.add(text);
    sst.finish();
}

void appendColumnWidths(QByteArray &out, int widthColumns)
{
    if (widthColumns <= 0)
        return;
    const qsizetype start = beginRecord(out, kRecColInfo);
    appendU16(out, 0);
    appendU16(out, quint16(widthColumns - 1));
    appendU16(out, kColumnWidth);
    appendU16(out, kDefaultCellXf);
    appendU16(out, kColumnWidthUserSet);
    appendU16(out, 0);
    endRecord(out, start);
}

/** The rows that have cells (each of them from column 0 on); firstRow -1 when there are none. */
struct UsedRange {
    qsizetype firstRow = -1;
    qsizetype lastRow = -1;
    qsizetype lastColumn = -1;
};

void appendDimensions(QByteArray &out, const UsedRange &used)
{
    const bool empty = used.firstRow < 0;
    const qsizetype start = beginRecord(out, kRecDimensions);
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
        qToLittleEndian(quint16(kRecLabelSst), m_label.data());
        qToLittleEndian(quint16(kLabelSize), m_label.data() + 2);
        qToLittleEndian(kTextCellXf, m_label.data() + 8);
        qToLittleEndian(quint16(kRecBlank), m_blank.data());
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

/** The cells as the rows laid them out: each one's shared string, or kBlank. */
struct CellLayout {
    std::span<const quint32> cellStrings; // row after row
    std::span<const size_t> rowEnds;      // where each row's cells end in cellStrings
    quint32 filledCells;
};

void appendTextCells(QByteArray &out, const CellLayout &cells, const std::function<void(qint64, qint64)> &rowDone)
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
            next = string == kBlank ? records.putBlank(next, quint16(r), column)
                                    : records.putLabel(next, quint16(r), column, string);
        }
        if (rowDone)
            rowDone(qint64(r + 1), qint64(cells.rowEnds.size()));
    }
    Q_ASSERT(next == out.constData() + out.size());
}

void appendWindow2(QByteArray &out)
{
    const qsizetype start = beginRecord(out, kRecWindow2);
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

/** The workbook stream as built, in two parts that are written one after the other. */
struct WorkbookStream {
    QByteArray globals; // the workbook's own records, the shared strings among them
    QByteArray sheet;   // the worksheet's records, which follow directly

    qsizetype size() const { return globals.size() + sheet.size(); }
};

QByteArray buildGlobals(const SharedStrings &strings)
{
    // Room for the fixed records and the shared strings at their widest: headers and two bytes a
    // unit, and a few bytes more for every record they fill (a CONTINUE header, an option byte).
    qsizetype stringBytes = 0;
    for (QStringView text : strings.texts)
        stringBytes += kStringHeaderSize + 2 * text.size();
    QByteArray out;
    out.reserve(8192 + stringBytes + stringBytes / 512);
    appendBof(out, kBofGlobals);
    appendU16Record(out, kRecCodePage, kCodePageUtf16);
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

QByteArray buildSheet(const CellLayout &cells, const UsedRange &used, int widthColumns,
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

// ---------------------------------------------------------------------------------------------
// Compound file around the workbook stream
// ---------------------------------------------------------------------------------------------

constexpr qsizetype kSectorSize = 512;
constexpr quint32 kIdsPerSector = kSectorSize / 4;
constexpr quint32 kHeaderDifatEntries = 109;
constexpr quint32 kIdsPerDifatSector = kIdsPerSector - 1; // the last entry links the next one
constexpr qsizetype kDirectoryEntrySize = 128;

constexpr quint32 kFreeSector = 0xFFFFFFFF;
constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFatSectorMark = 0xFFFFFFFD;
constexpr quint32 kDifatSectorMark = 0xFFFFFFFC;
constexpr quint32 kNoStream = 0xFFFFFFFF;

// Smaller streams would belong in the mini stream; padding the workbook up to this size avoids one.
constexpr qsizetype kMiniStreamCutoff = 4096;
// Keeps every size and sector number far from the reserved values.
constexpr qsizetype kMaxStreamSize = 0x7FFFFE00;

/** Sector numbers: the workbook stream first, then the directory, the FAT and the DIFAT. */
struct ContainerLayout {
    quint32 streamSectors = 0;
    quint32 fatSectors = 0;
    quint32 difatSectors = 0;

    quint32 directorySector() const { return streamSectors; }
    quint32 firstFatSector() const { return streamSectors + 1; }
    quint32 firstDifatSector() const { return firstFatSector() + fatSectors; }
    quint32 sectorCount() const { return firstDifatSector() + difatSectors; }
};

quint32 sectorsFor(qsizetype bytes, qsizetype perSector)
{
    return quint32((bytes + perSector - 1) / perSector);
}

/** The FAT also has to cover its own sectors and the DIFAT's, so grow both until they fit. */
ContainerLayout planContainer(qsizetype streamSize)
{
    ContainerLayout layout;
    layout.streamSectors = sectorsFor(streamSize, kSectorSize);
    for (;;) {
        const quint32 fat = sectorsFor(layout.sectorCount(), kIdsPerSector);
        const quint32 difat = fat > kHeaderDifatEntries ? sectorsFor(fat - kHeaderDifatEntries, kIdsPerDifatSector) : 0;
        if (fat == layout.fatSectors && difat == layout.difatSectors)
            return layout;
        layout.fatSectors = fat;
        layout.difatSectors = difat;
    }
}

void putU16(QByteArray &bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void putU32(QByteArray &bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

QByteArray containerHeader(const ContainerLayout &layout)
{
    QByteArray header(kSectorSize, '\0');
    static constexpr std::array<quint8, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(kSignature.begin(), kSignature.end(), header.begin());
    putU16(header, 24, 0x003E); // minor version
    putU16(header, 26, 0x0003); // major version: 512-byte sectors
    putU16(header, 28, 0xFFFE); // little-endian
    putU16(header, 30, 9);      // sector size 2^9
    putU16(header, 32, 6);      // mini sector size 2^6
    putU32(header, 44, layout.fatSectors);
    putU32(header, 48, layout.directorySector());
    putU32(header, 56, kMiniStreamCutoff);
    putU32(header, 60, kEndOfChain); // no mini FAT
    putU32(header, 64, 0);
    putU32(header, 68, layout.difatSectors > 0 ? layout.firstDifatSector() : kEndOfChain);
    putU32(header, 72, layout.difatSectors);
    for (quint32 i = 0; i < kHeaderDifatEntries; ++i)
        putU32(header, 76 + 4 * i, i < layout.fatSectors ? layout.firstFatSector() + i : kFreeSector);
    return header;
}

void putDirectoryEntry(QByteArray &sector, qsizetype at, QStringView name, quint8 type, quint32 child,
                       quint32 startSector, quint32 size)
{
    for (qsizetype i = 0; i < name.size(); ++i)
        putU16(sector, at + 2 * i, name[i].unicode());
    putU16(sector, at + 64, quint16((name.size() + 1) * 2)); // bytes, with the terminating zero
    sector[at + 66] = char(type);
    sector[at + 67] = 1; // black: a single entry per level is a valid red-black tree
    putU32(sector, at + 68, kNoStream);
    putU32(sector, at + 72, kNoStream);
    putU32(sector, at + 76, child);
    putU32(sector, at + 116, startSector);
    putU32(sector, at + 120, size);
}

/** The root storage holding the one "Workbook" stream; the other two entries stay unused. */
QByteArray directorySector(quint32 streamSize)
{
    constexpr quint8 kStorageRoot = 5;
    constexpr quint8 kStream = 2;
    QByteArray sector(kSectorSize, '\0');
    putDirectoryEntry(sector, 0, u"Root Entry", kStorageRoot, 1, kEndOfChain, 0);
    putDirectoryEntry(sector, kDirectoryEntrySize, u"Workbook", kStream, kNoStream, 0, streamSize);
    for (qsizetype at = 2 * kDirectoryEntrySize; at < kSectorSize; at += kDirectoryEntrySize) {
        putU32(sector, at + 68, kNoStream);
        putU32(sector, at + 72, kNoStream);
        putU32(sector, at + 76, kNoStream);
    }
    return sector;
}

QByteArray fatSectors(const ContainerLayout &layout)
{
    QByteArray fat(qsizetype(layout.fatSectors) * kSectorSize, '\xFF'); // free
    quint32 sector = 0;
    for (; sector + 1 < layout.streamSectors; ++sector)
        putU32(fat, 4 * sector, sector + 1);
    putU32(fat, 4 * sector++, kEndOfChain); // last stream sector
    putU32(fat, 4 * sector++, kEndOfChain); // directory
    for (quint32 i = 0; i < layout.fatSectors; ++i)
        putU32(fat, 4 * qsizetype(sector++), kFatSectorMark);
    for (quint32 i = 0; i < layout.difatSectors; ++i)
        putU32(fat, 4 * qsizetype(sector++), kDifatSectorMark);
    return fat;
}

/** Lists the FAT sectors the header has no room for, in a chain of sectors. */
QByteArray difatSectors(const ContainerLayout &layout)
{
    QByteArray difat(qsizetype(layout.difatSectors) * kSectorSize, '\xFF'); // free
    for (quint32 fatIndex = kHeaderDifatEntries; fatIndex < layout.fatSectors; ++fatIndex) {
        const quint32 slot = fatIndex - kHeaderDifatEntries;
        const qsizetype at = qsizetype(slot / kIdsPerDifatSector) * kSectorSize + 4 * (slot % kIdsPerDifatSector);
        putU32(difat, at, layout.firstFatSector() + fatIndex);
    }
    for (quint32 i = 0; i < layout.difatSectors; ++i) {
        const quint32 next = i + 1 < layout.difatSectors ? layout.firstDifatSector() + i + 1 : kEndOfChain;
        putU32(difat, qsizetype(i + 1) * kSectorSize - 4, next);
    }
    return difat;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

/** The device's own reason, which callers put into their message about the file. */
QString deviceError(const QIODevice &device)
{
    const QString reason = device.errorString();
    return reason.isEmpty() ? QStringLiteral("The data could not be written.") : reason;
}

/**
 * Writes the compound file: header, the stream's sectors, the directory, the FAT, the DIFAT.
 * A stream below the mini stream's cutoff is padded up to it with zeros.
 */
bool writeContainer(const WorkbookStream &stream, QIODevice &device, QString *error)
{
    const qsizetype streamSize = std::max(stream.size(), kMiniStreamCutoff);
    const ContainerLayout layout = planContainer(streamSize);
    const QByteArray streamTail(qsizetype(layout.streamSectors) * kSectorSize - stream.size(), '\0');
    const QByteArray tables = directorySector(quint32(streamSize)) + fatSectors(layout) + difatSectors(layout);
    bool written = writeAllBytes(device, containerHeader(layout)) && writeAllBytes(device, stream.globals)
                   && writeAllBytes(device, stream.sheet) && writeAllBytes(device, streamTail)
                   && writeAllBytes(device, tables);
    // A file device may keep the last bytes buffered; a full disk only shows when they go out.
    if (written) {
        if (auto *file = qobject_cast<QFileDevice *>(&device))
            written = file->flush();
    }
    if (!written)
        setError(error, deviceError(device));
    return written;
}

} // namespace

/**
 * Numbers distinct texts in the order they first appear, so that equal texts share one entry.
 * The table holds no copies: the texts are views into the caller's strings, which outlive the
 * writing. Open addressing over (hash, number) pairs keeps a lookup to one or two slots, and
 * a text is compared only when its hash matches.
 */
class XlsFile::TextNumbers
{
public:
    explicit TextNumbers(qsizetype expectedTexts) { resize(expectedTexts); }

    /** The number of text, whose hash is given, the next free one when the text is new. */
    quint32 numberOf(QStringView text, size_t hash)
    {
        // At most half full, so that a search ends soon at a free slot.
        if (2 * (m_texts.size() + 1) > m_slots.size())
            resize(qsizetype(2 * m_slots.size()));
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
    const std::vector<QStringView> &texts() const { return m_texts; }

private:
    struct Slot {
        quint32 check = 0;  // the high bits of the text's hash, which the slot's place does not tell
        quint32 number = 0; // one-based, so that zero marks a free slot
    };

    static quint32 checkOf(size_t hash) { return quint32(quint64(hash) >> 32); }

    /** Makes room for at least slots slots (a power of two) and puts the texts so far back in. */
    void resize(qsizetype minimum)
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

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<QStringView> m_texts;
    std::vector<size_t> m_hashes; // of the texts, for putting them into a larger table
};

XlsRowBatch::XlsRowBatch()
    : m_seed(QHashSeed::globalSeed())
{
}

void XlsRowBatch::clear()
{
    m_cells.clear();
    m_rowEnds.clear();
}

void XlsRowBatch::appendCell(QStringView text)
{
    m_cells.push_back({text, text.isEmpty() ? 0 : qHash(text, m_seed)});
}

void XlsRowBatch::appendRow(const QStringList &cells)
{
    for (const QString &text : cells)
        appendCell(text);
    m_rowEnds.push_back(m_cells.size());
}

void XlsRowBatch::appendDelimitedRow(QStringView row, QChar delimiter, QChar quoteMark)
{
    for (qsizetype start = 0;;) {
        const qsizetype end = row.indexOf(delimiter, start);
        QStringView field = row.sliced(start, (end < 0 ? row.size() : end) - start);
        if (field.size() >= 2 && field.startsWith(quoteMark) && field.endsWith(quoteMark))
            field = field.sliced(1, field.size() - 2);
        appendCell(field);
        if (end < 0)
            break;
        start = end + 1;
    }
    m_rowEnds.push_back(m_cells.size());
}

XlsFile::XlsFile(int widthColumns, qsizetype expectedCells)
    : m_widthColumns(widthColumns)
    , m_numbers(std::make_unique<TextNumbers>(expectedCells))
{
    m_cellStrings.reserve(size_t(expectedCells));
}

XlsFile::~XlsFile() = default;

bool XlsFile::addRow(const XlsRowBatch &batch, qsizetype r)
{
    const size_t begin = r == 0 ? 0 : batch.m_rowEnds[size_t(r - 1)];
    const size_t end = batch.m_rowEnds[size_t(r)];
    const auto row = qsizetype(m_rowEnds.size());
    if (begin != end && (row >= kXlsMaxRows || qsizetype(end - begin) > kXlsMaxColumns))
        return refuseRow();
    for (size_t cell = begin; cell < end; ++cell) {
        const XlsRowBatch::Cell &text = batch.m_cells[cell];
        if (text.text.size() > kXlsMaxCellChars)
            return refuseRow();
        if (text.text.isEmpty()) {
            m_cellStrings.push_back(kBlank);
        } else {
            m_cellStrings.push_back(m_numbers->numberOf(text.text, text.hash));
            ++m_filledCells;
        }
    }
    m_rowEnds.push_back(m_cellStrings.size());
    if (begin != end) {
        if (m_firstRow < 0)
            m_firstRow = row;
        m_lastRow = row;
        m_lastColumn = std::max(m_lastColumn, qsizetype(end - begin) - 1);
    }
    return true;
}

bool XlsFile::refuseRow()
{
    m_error = QStringLiteral("The table does not fit into an .xls worksheet (at most %1 rows, %2 columns and %3 "
                             "characters in a cell).")
                  .arg(kXlsMaxRows)
                  .arg(kXlsMaxColumns)
                  .arg(kXlsMaxCellChars);
    return false;
}

bool XlsFile::write(QIODevice &device, const std::function<void(qint64 done, qint64 total)> &rowDone)
{
    if (!m_error.isEmpty())
        return false; // a row was refused
    // The shared strings and the cells do not depend on each other, so the strings are laid
    // out on a second thread while this one lays out the cells (and reports their progress).
    WorkbookStream stream;
    HelperThread helper([&] { stream.globals = buildGlobals({m_numbers->texts(), m_filledCells}); });
    stream.sheet = buildSheet({m_cellStrings, m_rowEnds, m_filledCells}, {m_firstRow, m_lastRow, m_lastColumn},
                              m_widthColumns, rowDone);
    helper.join();
    if (stream.size() > kMaxStreamSize) {
        m_error = QStringLiteral("The workbook is too large for the .xls format.");
        return false;
    }
    return writeContainer(stream, device, &m_error);
}

bool writeXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error,
                      const std::function<void(qint64 done, qint64 total)> &rowDone)
{
    XlsRowBatch batch;
    qsizetype cellCount = 0;
    for (const QStringList &row : cells) {
        batch.appendRow(row);
        cellCount += row.size();
    }
    XlsFile workbook(widthColumns, cellCount);
    bool written = true;
    for (qsizetype r = 0; written && r < batch.rowCount(); ++r)
        written = workbook.addRow(batch, r);
    written = written && workbook.write(device, rowDone);
    if (!written && error)
        *error = workbook.errorString();
    return written;
}
