#include "platform/machineguid.h"

#include <QFile>
#include <QMessageAuthenticationCode>

namespace {

// Tessaly's application ID for the hash; changing it changes every machine's GUID.
constexpr char kApplicationId[] = "\x5e\x2a\x91\x0c\x7d\x43\x4f\x8b\xa6\x1d\x39\xe4\x52\xc0\x17\x6f";

/* Hex text of bytes [from, to) of id. */
QString hexPart(const QByteArray &id, int from, int to)
{
    return QString::fromLatin1(id.mid(from, to - from).toHex());
}

} // namespace

QString defaultMachineIdPath()
{
    return QStringLiteral("/etc/machine-id");
}

MachineGuidResult readMachineGuid(const QString &machineIdPath)
{
    MachineGuidResult result;
    QFile file(machineIdPath);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray text = file.read(4096).trimmed();
    if (text.isEmpty() || text == "uninitialized")
        return result;
    const QByteArray machineId = QByteArray::fromHex(text);
    if (text.size() != 32 || machineId.size() != 16 || machineId.toHex() != text.toLower()) {
        result.error = QStringLiteral("%1 holds no machine ID").arg(machineIdPath);
        return result;
    }

    // The same derivation as sd_id128_get_machine_app_specific(): HMAC-SHA256 keyed by the
    // machine ID over the application ID, the first 16 bytes made a version-4 UUID.
    QByteArray id
        = QMessageAuthenticationCode::hash(QByteArray(kApplicationId, 16), machineId, QCryptographicHash::Sha256)
              .left(16);
    id[6] = char((id[6] & 0x0F) | 0x40);
    id[8] = char((id[8] & 0x3F) | 0x80);
    result.guid = hexPart(id, 0, 4) + u'-' + hexPart(id, 4, 6) + u'-' + hexPart(id, 6, 8) + u'-' + hexPart(id, 8, 10)
                  + u'-' + hexPart(id, 10, 16);
    return result;
}
