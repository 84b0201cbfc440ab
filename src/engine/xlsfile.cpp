#include "engine/xlsfile.h"

#include "text/devicewrite.h"

#include <QFileDevice>
#include <QHash>
#include <QStringView>
#include <QtEndian>

#include <algorithm>
#include <array>

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

void AppendU8(QByteArray &out, quint8 value)
{
    out.append(char(value));
}

void AppendU16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

void AppendU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

/** Starts a record whose length EndRecord fills in; returns where the record data begins. */
qsizetype BeginRecord(QByteArray &out, quint16 type)
{
    AppendU16(out, type);
    AppendU16(out, 0);
    return out.size();
}

void EndRecord(QByteArray &out, qsizetype dataStart)
{
    const qsizetype length = out.size() - dataStart;
    Q_ASSERT(length <= kMaxRecordData);
    qToLittleEndian(quint16(length), out.data() + dataStart - 2);
}

bool IsLatin1(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
}

/** Appends UTF-16 units either as single bytes (all below 0x100) or as UTF-16LE. */
void AppendUnits(QByteArray &out, QStringView units, bool wide)
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
void AppendShortString(QByteArray &out, QStringView text)
{
    const bool wide = !IsLatin1(text);
    AppendU8(out, quint8(text.size()));
    AppendU8(out, wide ? kStringWide : 0);
    AppendUnits(out, text, wide);
}

void AppendBof(QByteArray &out, quint16 substream)
{
    const qsizetype start = BeginRecord(out, kRecBof);
    AppendU16(out, 0x0600); // BIFF8
    AppendU16(out, substream);
    AppendU16(out, 0x0DBB); // build
    AppendU16(out, 0x07CC); // year
    AppendU32(out, 0);      // file history
    AppendU32(out, 0x0006); // lowest version that reads every record: BIFF8
    EndRecord(out, start);
}

void AppendEof(QByteArray &out)
{
    EndRecord(out, BeginRecord(out, kRecEof));
}

void AppendU16Record(QByteArray &out, quint16 type, quint16 value)
{
    const qsizetype start = BeginRecord(out, type);
    AppendU16(out, value);
    EndRecord(out, start);
}

void AppendWindow1(QByteArray &out)
{
    const qsizetype start = BeginRecord(out, kRecWindow1);
    AppendU16(out, 0x01E0); // window position and size in twips
    AppendU16(out, 0x005A);
    AppendU16(out, 0x3FCF);
    AppendU16(out, 0x2A4E);
    AppendU16(out, 0x0038); // horizontal and vertical scroll bars, sheet tabs
    AppendU16(out, 0);      // active sheet
    AppendU16(out, 0);      // first visible tab
    AppendU16(out, 1);      // selected sheets
    AppendU16(out, 0x0258); // tab bar width ratio
    EndRecord(out, start);
}

/** Readers expect the usual set of fonts; index 4 is never stored, so five records give 0-3 and 5. */
void AppendFonts(QByteArray &out)
{
    for (int i = 0; i < kFontCount; ++i) {
        const qsizetype start = BeginRecord(out, kRecFont);
        AppendU16(out, 200);    // 10 pt in twips
        AppendU16(out, 0);      // no italic, strike-out, outline
        AppendU16(out, 0x7FFF); // automatic colour
        AppendU16(out, 400);    // normal weight
        AppendU16(out, 0);      // no super- or subscript
        AppendU8(out, 0);       // no underline
        AppendU8(out, 0);       // font family
        AppendU8(out, 0);       // character set
        AppendU8(out, 0);
        AppendShortString(out, u"Arial");
        EndRecord(out, start);
    }
}

void AppendXf(QByteArray &out, quint16 font, quint16 format, quint16 typeAndParent, quint8 usedAttributes)
{
    const qsizetype start = BeginRecord(out, kRecXf);
    AppendU16(out, font);
    AppendU16(out, format);
    AppendU16(out, typeAndParent);
    AppendU8(out, 0x20); // aligned to the bottom, horizontal alignment "general"
    AppendU8(out, 0);    // no rotation
    AppendU8(out, 0);    // no indent
    AppendU8(out, usedAttributes);
    AppendU32(out, 0); // no borders
    AppendU32(out, 0);
    AppendU16(out, 0x20C0); // default pattern colours
    EndRecord(out, start);
}

/**
 * The 15 style XFs every workbook carries, the default cell XF, and the text cell XF.
 * The text cell XF marks its number format as its own, not inherited from the style.
 */
void AppendXfs(QByteArray &out)
{
    constexpr quint16 kStyleXf = 0xFFF5; // locked, style XF, no parent
    constexpr quint16 kCellXf = 0x0001;  // locked, cell XF, parent style 0
    // In a style XF a set bit leaves that attribute out of the style: styles 1-14 carry only a font.
    constexpr quint8 kStyleFontOnly = 0xF4;
    constexpr quint8 kOwnNumberFormat = 0x04;
    static constexpr std::array<quint16, kStyleXfCount> kStyleFonts = {0, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (quint16 i = 0; i < kStyleXfCount; ++i)
        AppendXf(out, kStyleFonts[i], 0, kStyleXf, i == 0 ? 0 : kStyleFontOnly);
    AppendXf(out, 0, 0, kCellXf, 0);
    AppendXf(out, 0, kBuiltInTextFormat, kCellXf, kOwnNumberFormat);
}

void AppendNormalStyle(QByteArray &out)
{
    const qsizetype start = BeginRecord(out, kRecStyle);
    AppendU16(out, 0x8000); // built-in style on XF 0
    AppendU8(out, 0);       // "Normal"
    AppendU8(out, 0xFF);    // no outline level
    EndRecord(out, start);
}

/** Returns where the sheet offset is stored so it can be filled in once the sheet's place is known. */
qsizetype AppendBoundSheet(QByteArray &out)
{
    const qsizetype start = BeginRecord(out, kRecBoundSheet);
    const qsizetype offsetPosition = out.size();
    AppendU32(out, 0);
    AppendU8(out, 0); // visible
    AppendU8(out, 0); // worksheet
    AppendShortString(out, u"Sheet1");
    EndRecord(out, start);
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
        : out_(out)
        , bucketSize_(quint16(std::clamp<quint32>((uniqueCount + kWantedBuckets - 1) / kWantedBuckets, 8, 0xFFFF)))
    {
        dataStart_ = BeginRecord(out_, kRecSst);
        AppendU32(out_, totalCount);
        AppendU32(out_, uniqueCount);
    }

    void Add(QStringView text)
    {
        const bool wide = !IsLatin1(text);
        const qsizetype unitSize = wide ? 2 : 1;
        // Keep the header together with the first characters (room for a whole surrogate pair).
        if (Room() < kStringHeaderSize + std::min<qsizetype>(text.size() * unitSize, 4))
            ContinueRecord();
        if (added_++ % bucketSize_ == 0)
            buckets_.push_back({quint32(out_.size()), quint16(out_.size() - dataStart_ + kRecordHeaderSize)});
        AppendU16(out_, quint16(text.size()));
        AppendU8(out_, wide ? kStringWide : 0);
        while (!text.isEmpty()) {
            qsizetype count = std::min(text.size(), Room() / unitSize);
            // Each record's part must be valid UTF-16 on its own, so a surrogate pair stays whole.
            if (count < text.size() && text[count - 1].isHighSurrogate())
                --count;
            Q_ASSERT(count > 0);
            AppendUnits(out_, text.first(count), wide);
            text = text.sliced(count);
            if (!text.isEmpty()) {
                ContinueRecord();
                AppendU8(out_, wide ? kStringWide : 0);
            }
        }
    }

    /** Closes the table and appends the EXTSST index over it. */
    void Finish()
    {
        EndRecord(out_, dataStart_);
        const qsizetype start = BeginRecord(out_, kRecExtSst);
        AppendU16(out_, bucketSize_);
        for (const Bucket &bucket : buckets_) {
            AppendU32(out_, bucket.streamPosition);
            AppendU16(out_, bucket.recordOffset);
            AppendU16(out_, 0);
        }
        EndRecord(out_, start);
    }

private:
    // Few enough entries for EXTSST to stay one record, even for the largest sheet (at most 257).
    static constexpr quint32 kWantedBuckets = 128;

    struct Bucket {
        quint32 streamPosition;
        quint16 recordOffset; // from the start of the record header
    };

    qsizetype Room() const { return kMaxRecordData - (out_.size() - dataStart_); }

    void ContinueRecord()
    {
        EndRecord(out_, dataStart_);
        dataStart_ = BeginRecord(out_, kRecContinue);
    }

    QByteArray &out_;
    qsizetype dataStart_ = 0;
    quint16 bucketSize_;
    quint32 added_ = 0;
    std::vector<Bucket> buckets_;
};

/** Where the written cells lie, and which shared string each one uses. */
struct CellIndex {
    std::vector<quint32> stringOfCell; // one entry per non-empty cell, row by row
    quint32 uniqueCount = 0;
    qsizetype uniqueUnits = 0;
    qsizetype firstRow = -1;
    qsizetype lastRow = -1;
    qsizetype firstColumn = kXlsMaxColumns;
    qsizetype lastColumn = -1;
};

bool FitsLimits(const std::vector<QStringList> &cells)
{
    for (qsizetype r = 0; r < qsizetype(cells.size()); ++r) {
        const QStringList &row = cells[r];
        for (qsizetype c = 0; c < row.size(); ++c) {
            const QString &text = row[c];
            if (r >= kXlsMaxRows || c >= kXlsMaxColumns || text.size() > kXlsMaxCellChars)
                return false;
        }
    }
    return true;
}

/** Numbers the distinct texts in the order they first appear, so equal texts share one entry. */
CellIndex IndexCells(const std::vector<QStringList> &cells)
{
    CellIndex index;
    qsizetype cellCount = 0;
    for (const QStringList &row : cells)
        cellCount += row.size();
    index.stringOfCell.reserve(cellCount);
    // The views point into the caller's strings, which outlive the writing.
    QHash<QStringView, quint32> numbers;
    numbers.reserve(cellCount);
    for (qsizetype r = 0; r < qsizetype(cells.size()); ++r) {
        const QStringList &row = cells[r];
        for (qsizetype c = 0; c < row.size(); ++c) {
            const QString &text = row[c];
            if (!text.isEmpty()) {
                // Numbers are stored one-based so that a new entry's zero means "not seen yet".
                quint32 &number = numbers[QStringView(text)];
                if (number == 0) {
                    number = ++index.uniqueCount;
                    index.uniqueUnits += text.size();
                }
                index.stringOfCell.push_back(number - 1);
            }
            if (index.firstRow < 0)
                index.firstRow = r;
            index.lastRow = r;
            index.firstColumn = std::min(index.firstColumn, c);
            index.lastColumn = std::max(index.lastColumn, c);
        }
    }
    return index;
}

void AppendSharedStrings(QByteArray &out, const std::vector<QStringList> &cells, const CellIndex &index)
{
    SstWriter sst(out, quint32(index.stringOfCell.size()), index.uniqueCount);
    // Strings were numbered in order of first appearance, so one more walk writes them in order.
    quint32 next = 0;
    size_t cell = 0;
    for (const QStringList &row : cells) {
        for (const QString &text : row) {
            if (text.isEmpty())
                continue;
            if (index.stringOfCell[cell++] == next) {
                sst.Add(text);
                ++next;
            }
        }
    }
    sst.Finish();
}

void AppendColumnWidths(QByteArray &out, int widthColumns)
{
    if (widthColumns <= 0)
        return;
    const qsizetype start = BeginRecord(out, kRecColInfo);
    AppendU16(out, 0);
    AppendU16(out, quint16(widthColumns - 1));
    AppendU16(out, kColumnWidth);
    AppendU16(out, kDefaultCellXf);
    AppendU16(out, kColumnWidthUserSet);
    AppendU16(out, 0);
    EndRecord(out, start);
}

void AppendDimensions(QByteArray &out, const CellIndex &index)
{
    const bool empty = index.firstRow < 0;
    const qsizetype start = BeginRecord(out, kRecDimensions);
    AppendU32(out, empty ? 0 : quint32(index.firstRow));
    AppendU32(out, empty ? 0 : quint32(index.lastRow + 1)); // one past the last row
    AppendU16(out, empty ? 0 : quint16(index.firstColumn));
    AppendU16(out, empty ? 0 : quint16(index.lastColumn + 1));
    AppendU16(out, 0);
    EndRecord(out, start);
}

void AppendTextCells(QByteArray &out, const std::vector<QStringList> &cells, const CellIndex &index)
{
    constexpr quint16 kLabelSstSize = 10;
    constexpr quint16 kBlankSize = 6;
    // One fixed-size record per cell, built on the stack to keep this loop allocation-free.
    // An empty text is a blank cell that still carries the text format, as every used cell does.
    std::array<char, kRecordHeaderSize + kLabelSstSize> label{};
    qToLittleEndian(quint16(kRecLabelSst), label.data());
    qToLittleEndian(kLabelSstSize, label.data() + 2);
    qToLittleEndian(kTextCellXf, label.data() + 8);
    std::array<char, kRecordHeaderSize + kBlankSize> blank{};
    qToLittleEndian(quint16(kRecBlank), blank.data());
    qToLittleEndian(kBlankSize, blank.data() + 2);
    qToLittleEndian(kTextCellXf, blank.data() + 8);
    size_t cell = 0;
    for (qsizetype r = 0; r < qsizetype(cells.size()); ++r) {
        const QStringList &row = cells[r];
        for (qsizetype c = 0; c < row.size(); ++c) {
            char *const record = row[c].isEmpty() ? blank.data() : label.data();
            qToLittleEndian(quint16(r), record + 4);
            qToLittleEndian(quint16(c), record + 6);
            if (row[c].isEmpty()) {
                out.append(blank.data(), blank.size());
            } else {
                qToLittleEndian(index.stringOfCell[cell++], label.data() + 10);
                out.append(label.data(), label.size());
            }
        }
    }
}

void AppendWindow2(QByteArray &out)
{
    const qsizetype start = BeginRecord(out, kRecWindow2);
    AppendU16(out, 0x06B6); // grid, headers, zeros, outline symbols; sheet selected and shown
    AppendU16(out, 0);      // first visible row
    AppendU16(out, 0);      // first visible column
    AppendU16(out, 64);     // automatic grid colour
    AppendU16(out, 0);
    AppendU16(out, 0); // default zoom in page break preview
    AppendU16(out, 0); // default zoom
    AppendU32(out, 0);
    EndRecord(out, start);
}

QByteArray BuildWorkbookStream(const std::vector<QStringList> &cells, int widthColumns)
{
    const CellIndex index = IndexCells(cells);
    QByteArray out;
    out.reserve(4096 + qsizetype(index.stringOfCell.size()) * 14 + index.uniqueCount * 4 + index.uniqueUnits * 2);

    AppendBof(out, kBofGlobals);
    AppendU16Record(out, kRecCodePage, kCodePageUtf16);
    AppendWindow1(out);
    AppendFonts(out);
    AppendXfs(out);
    AppendNormalStyle(out);
    const qsizetype sheetOffsetPosition = AppendBoundSheet(out);
    AppendSharedStrings(out, cells, index);
    AppendEof(out);

    qToLittleEndian(quint32(out.size()), out.data() + sheetOffsetPosition);
    AppendBof(out, kBofWorksheet);
    AppendColumnWidths(out, std::clamp(widthColumns, 0, int(kXlsMaxColumns)));
    AppendDimensions(out, index);
    AppendTextCells(out, cells, index);
    AppendWindow2(out);
    AppendEof(out);
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

    quint32 DirectorySector() const { return streamSectors; }
    quint32 FirstFatSector() const { return streamSectors + 1; }
    quint32 FirstDifatSector() const { return FirstFatSector() + fatSectors; }
    quint32 SectorCount() const { return FirstDifatSector() + difatSectors; }
};

quint32 SectorsFor(qsizetype bytes, qsizetype perSector)
{
    return quint32((bytes + perSector - 1) / perSector);
}

/** The FAT also has to cover its own sectors and the DIFAT's, so grow both until they fit. */
ContainerLayout PlanContainer(qsizetype streamSize)
{
    ContainerLayout layout;
    layout.streamSectors = SectorsFor(streamSize, kSectorSize);
    for (;;) {
        const quint32 fat = SectorsFor(layout.SectorCount(), kIdsPerSector);
        const quint32 difat = fat > kHeaderDifatEntries ? SectorsFor(fat - kHeaderDifatEntries, kIdsPerDifatSector) : 0;
        if (fat == layout.fatSectors && difat == layout.difatSectors)
            return layout;
        layout.fatSectors = fat;
        layout.difatSectors = difat;
    }
}

void PutU16(QByteArray &bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void PutU32(QByteArray &bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

QByteArray ContainerHeader(const ContainerLayout &layout)
{
    QByteArray header(kSectorSize, '\0');
    static constexpr std::array<quint8, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(kSignature.begin(), kSignature.end(), header.begin());
    PutU16(header, 24, 0x003E); // minor version
    PutU16(header, 26, 0x0003); // major version: 512-byte sectors
    PutU16(header, 28, 0xFFFE); // little-endian
    PutU16(header, 30, 9);      // sector size 2^9
    PutU16(header, 32, 6);      // mini sector size 2^6
    PutU32(header, 44, layout.fatSectors);
    PutU32(header, 48, layout.DirectorySector());
    PutU32(header, 56, kMiniStreamCutoff);
    PutU32(header, 60, kEndOfChain); // no mini FAT
    PutU32(header, 64, 0);
    PutU32(header, 68, layout.difatSectors > 0 ? layout.FirstDifatSector() : kEndOfChain);
    PutU32(header, 72, layout.difatSectors);
    for (quint32 i = 0; i < kHeaderDifatEntries; ++i)
        PutU32(header, 76 + 4 * i, i < layout.fatSectors ? layout.FirstFatSector() + i : kFreeSector);
    return header;
}

void PutDirectoryEntry(QByteArray &sector, qsizetype at, QStringView name, quint8 type, quint32 child,
                       quint32 startSector, quint32 size)
{
    for (qsizetype i = 0; i < name.size(); ++i)
        PutU16(sector, at + 2 * i, name[i].unicode());
    PutU16(sector, at + 64, quint16((name.size() + 1) * 2)); // bytes, with the terminating zero
    sector[at + 66] = char(type);
    sector[at + 67] = 1; // black: a single entry per level is a valid red-black tree
    PutU32(sector, at + 68, kNoStream);
    PutU32(sector, at + 72, kNoStream);
    PutU32(sector, at + 76, child);
    PutU32(sector, at + 116, startSector);
    PutU32(sector, at + 120, size);
}

/** The root storage holding the one "Workbook" stream; the other two entries stay unused. */
QByteArray DirectorySector(quint32 streamSize)
{
    constexpr quint8 kStorageRoot = 5;
    constexpr quint8 kStream = 2;
    QByteArray sector(kSectorSize, '\0');
    PutDirectoryEntry(sector, 0, u"Root Entry", kStorageRoot, 1, kEndOfChain, 0);
    PutDirectoryEntry(sector, kDirectoryEntrySize, u"Workbook", kStream, kNoStream, 0, streamSize);
    for (qsizetype at = 2 * kDirectoryEntrySize; at < kSectorSize; at += kDirectoryEntrySize) {
        PutU32(sector, at + 68, kNoStream);
        PutU32(sector, at + 72, kNoStream);
        PutU32(sector, at + 76, kNoStream);
    }
    return sector;
}

QByteArray FatSectors(const ContainerLayout &layout)
{
    QByteArray fat(qsizetype(layout.fatSectors) * kSectorSize, '\xFF'); // free
    quint32 sector = 0;
    for (; sector + 1 < layout.streamSectors; ++sector)
        PutU32(fat, 4 * sector, sector + 1);
    PutU32(fat, 4 * sector++, kEndOfChain); // last stream sector
    PutU32(fat, 4 * sector++, kEndOfChain); // directory
    for (quint32 i = 0; i < layout.fatSectors; ++i)
        PutU32(fat, 4 * qsizetype(sector++), kFatSectorMark);
    for (quint32 i = 0; i < layout.difatSectors; ++i)
        PutU32(fat, 4 * qsizetype(sector++), kDifatSectorMark);
    return fat;
}

/** Lists the FAT sectors the header has no room for, in a chain of sectors. */
QByteArray DifatSectors(const ContainerLayout &layout)
{
    QByteArray difat(qsizetype(layout.difatSectors) * kSectorSize, '\xFF'); // free
    for (quint32 fatIndex = kHeaderDifatEntries; fatIndex < layout.fatSectors; ++fatIndex) {
        const quint32 slot = fatIndex - kHeaderDifatEntries;
        const qsizetype at = qsizetype(slot / kIdsPerDifatSector) * kSectorSize + 4 * (slot % kIdsPerDifatSector);
        PutU32(difat, at, layout.FirstFatSector() + fatIndex);
    }
    for (quint32 i = 0; i < layout.difatSectors; ++i) {
        const quint32 next = i + 1 < layout.difatSectors ? layout.FirstDifatSector() + i + 1 : kEndOfChain;
        PutU32(difat, qsizetype(i + 1) * kSectorSize - 4, next);
    }
    return difat;
}

bool WriteBytes(QIODevice &device, const QByteArray &bytes)
{
    return WriteAllBytes(device, bytes);
}

void SetError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

/** The device's own reason, which callers put into their message about the file. */
QString DeviceError(const QIODevice &device)
{
    const QString reason = device.errorString();
    return reason.isEmpty() ? QStringLiteral("The data could not be written.") : reason;
}

/** Writes the compound file: header, the stream's sectors, the directory, the FAT, the DIFAT. */
bool WriteContainer(const QByteArray &stream, QIODevice &device, QString *error)
{
    const ContainerLayout layout = PlanContainer(stream.size());
    const QByteArray streamTail(qsizetype(layout.streamSectors) * kSectorSize - stream.size(), '\0');
    const QByteArray tables = DirectorySector(quint32(stream.size())) + FatSectors(layout) + DifatSectors(layout);
    bool written = WriteBytes(device, ContainerHeader(layout)) && WriteBytes(device, stream)
                   && WriteBytes(device, streamTail) && WriteBytes(device, tables);
    // A file device may keep the last bytes buffered; a full disk only shows when they go out.
    if (written) {
        if (auto *file = qobject_cast<QFileDevice *>(&device))
            written = file->flush();
    }
    if (!written)
        SetError(error, DeviceError(device));
    return written;
}

} // namespace

bool WriteXlsWorkbook(const std::vector<QStringList> &cells, int widthColumns, QIODevice &device, QString *error)
{
    if (!FitsLimits(cells)) {
        SetError(error, QStringLiteral("The table does not fit into an .xls worksheet (at most %1 rows, %2 columns "
                                       "and %3 characters in a cell).")
                            .arg(kXlsMaxRows)
                            .arg(kXlsMaxColumns)
                            .arg(kXlsMaxCellChars));
        return false;
    }
    QByteArray stream = BuildWorkbookStream(cells, widthColumns);
    if (stream.size() > kMaxStreamSize) {
        SetError(error, QStringLiteral("The workbook is too large for the .xls format."));
        return false;
    }
    if (stream.size() < kMiniStreamCutoff)
        stream.append(kMiniStreamCutoff - stream.size(), '\0');
    return WriteContainer(stream, device, error);
}
