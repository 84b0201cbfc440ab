#include "engine/compoundfile.h"

#include "text/devicewrite.h"

#include <QFileDevice>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace {

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
/** The device's own reason, which callers put into their message about the file. */
QString deviceError(const QIODevice &device)
{
    const QString reason = device.errorString();
    return reason.isEmpty() ? QStringLiteral("The data could not be written.") : reason;
}

} // namespace

bool writeCompoundFile(std::span<const QByteArray> stream, QIODevice &device, QString *error)
{
    qsizetype size = 0;
    for (const QByteArray &part : stream)
        size += part.size();
    Q_ASSERT(size <= kCompoundFileMaxStream);
    const qsizetype streamSize = std::max(size, kMiniStreamCutoff);
    const ContainerLayout layout = planContainer(streamSize);
    const QByteArray streamTail(qsizetype(layout.streamSectors) * kSectorSize - size, '\0');
    const QByteArray tables = directorySector(quint32(streamSize)) + fatSectors(layout) + difatSectors(layout);
    bool written = writeAllBytes(device, containerHeader(layout));
    for (const QByteArray &part : stream)
        written = written && writeAllBytes(device, part);
    written = written && writeAllBytes(device, streamTail) && writeAllBytes(device, tables);
    // A file device may keep the last bytes buffered; a full disk only shows when they go out.
    if (written) {
        if (auto *file = qobject_cast<QFileDevice *>(&device))
            written = file->flush();
    }
    if (!written && error)
        *error = deviceError(device);
    return written;
}
