#include "xlsxcheck.h"

#include "checkreading.h"

#include <QXmlStreamReader>
#include <QtEndian>

#include <zlib.h>

namespace xlsxcheck {
namespace {

using checkreading::Damage;
using checkreading::require;
using checkreading::u16;
using checkreading::u32;

QByteArray inflateRaw(QByteArrayView data, qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    z_stream stream{};
    require(inflateInit2(&stream, -MAX_WBITS) == Z_OK, QStringLiteral("inflateInit2 failed"));
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const qsizetype written = qsizetype(stream.total_out);
    inflateEnd(&stream);
    require(result == Z_STREAM_END && written == size, QStringLiteral("the worksheet does not inflate to its size"));
    return out;
}

/* The named part of the zip: the central directory leads to its local header and data. */
QByteArray zipPart(QByteArrayView zip, const QByteArray &name)
{
    qsizetype end = zip.size() - 22;
    while (end >= 0 && u32(zip, end) != 0x06054b50)
        --end;
    require(end >= 0, QStringLiteral("no end of the zip's central directory"));
    const int entries = u16(zip, end + 10);
    qsizetype entry = u32(zip, end + 16);
    for (int i = 0; i < entries; ++i) {
        require(u32(zip, entry) == 0x02014b50, QStringLiteral("bad central directory entry"));
        const int method = u16(zip, entry + 10);
        const qsizetype packed = u32(zip, entry + 20);
        const qsizetype size = u32(zip, entry + 24);
        const int nameLength = u16(zip, entry + 28);
        const qsizetype local = u32(zip, entry + 42);
        require(entry + 46 + nameLength <= zip.size(), QStringLiteral("zip read past the end"));
        if (zip.sliced(entry + 46, nameLength) == name) {
            require(u32(zip, local) == 0x04034b50, QStringLiteral("bad local header"));
            const qsizetype data = local + 30 + u16(zip, local + 26) + u16(zip, local + 28);
            require(data + packed <= zip.size(), QStringLiteral("zip part past the end"));
            if (method == 0)
                return zip.sliced(data, packed).toByteArray();
            require(method == 8, QStringLiteral("unknown compression method"));
            return inflateRaw(zip.sliced(data, packed), size);
        }
        entry += 46 + nameLength + u16(zip, entry + 30) + u16(zip, entry + 32);
    }
    throw Damage{QStringLiteral("no part ") + QString::fromLatin1(name)};
}

/* Row and column, from 0, of a cell reference such as "AB12". */
std::pair<int, int> cellPosition(QStringView reference)
{
    int column = 0;
    qsizetype i = 0;
    while (i < reference.size() && reference[i] >= u'A' && reference[i] <= u'Z')
        column = column * 26 + (reference[i++].unicode() - 'A' + 1);
    bool ok = false;
    const int row = reference.sliced(i).toInt(&ok);
    require(column > 0 && ok && row > 0, QStringLiteral("bad cell reference ") + reference.toString());
    return {row - 1, column - 1};
}

QList<QStringList> sheetCells(const QByteArray &xml)
{
    QList<QStringList> rows;
    QXmlStreamReader reader(xml);
    int row = -1, column = -1;
    QString text;
    bool inCell = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const QStringView name = reader.name();
            if (name == u"c") {
                const auto [r, c] = cellPosition(reader.attributes().value(QLatin1StringView("r")));
                const QStringView type = reader.attributes().value(QLatin1StringView("t"));
                require(type.isEmpty() || type == u"inlineStr", QStringLiteral("a cell that is not an inline string"));
                require(r > row || (r == row && c > column), QStringLiteral("cells out of order"));
                row = r;
                column = c;
                text.clear();
                inCell = true;
            } else if (name == u"t" && inCell) {
                text += reader.readElementText();
            }
        } else if (reader.isEndElement() && reader.name() == u"c") {
            inCell = false;
            while (rows.size() <= row)
                rows.append(QStringList());
            QStringList &cells = rows[row];
            while (cells.size() <= column)
                cells.append(QString());
            cells[column] = decodeEscapes(text);
        }
    }
    require(!reader.hasError(), QStringLiteral("worksheet XML: ") + reader.errorString());
    return rows;
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

} // namespace

QString decodeEscapes(QStringView stored)
{
    QString text;
    text.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size();) {
        if (stored[i] == u'_' && i + 6 < stored.size() && stored[i + 1] == u'x' && isHex(stored[i + 2])
            && isHex(stored[i + 3]) && isHex(stored[i + 4]) && isHex(stored[i + 5]) && stored[i + 6] == u'_') {
            text += QChar(char16_t(stored.sliced(i + 2, 4).toUInt(nullptr, 16)));
            i += 7;
        } else {
            text += stored[i++];
        }
    }
    return text;
}

std::optional<QList<QStringList>> readCells(const QByteArray &file, QString &why)
{
    try {
        return sheetCells(zipPart(file, "xl/worksheets/sheet1.xml"));
    } catch (const Damage &damage) {
        why = damage.why;
        return std::nullopt;
    }
}

} // namespace xlsxcheck
