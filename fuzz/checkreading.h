#pragma once

// What the strict readers of written files (xlscheck, xlsxcheck) share: a damaged file stops the
// reading with its reason, and little-endian numbers are read only inside the bytes.

#include <QByteArrayView>
#include <QString>
#include <QtEndian>

namespace checkreading {

/* Thrown when the file under check breaks its format; caught where the reading started. */
struct Damage {
    QString why;
};

inline void require(bool condition, const QString &why)
{
    if (!condition)
        throw Damage{why};
}

inline quint16 u16(QByteArrayView bytes, qsizetype at)
{
    require(at >= 0 && at + 2 <= bytes.size(), QStringLiteral("read past the end"));
    return qFromLittleEndian<quint16>(bytes.data() + at);
}

inline quint32 u32(QByteArrayView bytes, qsizetype at)
{
    require(at >= 0 && at + 4 <= bytes.size(), QStringLiteral("read past the end"));
    return qFromLittleEndian<quint32>(bytes.data() + at);
}

} // namespace checkreading
