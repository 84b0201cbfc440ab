#include "xlscheck.h"

#include "checkreading.h"

#include <QList>
#include <QtEndian>

#include <climits>
#include <vector>

namespace xlscheck {
namespace {

using checkreading::Damage;
using checkreading::require;
using checkreading::u16;
using checkreading::u32;

// ---------------------------------------------------------------------------------------------
// Compound file

constexpr qsizetype kSector = 512;
constexpr quint32 kFree = 0xFFFFFFFF;
constexpr quint32 kEnd = 0xFFFFFFFE;
constexpr quint32 kFatMark = 0xFFFFFFFD;
constexpr quint32 kDifatMark = 0xFFFFFFFC;
constexpr quint32 kNoEntry = 0xFFFFFFFF;

enum class Role { None, Fat, Difat, Directory, Stream };

class CompoundFile
{
public:
    explicit CompoundFile(const QByteArray &file)
        : m_file(file)
    {
        require(file.size() >= 3 * kSector && file.size() % kSector == 0, QStringLiteral("size not whole sectors"));
        m_sectorCount = quint32(file.size() / kSector - 1);
        m_roles.assign(m_sectorCount, Role::None);
        readHeader();
        readFat();
    }

    /* The one stream, read through its FAT chain; every other sector must be free. */
    QByteArray workbookStream()
    {
        const auto [start, size] = findWorkbookEntry();
        require(size >= 4096, QStringLiteral("Workbook stream below the mini-stream cut-off"));
        const std::vector<quint32> chain = follow(start, Role::Stream);
        require(qsizetype(chain.size()) == (qsizetype(size) + kSector - 1) / kSector,
                QStringLiteral("Workbook chain of %1 sectors for %2 bytes").arg(chain.size()).arg(size));
        for (quint32 s = 0; s < m_sectorCount; ++s)
            require(m_roles[s] != Role::None || m_fat[s] == kFree, QStringLiteral("sector %1 is lost").arg(s));
        QByteArray stream;
        stream.reserve(qsizetype(chain.size()) * kSector);
        for (quint32 s : chain)
            stream.append(sector(s));
        stream.truncate(size);
        return stream;
    }

private:
    QByteArrayView sector(quint32 id) const { return QByteArrayView(m_file).sliced((id + 1) * kSector, kSector); }
    QByteArrayView header() const { return QByteArrayView(m_file).first(kSector); }

    void claim(quint32 id, Role role)
    {
        require(id < m_sectorCount, QStringLiteral("sector %1 beyond the file").arg(id));
        require(m_roles[id] == Role::None, QStringLiteral("sector %1 used twice").arg(id));
        m_roles[id] = role;
    }

    void readHeader()
    {
        require(header().startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), QStringLiteral("signature"));
        require(u16(header(), 24) == 0x3E && u16(header(), 26) == 3, QStringLiteral("version"));
        require(u16(header(), 28) == 0xFFFE, QStringLiteral("byte order"));
        require(u16(header(), 30) == 9 && u16(header(), 32) == 6, QStringLiteral("sector sizes"));
        require(u32(header(), 40) == 0, QStringLiteral("directory sector count must be 0 in version 3"));
        require(u32(header(), 56) == 4096, QStringLiteral("mini-stream cut-off"));
        require(u32(header(), 60) == kEnd && u32(header(), 64) == 0, QStringLiteral("a mini FAT"));
        m_fatCount = u32(header(), 44);
        m_directoryStart = u32(header(), 48);
        m_difatStart = u32(header(), 68);
        m_difatCount = u32(header(), 72);
    }

    void readFat()
    {
        std::vector<quint32> fatSectors;
        auto take = [&](quint32 id) {
            if (quint32(fatSectors.size()) < m_fatCount) {
                require(id < m_sectorCount, QStringLiteral("FAT sector %1 beyond the file").arg(id));
                fatSectors.push_back(id);
            } else {
                require(id == kFree, QStringLiteral("DIFAT entry after the last FAT sector"));
            }
        };
        for (int i = 0; i < 109; ++i)
            take(u32(header(), 76 + 4 * i));
        std::vector<quint32> difatSectors;
        quint32 next = m_difatCount > 0 ? m_difatStart : kEnd;
        require(m_difatCount > 0 || m_difatStart == kEnd, QStringLiteral("DIFAT start without DIFAT sectors"));
        for (quint32 k = 0; k < m_difatCount; ++k) {
            claim(next, Role::Difat);
            difatSectors.push_back(next);
            for (int i = 0; i < 127; ++i)
                take(u32(sector(next), 4 * i));
            next = u32(sector(next), 508);
        }
        require(next == kEnd, QStringLiteral("DIFAT chain does not end"));
        require(quint32(fatSectors.size()) == m_fatCount, QStringLiteral("fewer FAT sectors listed than counted"));
        require(quint64(m_fatCount) * 128 >= m_sectorCount, QStringLiteral("FAT too small for the file"));
        for (quint32 id : fatSectors) {
            claim(id, Role::Fat);
            for (int i = 0; i < 128; ++i)
                m_fat.push_back(u32(sector(id), 4 * i));
        }
        for (quint32 id : fatSectors)
            require(m_fat[id] == kFatMark, QStringLiteral("FAT sector %1 not marked").arg(id));
        for (quint32 id : difatSectors)
            require(m_fat[id] == kDifatMark, QStringLiteral("DIFAT sector %1 not marked").arg(id));
        for (size_t i = m_sectorCount; i < m_fat.size(); ++i)
            require(m_fat[i] == kFree, QStringLiteral("FAT entry beyond the file in use"));
    }

    /* A chain; claiming each sector also stops at a loop. */
    std::vector<quint32> follow(quint32 start, Role role)
    {
        std::vector<quint32> chain;
        for (quint32 s = start; s != kEnd; s = m_fat[s]) {
            claim(s, role);
            chain.push_back(s);
        }
        return chain;
    }

    QString entryName(QByteArrayView entry) const
    {
        const quint16 bytes = u16(entry, 64);
        require(bytes >= 2 && bytes <= 64 && bytes % 2 == 0, QStringLiteral("directory name length"));
        QString name;
        for (int i = 0; i + 1 < bytes / 2; ++i)
            name += QChar(u16(entry, 2 * i));
        require(u16(entry, bytes - 2) == 0, QStringLiteral("directory name not terminated"));
        return name;
    }

    QPair<quint32, quint32> findWorkbookEntry()
    {
        QByteArray directory;
        for (quint32 s : follow(m_directoryStart, Role::Directory))
            directory.append(sector(s));
        const qsizetype entryCount = directory.size() / 128;
        auto entry = [&](quint32 id) { return QByteArrayView(directory).sliced(qsizetype(id) * 128, 128); };
        require(entryName(entry(0)) == QStringLiteral("Root Entry") && quint8(entry(0)[66]) == 5,
                QStringLiteral("root entry"));
        require(u32(entry(0), 120) == 0, QStringLiteral("a mini stream"));
        // Walk the root's tree of children; each entry is met once.
        std::vector<bool> seen(size_t(entryCount), false);
        std::vector<quint32> pending{u32(entry(0), 76)};
        QList<QPair<quint32, quint32>> streams;
        while (!pending.empty()) {
            const quint32 id = pending.back();
            pending.pop_back();
            if (id == kNoEntry)
                continue;
            require(id < entryCount && !seen[id] && id != 0, QStringLiteral("directory tree entry %1").arg(id));
            seen[id] = true;
            const QByteArrayView e = entry(id);
            require(quint8(e[66]) == 2, QStringLiteral("only streams below the root"));
            require(u32(e, 76) == kNoEntry, QStringLiteral("a stream with children"));
            if (entryName(e) == QStringLiteral("Workbook"))
                streams.append({u32(e, 116), u32(e, 120)});
            pending.push_back(u32(e, 68));
            pending.push_back(u32(e, 72));
        }
        require(streams.size() == 1, QStringLiteral("%1 Workbook streams").arg(streams.size()));
        for (qsizetype id = 1; id < entryCount; ++id)
            require(seen[size_t(id)] || quint8(entry(quint32(id))[66]) == 0, QStringLiteral("entry outside the tree"));
        return streams.front();
    }

    const QByteArray &m_file;
    quint32 m_sectorCount = 0;
    quint32 m_fatCount = 0;
    quint32 m_directoryStart = 0;
    quint32 m_difatStart = 0;
    quint32 m_difatCount = 0;
    std::vector<quint32> m_fat;
    std::vector<Role> m_roles;
};

// ---------------------------------------------------------------------------------------------
// Workbook stream

enum : quint16 {
    kBof = 0x0809,
    kEof = 0x000A,
    kContinue = 0x003C,
    kXf = 0x00E0,
    kBoundSheet = 0x0085,
    kSst = 0x00FC,
    kExtSst = 0x00FF,
    kColInfo = 0x007D,
    kDimensions = 0x0200,
    kLabelSst = 0x00FD,
    kBlank = 0x0201,
    kWindow2 = 0x023E,
};

struct Record {
    quint16 type;
    qsizetype position; // of the record header in the stream
    QByteArrayView data;
};

/* The records up to the second EOF (globals, then the sheet); only zeros may follow. */
QList<Record> splitRecords(const QByteArray &stream)
{
    QList<Record> records;
    int eofs = 0;
    qsizetype at = 0;
    while (eofs < 2) {
        const quint16 type = u16(stream, at);
        const quint16 length = u16(stream, at + 2);
        require(length <= 8224, QStringLiteral("record of %1 bytes at %2").arg(length).arg(at));
        require(at + 4 + length <= stream.size(), QStringLiteral("record past the stream's end"));
        records.append({type, at, QByteArrayView(stream).sliced(at + 4, length)});
        at += 4 + length;
        eofs += type == kEof;
    }
    for (; at < stream.size(); ++at)
        require(stream[at] == 0, QStringLiteral("bytes after the sheet's EOF"));
    return records;
}

struct SharedStrings {
    quint32 totalCount = 0;
    QStringList texts;
    QList<qsizetype> positions;   // stream position of each string's header
    QList<quint16> recordOffsets; // of that header from its record's header
};

/* Reads the SST at records[index] and its CONTINUE records; index is left after them. */
SharedStrings readSharedStrings(const QList<Record> &records, qsizetype &index)
{
    SharedStrings sst;
    const Record &first = records[index];
    sst.totalCount = u32(first.data, 0);
    const quint32 unique = u32(first.data, 4);
    qsizetype part = index;
    qsizetype offset = 8;
    auto nextPart = [&] {
        ++part;
        require(part < records.size() && records[part].type == kContinue, QStringLiteral("SST ends early"));
        offset = 0;
    };
    for (quint32 n = 0; n < unique; ++n) {
        if (offset == records[part].data.size())
            nextPart();
        require(records[part].data.size() - offset >= 3, QStringLiteral("string header split"));
        sst.positions.append(records[part].position + 4 + offset);
        sst.recordOffsets.append(quint16(4 + offset));
        qsizetype remaining = u16(records[part].data, offset);
        quint8 flags = quint8(records[part].data[offset + 2]);
        offset += 3;
        QString text;
        while (true) {
            require(flags == 0 || flags == 1, QStringLiteral("string option byte %1").arg(flags));
            const qsizetype unit = flags == 1 ? 2 : 1;
            const qsizetype room = records[part].data.size() - offset;
            const qsizetype count = std::min(remaining, room / unit);
            for (qsizetype i = 0; i < count; ++i, offset += unit)
                text += QChar(unit == 2 ? u16(records[part].data, offset) : quint8(records[part].data[offset]));
            remaining -= count;
            if (remaining == 0)
                break;
            require(offset == records[part].data.size(), QStringLiteral("character split across records"));
            require(!text.isEmpty(), QStringLiteral("string header without its first characters"));
            nextPart();
            require(records[part].data.size() > 1, QStringLiteral("empty CONTINUE"));
            flags = quint8(records[part].data[offset++]);
            const QChar last = text.back();
            const QChar following
                = QChar(flags == 1 ? u16(records[part].data, offset) : quint8(records[part].data[offset]));
            require(!(last.isHighSurrogate() && following.isLowSurrogate()), QStringLiteral("surrogate pair split"));
        }
        sst.texts.append(text);
    }
    require(offset == records[part].data.size(), QStringLiteral("bytes after the last string"));
    index = part + 1;
    return sst;
}

void checkExtSst(const Record &record, const SharedStrings &sst)
{
    require(record.type == kExtSst, QStringLiteral("no EXTSST after the SST"));
    const quint16 bucket = u16(record.data, 0);
    require(bucket >= 8, QStringLiteral("EXTSST bucket size"));
    require((record.data.size() - 2) % 8 == 0, QStringLiteral("EXTSST length"));
    const qsizetype entries = (record.data.size() - 2) / 8;
    require(entries == (sst.texts.size() + bucket - 1) / bucket, QStringLiteral("EXTSST entry count"));
    for (qsizetype k = 0; k < entries; ++k) {
        require(u32(record.data, 2 + 8 * k) == sst.positions[k * bucket], QStringLiteral("EXTSST position %1").arg(k));
        require(u16(record.data, 6 + 8 * k) == sst.recordOffsets[k * bucket],
                QStringLiteral("EXTSST offset %1").arg(k));
    }
}

void checkBof(const Record &record, quint16 substream)
{
    require(record.type == kBof && u16(record.data, 0) == 0x0600 && u16(record.data, 2) == substream,
            QStringLiteral("BOF of substream %1").arg(substream));
}

Workbook readStream(const QByteArray &stream)
{
    const QList<Record> records = splitRecords(stream);
    qsizetype i = 0;
    checkBof(records[i++], 0x0005);
    QList<quint16> xfFormats;
    std::optional<SharedStrings> sst;
    std::optional<quint32> sheetOffset;
    for (; records[i].type != kEof; ++i) {
        const Record &record = records[i];
        require(record.type != kContinue && record.type != kBof, QStringLiteral("stray record %1").arg(record.type));
        if (record.type == kXf) {
            xfFormats.append(u16(record.data, 2));
        } else if (record.type == kBoundSheet) {
            require(!sheetOffset, QStringLiteral("two sheets"));
            sheetOffset = u32(record.data, 0);
        } else if (record.type == kSst) {
            require(!sst, QStringLiteral("two SSTs"));
            sst = readSharedStrings(records, i);
            checkExtSst(records[i], *sst);
        }
    }
    require(sst && sheetOffset, QStringLiteral("no SST or no sheet"));
    ++i;
    require(i < records.size() && records[i].position == qsizetype(*sheetOffset), QStringLiteral("sheet offset"));
    checkBof(records[i++], 0x0010);

    Workbook book;
    if (records[i].type == kColInfo) {
        require(u16(records[i].data, 0) == 0, QStringLiteral("COLINFO from column 0"));
        book.widthColumns = u16(records[i].data, 2) + 1;
        ++i;
    }
    require(records[i].type == kDimensions, QStringLiteral("no DIMENSIONS"));
    const QByteArrayView dimensions = records[i++].data;
    quint32 labels = 0;
    QPair<int, int> previous{-1, -1};
    int firstRow = INT_MAX, lastRow = -1, firstColumn = INT_MAX, lastColumn = -1;
    for (; records[i].type == kLabelSst || records[i].type == kBlank; ++i) {
        const Record &cell = records[i];
        require(cell.data.size() == (cell.type == kLabelSst ? 10 : 6), QStringLiteral("cell record length"));
        const QPair<int, int> place{u16(cell.data, 0), u16(cell.data, 2)};
        require(place > previous, QStringLiteral("cells out of order at %1,%2").arg(place.first).arg(place.second));
        previous = place;
        const quint16 xf = u16(cell.data, 4);
        require(xf < xfFormats.size() && xfFormats[xf] == 49, QStringLiteral("cell without the text format"));
        QString text;
        if (cell.type == kLabelSst) {
            const quint32 string = u32(cell.data, 6);
            require(string < quint32(sst->texts.size()), QStringLiteral("string index %1").arg(string));
            text = sst->texts[string];
            require(!text.isEmpty(), QStringLiteral("a label cell with an empty text"));
            ++labels;
        }
        book.cells.insert(place, text);
        firstRow = std::min(firstRow, place.first);
        lastRow = std::max(lastRow, place.first);
        firstColumn = std::min(firstColumn, place.second);
        lastColumn = std::max(lastColumn, place.second);
    }
    require(labels == sst->totalCount,
            QStringLiteral("SST counts %1 uses, the sheet %2").arg(sst->totalCount).arg(labels));
    const bool empty = book.cells.isEmpty();
    require(u32(dimensions, 0) == (empty ? 0u : quint32(firstRow)) && u32(dimensions, 4) == quint32(lastRow + 1)
                && u16(dimensions, 8) == (empty ? 0 : firstColumn) && u16(dimensions, 10) == quint16(lastColumn + 1),
            QStringLiteral("DIMENSIONS do not match the cells"));
    require(records[i++].type == kWindow2, QStringLiteral("no WINDOW2 after the cells"));
    require(records[i].type == kEof && i + 1 == records.size(), QStringLiteral("records after WINDOW2"));
    return book;
}

} // namespace

std::optional<Workbook> readWorkbook(const QByteArray &file, QString &why)
{
    try {
        CompoundFile compound(file);
        return readStream(compound.workbookStream());
    } catch (const Damage &damage) {
        why = damage.why;
        return std::nullopt;
    }
}

} // namespace xlscheck
