#include "versioninfo/versioninfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <array>
#include <initializer_list>
#include <utility>

Q_DECLARE_METATYPE(ExeVersionData)
Q_DECLARE_METATYPE(FixedFileVersion)

namespace {

constexpr std::array kAllFields{
    &ExeVersionData::companyName,      &ExeVersionData::fileDescription, &ExeVersionData::fileVersion,
    &ExeVersionData::internalName,     &ExeVersionData::legalCopyright,  &ExeVersionData::legalTrademarks,
    &ExeVersionData::originalFileName, &ExeVersionData::productName,     &ExeVersionData::productVersion,
    &ExeVersionData::comments,         &ExeVersionData::privateBuild,    &ExeVersionData::specialBuild,
};

// Every field holds its own text, so a value landing in the wrong field shows.
ExeVersionData untouched()
{
    ExeVersionData data;
    int number = 0;
    for (const auto field : kAllFields)
        data.*field = u"before %1"_qs.arg(++number);
    return data;
}

ExeVersionData untouchedExcept(std::initializer_list<std::pair<QString ExeVersionData::*, QString>> changes)
{
    ExeVersionData data = untouched();
    for (const auto &[field, value] : changes)
        data.*field = value;
    return data;
}

// A version block as the build writes it: the format line, the given lines, a closing NUL.
QByteArray block(const QByteArray &lines)
{
    return "TESSALY VERSION DATA 1\n" + lines + '\0';
}

template<typename T>
void put(QByteArray &image, qsizetype at, T value)
{
    qToLittleEndian(value, image.data() + at);
}

constexpr qsizetype kElfHeaderSize = 64;
constexpr qsizetype kSectionEntrySize = 64;

/*
 * The smallest ELF64 little-endian file that carries version data: the file header, the
 * section name table, the section holding block, then a section header table with a null
 * entry (0), .shstrtab (1) and the named section (2).
 */
QByteArray minimalElf(const QByteArray &block, const QByteArray &sectionName = ".tessaly_version")
{
    const QByteArray names = QByteArray("\0.shstrtab\0", 11) + sectionName + '\0';
    const qsizetype namesOffset = kElfHeaderSize;
    const qsizetype blockOffset = namesOffset + names.size();
    const qsizetype tableOffset = (blockOffset + block.size() + 7) / 8 * 8;
    QByteArray image(tableOffset + 3 * kSectionEntrySize, '\0');

    image.replace(0, 7,
                  QByteArray("\x7f"
                             "ELF\x02\x01\x01",
                             7));  // magic, 64-bit, little endian, version 1
    put<quint16>(image, 0x10, 2);  // executable
    put<quint16>(image, 0x12, 62); // x86-64
    put<quint32>(image, 0x14, 1);
    put<quint64>(image, 0x28, quint64(tableOffset));
    put<quint16>(image, 0x34, kElfHeaderSize);
    put<quint16>(image, 0x3a, kSectionEntrySize);
    put<quint16>(image, 0x3c, 3);
    put<quint16>(image, 0x3e, 1);
    image.replace(namesOffset, names.size(), names);
    image.replace(blockOffset, block.size(), block);

    const auto section = [&](int index, quint32 name, quint32 type, qsizetype offset, qsizetype size) {
        const qsizetype entry = tableOffset + index * kSectionEntrySize;
        put<quint32>(image, entry, name);
        put<quint32>(image, entry + 0x04, type);
        put<quint64>(image, entry + 0x18, quint64(offset));
        put<quint64>(image, entry + 0x20, quint64(size));
        put<quint64>(image, entry + 0x30, 1); // alignment
    };
    section(1, 1, 3, namesOffset, names.size());  // string table
    section(2, 11, 1, blockOffset, block.size()); // program data
    return image;
}

// One field of an image overwritten: the offset counts from the file header, or from the
// entry of the given section in the section header table.
struct Patch {
    int section;
    int offset;
    int width;
    quint64 value;
};
using Patches = QList<Patch>;
constexpr int kFileHeader = -1;

QByteArray patched(QByteArray image, const Patches &patches)
{
    const qsizetype table = qsizetype(qFromLittleEndian<quint64>(image.constData() + 0x28));
    for (const Patch &patch : patches) {
        const qsizetype at
            = patch.section == kFileHeader ? patch.offset : table + patch.section * kSectionEntrySize + patch.offset;
        switch (patch.width) {
        case 1:
            put<quint8>(image, at, quint8(patch.value));
            break;
        case 2:
            put<quint16>(image, at, quint16(patch.value));
            break;
        case 4:
            put<quint32>(image, at, quint32(patch.value));
            break;
        default:
            put<quint64>(image, at, patch.value);
            break;
        }
    }
    return image;
}

const QByteArray kEnglishBlock = block("Translation=0409 04E4\n"
                                       "FixedFileVersion=2.3.0.0\n"
                                       "\\StringFileInfo\\040904E4\\CompanyName=ORVANTA\n");

} // namespace

Q_DECLARE_METATYPE(Patches)

char *toString(const ExeVersionData &data)
{
    QStringList values;
    for (const auto field : kAllFields)
        values << data.*field;
    return QTest::toString(values.join(u" | "));
}

char *toString(const FixedFileVersion &version)
{
    return QTest::toString(
        u"%1.%2.%3.%4"_qs.arg(version.major).arg(version.minor).arg(version.build).arg(version.revision));
}

class TestVersionInfo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeFile(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(u"file%1"_qs.arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Both readers refuse the file, touch nothing, and name the file in their message.
    static void verifyRefused(const QString &path)
    {
        ExeVersionData data = untouched();
        QString error;
        QVERIFY(!readExeVersionData(path, data, &error));
        QCOMPARE(data, untouched());
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));

        FixedFileVersion version{9, 8, 7, 6};
        error.clear();
        QVERIFY(!readFixedFileVersion(path, version, &error));
        QCOMPARE(version, (FixedFileVersion{9, 8, 7, 6}));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));

        QVERIFY(!readExeVersionData(path, data, nullptr));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void ownProgramFile()
    {
        const QString path = QCoreApplication::applicationFilePath();
        ExeVersionData data;
        data.comments = u"set before"_qs; // the program records no comments
        QString error;
        QVERIFY2(readExeVersionData(path, data, &error), qPrintable(error));
        QCOMPARE(data.companyName, u"ORVANTA"_qs);
        QCOMPARE(data.productName, u"Tessaly"_qs);
        QCOMPARE(data.fileVersion, QStringLiteral(TESSALY_PROJECT_VERSION));
        QCOMPARE(data.originalFileName, QFileInfo(path).fileName());                   // recorded as "OriginalFilename"
        QVERIFY2(data.legalCopyright.contains(u'©'), qPrintable(data.legalCopyright)); // read as UTF-8
        QCOMPARE(data.comments, u"set before"_qs);
        QCOMPARE(data.privateBuild, QString());
        QCOMPARE(data.specialBuild, QString());

        FixedFileVersion version;
        QVERIFY2(readFixedFileVersion(path, version, &error), qPrintable(error));
        const QStringList parts = QStringLiteral(TESSALY_PROJECT_VERSION).split(u'.');
        QCOMPARE(parts.size(), 4);
        QCOMPARE(version, (FixedFileVersion{parts[0].toUShort(), parts[1].toUShort(), parts[2].toUShort(),
                                            parts[3].toUShort()}));
    }

    void ownBlockMatchesProgramFile()
    {
        ExeVersionData fromFile, own;
        FixedFileVersion fileVersion, ownVersion;
        const QString path = QCoreApplication::applicationFilePath();
        QVERIFY(readExeVersionData(path, fromFile, nullptr));
        QVERIFY(readFixedFileVersion(path, fileVersion, nullptr));
        QVERIFY(ownVersionData(own, ownVersion));
        QCOMPARE(own, fromFile);
        QCOMPARE(ownVersion, fileVersion);
    }

    void filesWithoutVersionData_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("text file") << writeFile("TESSALY VERSION DATA 1\nTranslation=0409 04E4\n");
        QTest::newRow("empty file") << writeFile({});
        QTest::newRow("missing file") << m_dir.filePath(u"missing"_qs);
        QTest::newRow("folder") << m_dir.path();
        QTest::newRow("ELF file of another program") << u"/bin/sh"_qs;
        QTest::newRow("other section") << writeFile(minimalElf(kEnglishBlock, ".rodata"));
        QTest::newRow("section name with a suffix") << writeFile(minimalElf(kEnglishBlock, ".tessaly_version2"));
        QTest::newRow("unknown block format")
            << writeFile(minimalElf(QByteArray(kEnglishBlock).replace("DATA 1", "DATA 2")));

        QFile self(QCoreApplication::applicationFilePath());
        QVERIFY(self.open(QIODevice::ReadOnly));
        QTest::newRow("truncated copy of this program") << writeFile(self.read(self.size() / 2));
    }

    void filesWithoutVersionData()
    {
        QFETCH(QString, path);
        verifyRefused(path);
    }

    void damagedElfImages_data()
    {
        QTest::addColumn<Patches>("patches");
        const quint64 huge = ~quint64(0);
        QTest::newRow("magic") << Patches{{kFileHeader, 1, 1, 'e'}};
        QTest::newRow("32-bit class") << Patches{{kFileHeader, 4, 1, 1}};
        QTest::newRow("big endian") << Patches{{kFileHeader, 5, 1, 2}};
        QTest::newRow("no section headers") << Patches{{kFileHeader, 0x28, 8, 0}};
        QTest::newRow("section headers past the end") << Patches{{kFileHeader, 0x28, 8, 0x100000}};
        QTest::newRow("section header offset near 2^64") << Patches{{kFileHeader, 0x28, 8, huge - 8}};
        QTest::newRow("section header entries too small") << Patches{{kFileHeader, 0x3a, 2, 16}};
        QTest::newRow("more sections than the file holds") << Patches{{kFileHeader, 0x3c, 2, 0xfff0}};
        QTest::newRow("section count in section 0, which has none") << Patches{{kFileHeader, 0x3c, 2, 0}};
        // 2^58 + 3 entries of 64 bytes wrap around to the size of the real table.
        QTest::newRow("section count in section 0 that overflows")
            << Patches{{kFileHeader, 0x3c, 2, 0}, {0, 0x20, 8, (quint64(1) << 58) + 3}};
        QTest::newRow("name table index out of range") << Patches{{kFileHeader, 0x3e, 2, 3}};
        QTest::newRow("name table index in section 0, which has none") << Patches{{kFileHeader, 0x3e, 2, 0xffff}};
        QTest::newRow("name table past the end") << Patches{{1, 0x18, 8, 0x100000}};
        QTest::newRow("name table size near 2^64") << Patches{{1, 0x20, 8, huge}};
        QTest::newRow("name table without bytes") << Patches{{1, 0x04, 4, 8}};
        QTest::newRow("name offset past the name table") << Patches{{2, 0x00, 4, 0xffffffff}};
        QTest::newRow("name offset inside the name") << Patches{{2, 0x00, 4, 12}};
        QTest::newRow("version section past the end") << Patches{{2, 0x18, 8, 0x100000}};
        QTest::newRow("version section offset near 2^64") << Patches{{2, 0x18, 8, huge}};
        QTest::newRow("version section longer than the file") << Patches{{2, 0x20, 8, 0x8000}};
        QTest::newRow("version section size near 2^64") << Patches{{2, 0x20, 8, huge}};
        QTest::newRow("empty version section") << Patches{{2, 0x20, 8, 0}};
        QTest::newRow("version section without bytes") << Patches{{2, 0x04, 4, 8}};
    }

    void damagedElfImages()
    {
        QFETCH(Patches, patches);
        verifyRefused(writeFile(patched(minimalElf(kEnglishBlock), patches)));
    }

    void sectionNumbersKeptInSectionZero()
    {
        // How files with more sections than the 16-bit header fields can count record them.
        const Patches extended{
            {kFileHeader, 0x3c, 2, 0}, {kFileHeader, 0x3e, 2, 0xffff}, {0, 0x20, 8, 3}, {0, 0x28, 4, 1}};
        ExeVersionData data;
        QString error;
        QVERIFY2(readExeVersionData(writeFile(patched(minimalElf(kEnglishBlock), extended)), data, &error),
                 qPrintable(error));
        QCOMPARE(data.companyName, u"ORVANTA"_qs);
    }

    void truncatedAnywhere()
    {
        const QByteArray image = minimalElf(kEnglishBlock);
        FixedFileVersion whole;
        QVERIFY(readFixedFileVersion(writeFile(image), whole, nullptr)); // the cut is what fails
        for (qsizetype size = 0; size < image.size(); ++size) {
            const QString path = writeFile(image.first(size));
            ExeVersionData data = untouched();
            FixedFileVersion version;
            QVERIFY2(!readExeVersionData(path, data, nullptr), qPrintable(QString::number(size)));
            QVERIFY2(!readFixedFileVersion(path, version, nullptr), qPrintable(QString::number(size)));
            QCOMPARE(data, untouched());
            QFile::remove(path);
        }
    }

    void stringTables_data()
    {
        QTest::addColumn<QByteArray>("versionBlock");
        QTest::addColumn<ExeVersionData>("expected");
        using D = ExeVersionData;

        QTest::newRow("0407/04B0 reads table 040704B0") << block("Translation=0407 04B0\n"
                                                                 "\\StringFileInfo\\040904E4\\CompanyName=Company\n"
                                                                 "\\StringFileInfo\\040904E4\\ProductName=Product\n"
                                                                 "\\StringFileInfo\\040704B0\\CompanyName=Firma\n")
                                                        << untouchedExcept({{&D::companyName, u"Firma"_qs}});
        QTest::newRow("0C0A/04E4 reads table 0C0A04E4") << block("Translation=0c0a 04e4\n"
                                                                 "\\StringFileInfo\\0C0A04E4\\ProductName=Producto\n")
                                                        << untouchedExcept({{&D::productName, u"Producto"_qs}});
        QTest::newRow("numbers padded to four digits") << block("Translation=0007 03A4\n"
                                                                "\\StringFileInfo\\73A4\\Comments=unpadded\n"
                                                                "\\StringFileInfo\\000703A4\\Comments=padded\n")
                                                       << untouchedExcept({{&D::comments, u"padded"_qs}});
        QTest::newRow("only the first pair counts") << block("Translation=0409 04E4 0407 04B0\n"
                                                             "\\StringFileInfo\\040704B0\\CompanyName=Second\n"
                                                             "\\StringFileInfo\\040704B0\\ProductName=Second only\n"
                                                             "\\StringFileInfo\\040904E4\\CompanyName=First\n")
                                                    << untouchedExcept({{&D::companyName, u"First"_qs}});
        QTest::newRow("names ignore letter case")
            << block("Translation=0409 04E4\n"
                     "\\StringFileInfo\\040904E4\\companyname=lower\n"
                     "\\StringFileInfo\\040904E4\\ORIGINALFILENAME=upper\n"
                     "\\stringfileinfo\\040904e4\\SpecialBuild=path in lower case\n")
            << untouchedExcept({{&D::companyName, u"lower"_qs},
                                {&D::originalFileName, u"upper"_qs},
                                {&D::specialBuild, u"path in lower case"_qs}});
        QTest::newRow("all twelve names") << block("Translation=0409 04E4\n"
                                                   "\\StringFileInfo\\040904E4\\CompanyName=1\n"
                                                   "\\StringFileInfo\\040904E4\\FileDescription=2\n"
                                                   "\\StringFileInfo\\040904E4\\FileVersion=3\n"
                                                   "\\StringFileInfo\\040904E4\\InternalName=4\n"
                                                   "\\StringFileInfo\\040904E4\\LegalCopyright=5\n"
                                                   "\\StringFileInfo\\040904E4\\LegalTrademarks=6\n"
                                                   "\\StringFileInfo\\040904E4\\OriginalFilename=7\n"
                                                   "\\StringFileInfo\\040904E4\\ProductName=8\n"
                                                   "\\StringFileInfo\\040904E4\\ProductVersion=9\n"
                                                   "\\StringFileInfo\\040904E4\\Comments=10\n"
                                                   "\\StringFileInfo\\040904E4\\PrivateBuild=11\n"
                                                   "\\StringFileInfo\\040904E4\\SpecialBuild=12\n")
                                          << D{u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs,  u"5"_qs,  u"6"_qs,
                                               u"7"_qs, u"8"_qs, u"9"_qs, u"10"_qs, u"11"_qs, u"12"_qs};
        QTest::newRow("values kept as written") << block("Translation=0409 04E4\r\n"
                                                         "\\StringFileInfo\\040904E4\\Comments= a=b \r\n"
                                                         "\\StringFileInfo\\040904E4\\LegalTrademarks=\n"
                                                         "\\StringFileInfo\\040904E4\\LegalCopyright=Société ©\n"
                                                         "a line without an equals sign\n")
                                                << untouchedExcept({{&D::comments, u" a=b "_qs},
                                                                    {&D::legalTrademarks, QString()},
                                                                    {&D::legalCopyright, u"Société ©"_qs}});
        QTest::newRow("first of two lines wins") << block("Translation=0409 04E4\n"
                                                          "\\StringFileInfo\\040904E4\\CompanyName=first\n"
                                                          "\\StringFileInfo\\040904E4\\CompanyName=second\n")
                                                 << untouchedExcept({{&D::companyName, u"first"_qs}});
        QTest::newRow("the block ends at its NUL") << block("Translation=0409 04E4\n"
                                                            "\\StringFileInfo\\040904E4\\CompanyName=inside\n")
                                                          + "\n\\StringFileInfo\\040904E4\\Comments=after the end\n"
                                                   << untouchedExcept({{&D::companyName, u"inside"_qs}});
    }

    void stringTables()
    {
        QFETCH(QByteArray, versionBlock);
        QFETCH(ExeVersionData, expected);
        ExeVersionData data = untouched();
        QString error;
        QVERIFY2(readExeVersionData(writeFile(minimalElf(versionBlock)), data, &error), qPrintable(error));
        QCOMPARE(data, expected);
    }

    void unusableTranslation_data()
    {
        QTest::addColumn<QByteArray>("translation");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("empty") << QByteArray("Translation=\n");
        QTest::newRow("half a pair") << QByteArray("Translation=0409\n");
        QTest::newRow("not hexadecimal") << QByteArray("Translation=04G9 04E4\n");
        QTest::newRow("prefixed") << QByteArray("Translation=0x09 04E4\n");
        QTest::newRow("signed") << QByteArray("Translation=+409 04E4\n");
        QTest::newRow("five digits") << QByteArray("Translation=00409 04E4\n");
        QTest::newRow("three digits") << QByteArray("Translation=409 4E4\n");
        QTest::newRow("bad second pair") << QByteArray("Translation=0409 04E4 zz\n");
    }

    void unusableTranslation()
    {
        QFETCH(QByteArray, translation);
        const QString path = writeFile(minimalElf(block(translation
                                                        + "\\StringFileInfo\\040904E4\\CompanyName=ORVANTA\n"
                                                          "FixedFileVersion=1.2.3.4\n")));
        ExeVersionData data = untouched();
        QString error;
        QVERIFY(!readExeVersionData(path, data, &error));
        QCOMPARE(data, untouched());
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)) && error.contains(u"translation"), qPrintable(error));
        // The fixed file version does not depend on the translation.
        FixedFileVersion version;
        QVERIFY(readFixedFileVersion(path, version, nullptr));
        QCOMPARE(version, (FixedFileVersion{1, 2, 3, 4}));
    }

    void fixedFileVersion_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<FixedFileVersion>("expected");
        const FixedFileVersion unchanged{9, 8, 7, 6};
        QTest::newRow("four parts") << QByteArray("FixedFileVersion=1.2.3.4") << true << FixedFileVersion{1, 2, 3, 4};
        QTest::newRow("16-bit limits") << QByteArray("fixedfileversion=65535.0.00007.0") << true
                                       << FixedFileVersion{65535, 0, 7, 0};
        QTest::newRow("missing") << QByteArray() << false << unchanged;
        QTest::newRow("three parts") << QByteArray("FixedFileVersion=1.2.3") << false << unchanged;
        QTest::newRow("five parts") << QByteArray("FixedFileVersion=1.2.3.4.5") << false << unchanged;
        QTest::newRow("beyond 16 bits") << QByteArray("FixedFileVersion=65536.0.0.0") << false << unchanged;
        QTest::newRow("empty part") << QByteArray("FixedFileVersion=1..3.4") << false << unchanged;
        QTest::newRow("sign") << QByteArray("FixedFileVersion=1.2.3.-4") << false << unchanged;
        QTest::newRow("blank") << QByteArray("FixedFileVersion=1.2.3.4 ") << false << unchanged;
    }

    void fixedFileVersion()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        QFETCH(FixedFileVersion, expected);
        const QString path = writeFile(minimalElf(block("Translation=0409 04E4\n" + line + '\n')));
        FixedFileVersion version{9, 8, 7, 6};
        QString error;
        QCOMPARE(readFixedFileVersion(path, version, &error), valid);
        QCOMPARE(version, expected);
        QVERIFY2(valid || error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
