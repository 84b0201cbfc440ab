#include "online/updatestore.h"

#include "text/textformat.h"

#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("Settings");

/* The running key of the scrambled address: all three numbers live here only. */
struct ScrambleKey {
    static constexpr quint16 kSeed = 0x6B3D;
    static constexpr quint16 kMultiplier = 0x9E37;
    static constexpr quint16 kAddend = 0x2A51;

    quint16 value = kSeed;

    quint8 mask() const { return quint8(value >> 8); }
    void advance(quint8 scrambledByte) { value = quint16((value + scrambledByte) * kMultiplier + kAddend); }
};

} // namespace

UpdateStore::UpdateStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ORVANTA"),
                                             QStringLiteral("Tessaly")))
{
    m_open = m_settings->status() == QSettings::NoError && m_settings->isWritable();
    m_settings->beginGroup(kGroup);
}

UpdateStore::~UpdateStore() = default;

bool UpdateStore::isOpen() const
{
    return m_open;
}

QString UpdateStore::readText(const QString &key, const QString &defaultValue) const
{
    if (!m_open)
        return defaultValue;
    const QVariant value = m_settings->value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

int UpdateStore::readInteger(const QString &key, int defaultValue) const
{
    return parseDecimalInt(readText(key)).value_or(defaultValue);
}

void UpdateStore::writeText(const QString &key, const QString &value)
{
    if (m_open)
        m_settings->setValue(key, value);
}

void UpdateStore::writeInteger(const QString &key, int value)
{
    writeText(key, QString::number(value));
}

bool UpdateStore::flush()
{
    if (!m_open)
        return false;
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

void writeShowUpdate(bool on)
{
    UpdateStore store;
    store.writeInteger(QStringLiteral("ShowUpdate"), on ? 1 : 0);
    store.flush();
}

QString scrambleUrl(const QString &url)
{
    ScrambleKey key;
    QByteArray scrambled;
    for (const char byte : url.toUtf8()) {
        const quint8 out = quint8(byte) ^ key.mask();
        scrambled.append(char(out));
        key.advance(out);
    }
    return QString::fromLatin1(scrambled.toHex().toUpper());
}

QString unscrambleUrl(const QString &scrambled)
{
    const QByteArray hex = scrambled.toLatin1();
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (scrambled.size() % 2 != 0 || bytes.toHex().toUpper() != hex.toUpper())
        return {};
    ScrambleKey key;
    QByteArray plain;
    for (const char byte : bytes) {
        plain.append(char(quint8(byte) ^ key.mask()));
        key.advance(quint8(byte));
    }
    return QString::fromUtf8(plain);
}
