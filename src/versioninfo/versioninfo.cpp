#include "versioninfo/versioninfo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

// Each program defines its own copy in the file that tessaly_add_version_data() generates.
extern "C" const char tessaly_version_block[];

namespace {

constexpr QByteArrayView kSectionName = ".tessaly_version";
constexpr QStringView kFormatLine = u"TESSALY VERSION DATA 1";

// A Windows version resource cannot exceed 64 KiB (its length is a 16-bit number), so a larger
// section is damaged or hostile; refusing it keeps a crafted file from costing much memory.
constexpr quint64 kMaxBlockSize = 64 * 1024;

// The parts of the ELF64 layout that lead to a section by its name.
namespace Elf {
constexpr quint64 kHeaderSize = 64;
constexpr quint64 kSectionHeaderSize = 64;
constexpr char kClass64 = 2;
constexpr char kLittleEndian = 1;
constexpr quint16 kIndexInSectionZero = 0xffff; // SHN_XINDEX
constexpr quint32 kNoBits = 8;                  // SHT_NOBITS: the section takes no room in the file
} // namespace Elf

struct SectionHeader {
    quint32 name = 0, type = 0, link = 0;
    quint64 offset = 0, size = 0;
};

SectionHeader sectionHeaderAt(const char *entry)
{
    SectionHeader header;
    header.name = qFromLittleEndian<quint32>(entry);
    header.type = qFromLittleEndian<quint32>(entry + 0x04);
    header.offset = qFromLittleEndian<quint64>(entry + 0x18);
    header.size = qFromLittleEndian<quint64>(entry + 0x20);
    header.link = qFromLittleEndian<quint32>(entry + 0x28);
    return header;
}

// Reads exactly size bytes at offset; false unless they lie wholly inside the file. The checks
// are written so that no sum can overflow, whatever numbers a damaged file holds.
bool readRange(QFile &file, quint64 offset, quint64 size, QByteArray &bytes)
{
    const quint64 fileSize = quint64(qMax<qint64>(file.size(), 0));
    if (offset > fileSize || size > fileSize - offset || !file.seek(qint64(offset)))
        return false;
    bytes = file.read(qint64(size));
    return quint64(bytes.size()) == size;
}

// Whether the string at offset in a string table is exactly name (and NUL-terminated there).
bool nameAt(QByteArrayView strings, quint64 offset, QByteArrayView name)
{
    if (offset >= quint64(strings.size()))
        return false;
    const QByteArrayView rest = strings.sliced(qsizetype(offset));
    return rest.size() > name.size() && rest.startsWith(name) && rest[name.size()] == '\0';
}

// The section header table of an ELF64 little-endian file.
struct SectionTable {
    QByteArray entries;
    quint64 entrySize = 0, count = 0, namesIndex = 0;

    // Callers keep index below count, so the entry lies inside entries.
    SectionHeader at(quint64 index) const { return sectionHeaderAt(entries.constData() + index * entrySize); }
};

bool readSectionTable(QFile &file, SectionTable &table, QString &reason)
{
    QByteArray header;
    if (!readRange(file, 0, Elf::kHeaderSize, header)
        || !header.startsWith("\x7f"
                              "ELF")) {
        reason = u"it is not an ELF program file"_qs;
        return false;
    }
    if (header[4] != Elf::kClass64 || header[5] != Elf::kLittleEndian) {
        reason = u"it is not a 64-bit little-endian ELF file"_qs;
        return false;
    }
    const quint64 tableOffset = qFromLittleEndian<quint64>(header.constData() + 0x28);
    table.entrySize = qFromLittleEndian<quint16>(header.constData() + 0x3a);
    const quint16 headerCount = qFromLittleEndian<quint16>(header.constData() + 0x3c);
    const quint16 headerNamesIndex = qFromLittleEndian<quint16>(header.constData() + 0x3e);
    if (tableOffset == 0) {
        reason = u"it has no section headers"_qs;
        return false;
    }
    reason = u"its section headers are damaged"_qs;

    QByteArray first;
    if (table.entrySize < Elf::kSectionHeaderSize || !readRange(file, tableOffset, table.entrySize, first))
        return false;
    // A file with too many sections for the 16-bit fields keeps the real numbers in section 0.
    const SectionHeader zero = sectionHeaderAt(first.constData());
    table.count = headerCount != 0 ? headerCount : zero.size;
    table.namesIndex = headerNamesIndex == Elf::kIndexInSectionZero ? zero.link : headerNamesIndex;

    // The first entry was read, so tableOffset lies inside the file; checking the count before
    // multiplying keeps a huge count from wrapping around to a table that looks small.
    const quint64 room = quint64(file.size()) - tableOffset;
    return table.count <= room / table.entrySize && table.namesIndex < table.count
           && readRange(file, tableOffset, table.count * table.entrySize, table.entries);
}

// The bytes of the version section, reading only the headers, the section name table and the
// section itself: program files can be tens of MB.
bool readVersionSection(const QString &fileName, QByteArray &section, QString &reason)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    SectionTable table;
    if (!readSectionTable(file, table, reason))
        return false;
    const SectionHeader namesSection = table.at(table.namesIndex);
    QByteArray names;
    if (namesSection.type == Elf::kNoBits || !readRange(file, namesSection.offset, namesSection.size, names)) {
        reason = u"its section headers are damaged"_qs;
        return false;
    }

    for (quint64 index = 0; index < table.count; ++index) {
        const SectionHeader candidate = table.at(index);
        if (!nameAt(names, candidate.name, kSectionName))
            continue;
        if (candidate.type == Elf::kNoBits || candidate.size == 0) {
            reason = u"its version data section is empty"_qs;
            return false;
        }
        if (candidate.size > kMaxBlockSize) {
            reason = u"its version data section is too large"_qs;
            return false;
        }
        if (!readRange(file, candidate.offset, candidate.size, section)) {
            reason = u"its version data section lies outside the file"_qs;
            return false;
        }
        return true;
    }
    reason = u"it has no version data section"_qs;
    return false;
}

using Entries = QList<std::pair<QString, QString>>;

// The NAME=VALUE lines of a block (see versioninfo.h), or nothing when it is not version data.
std::optional<Entries> parseBlock(QByteArrayView bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(end < 0 ? bytes : bytes.first(end));
    const QStringList lines = text.split(u'\n');
    const auto withoutCarriageReturn = [](QStringView line) { return line.endsWith(u'\r') ? line.chopped(1) : line; };
    if (withoutCarriageReturn(lines.first()) != kFormatLine)
        return std::nullopt;

    Entries entries;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringView line = withoutCarriageReturn(lines[i]);
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0)
            entries.append({line.first(equals).toString(), line.sliced(equals + 1).toString()});
    }
    return entries;
}

// Names ignore letter case, as the Windows lookup of version values does.
const QString *find(const Entries &entries, QStringView name)
{
    for (const auto &[entryName, value] : entries) {
        if (entryName.compare(name, Qt::CaseInsensitive) == 0)
            return &value;
    }
    return nullptr;
}

// A 16-bit number written with digits only: QString::toUShort() alone would also take blanks,
// signs and "0x", which the block never holds.
bool parseNumber(QStringView text, int base, qsizetype maxDigits, quint16 &number)
{
    const auto isDigit = [base](QChar c) {
        return (c >= u'0' && c <= u'9') || (base == 16 && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')));
    };
    if (text.isEmpty() || text.size() > maxDigits || !std::all_of(text.begin(), text.end(), isDigit))
        return false;
    const uint value = text.toUInt(nullptr, base);
    number = quint16(value);
    return value <= 0xffff;
}

QString hex4(quint16 number)
{
    return QString::number(number, 16).rightJustified(4, u'0').toUpper();
}

// The name of the string table that the first translation pair selects, e.g. "040904E4".
bool stringTableName(const Entries &entries, QString &table, QString &reason)
{
    const QString *translation = find(entries, u"Translation");
    const QStringList numbers = translation ? translation->simplified().split(u' ', Qt::SkipEmptyParts) : QStringList();
    if (numbers.isEmpty()) {
        reason = u"it has no translation entry"_qs;
        return false;
    }
    std::array<quint16, 2> pair{};
    bool wellFormed = numbers.size() % 2 == 0;
    for (qsizetype i = 0; wellFormed && i < numbers.size(); ++i) {
        quint16 number = 0;
        wellFormed = numbers[i].size() == 4 && parseNumber(numbers[i], 16, 4, number);
        if (i < 2)
            pair[i] = number;
    }
    if (!wellFormed) {
        reason = u"its translation entry is malformed"_qs;
        return false;
    }
    table = hex4(pair[0]) + hex4(pair[1]);
    return true;
}

struct Field {
    QStringView valueName;
    QString ExeVersionData::*member;
};

constexpr std::array kFields{
    Field{u"CompanyName", &ExeVersionData::companyName},
    Field{u"FileDescription", &ExeVersionData::fileDescription},
    Field{u"FileVersion", &ExeVersionData::fileVersion},
    Field{u"InternalName", &ExeVersionData::internalName},
    Field{u"LegalCopyright", &ExeVersionData::legalCopyright},
    Field{u"LegalTrademarks", &ExeVersionData::legalTrademarks},
    Field{u"OriginalFileName", &ExeVersionData::originalFileName},
    Field{u"ProductName", &ExeVersionData::productName},
    Field{u"ProductVersion", &ExeVersionData::productVersion},
    Field{u"Comments", &ExeVersionData::comments},
    Field{u"PrivateBuild", &ExeVersionData::privateBuild},
    Field{u"SpecialBuild", &ExeVersionData::specialBuild},
};

// Assigns the fields present in the selected string table; nothing is assigned on failure.
bool fillVersionData(const Entries &entries, ExeVersionData &data, QString &reason)
{
    QString table;
    if (!stringTableName(entries, table, reason))
        return false;
    const QString prefix = u"\\StringFileInfo\\"_qs + table + u'\\';
    for (const Field &field : kFields) {
        if (const QString *value = find(entries, QString(prefix).append(field.valueName)))
            data.*field.member = *value;
    }
    return true;
}

bool fixedVersion(const Entries &entries, FixedFileVersion &version, QString &reason)
{
    const QString *text = find(entries, u"FixedFileVersion");
    if (!text) {
        reason = u"it has no fixed file version"_qs;
        return false;
    }
    const QStringList parts = text->split(u'.');
    std::array<quint16, 4> numbers{};
    bool wellFormed = parts.size() == 4;
    for (qsizetype i = 0; wellFormed && i < 4; ++i)
        wellFormed = parseNumber(parts[i], 10, 5, numbers[i]);
    if (!wellFormed) {
        reason = u"its fixed file version is malformed"_qs;
        return false;
    }
    version = {numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

bool readEntries(const QString &fileName, Entries &entries, QString &reason)
{
    QByteArray section;
    if (!readVersionSection(fileName, section, reason))
        return false;
    std::optional<Entries> parsed = parseBlock(section);
    if (!parsed) {
        reason = u"its version data section holds no version data"_qs;
        return false;
    }
    entries = std::move(*parsed);
    return true;
}

bool fail(QString *error, const QString &fileName, const QString &reason)
{
    if (error)
        *error = u"Cannot read the version data of \"%1\": %2."_qs.arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}

} // namespace

bool readExeVersionData(const QString &fileName, ExeVersionData &data, QString *error)
{
    Entries entries;
    QString reason;
    if (!readEntries(fileName, entries, reason) || !fillVersionData(entries, data, reason))
        return fail(error, fileName, reason);
    return true;
}

bool readFixedFileVersion(const QString &fileName, FixedFileVersion &version, QString *error)
{
    Entries entries;
    QString reason;
    if (!readEntries(fileName, entries, reason) || !fixedVersion(entries, version, reason))
        return fail(error, fileName, reason);
    return true;
}

bool ownVersionData(ExeVersionData &data, FixedFileVersion &version)
{
    const std::optional<Entries> entries
        = parseBlock(QByteArrayView(tessaly_version_block, qstrlen(tessaly_version_block)));
    ExeVersionData filled = data;
    FixedFileVersion fixed;
    QString reason;
    if (!entries || !fillVersionData(*entries, filled, reason) || !fixedVersion(*entries, fixed, reason))
        return false;
    data = filled;
    version = fixed;
    return true;
}
