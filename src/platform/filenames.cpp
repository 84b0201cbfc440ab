#include "platform/filenames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t kFirstByteSurrogate = 0xDC80;
constexpr char16_t kLastByteSurrogate = 0xDCFF;

bool isByteSurrogate(const QString &name, qsizetype i)
{
    const char16_t unit = name.at(i).unicode();
    return unit >= kFirstByteSurrogate && unit <= kLastByteSurrogate && (i == 0 || !name.at(i - 1).isHighSurrogate());
}

} // namespace

QString fileNameFromBytes(QByteArrayView bytes)
{
    QString name = QString::fromUtf8(bytes);
    if (name.toUtf8() == bytes)
        return name;
    // Character by character: the longest piece, up to four bytes, that UTF-8 reads as itself.
    name.clear();
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype length = 1;
        for (; length <= 4 && at + length <= bytes.size(); ++length) {
            const QByteArrayView piece = bytes.sliced(at, length);
            const QString character = QString::fromUtf8(piece);
            if (character.toUtf8() == piece) {
                name += character;
                break;
            }
        }
        if (length > 4 || at + length > bytes.size()) {
            name += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes[at])));
            length = 1;
        }
        at += length;
    }
    return name;
}

QByteArray fileNameBytes(const QString &name)
{
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isByteSurrogate(name, i))
            continue;
        bytes += QStringView(name).sliced(runStart, i - runStart).toUtf8();
        bytes += char(name.at(i).unicode() - 0xDC00);
        runStart = i + 1;
    }
    if (runStart == 0)
        return name.toUtf8();
    return bytes + QStringView(name).sliced(runStart).toUtf8();
}

bool fileExists(const QString &path)
{
    struct stat status;
    return ::stat(fileNameBytes(path).constData(), &status) == 0;
}

qint64 fileSizeAt(const QString &path)
{
    struct stat status;
    return ::stat(fileNameBytes(path).constData(), &status) == 0 ? qint64(status.st_size) : -1;
}

bool isSameFile(const QString &first, const QString &second)
{
    struct stat one, other;
    return ::stat(fileNameBytes(first).constData(), &one) == 0 && ::stat(fileNameBytes(second).constData(), &other) == 0
           && one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

FileForQt::FileForQt(const QString &path)
    : m_path(path)
{
    const QByteArray bytes = fileNameBytes(path);
    if (bytes == path.toUtf8())
        return;
    m_fd = ::open(bytes.constData(), O_PATH | O_CLOEXEC);
    if (m_fd >= 0)
        m_path = QStringLiteral("/proc/self/fd/") + QString::number(m_fd);
}

FileForQt::~FileForQt()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
