#include "text/textwriter.h"

#include "text/devicewrite.h"
#include "text/singlebytecodec.h"
#include "text/textformat.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

namespace {

QByteArray encode(const QString &text, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Ansi:
        return SingleByteCodec::ansi().fromUnicode(text);
    case TextEncoding::Utf8:
        return text.toUtf8();
    case TextEncoding::Utf16:
        break;
    }
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
    return bytes;
}

QByteArray byteOrderMark(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Ansi:
        return {};
    case TextEncoding::Utf8:
        return QByteArrayLiteral("\xEF\xBB\xBF");
    case TextEncoding::Utf16:
        break;
    }
    return QByteArrayLiteral("\xFF\xFE");
}

} // namespace

bool writeTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error)
{
    constexpr qsizetype kBatchChars = 1 << 20;
    bool ok = writeAllBytes(device, byteOrderMark(encoding));
    QString batch;
    batch.reserve(kBatchChars + 1024);
    for (qsizetype i = 0; ok && i < lines.size(); ++i) {
        batch += lines.at(i);
        batch += QLatin1String("\r\n");
        if (batch.size() >= kBatchChars || i + 1 == lines.size()) {
            ok = writeAllBytes(device, encode(batch, encoding));
            batch.clear();
        }
    }
    if (!ok && error)
        *error = device.errorString();
    return ok;
}

bool writeTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = formatText(QStringLiteral("Cannot create file \"%s\". %s"), {path, reason});
        return false;
    };
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("Is a directory"));
    QSaveFile file(path);
    // Unbuffered, so that a failed write reports the system's reason (a full disk, say).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    QString writeError;
    if (!writeTextLines(lines, file, encoding, &writeError)) {
        file.cancelWriting();
        return fail(writeError);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
