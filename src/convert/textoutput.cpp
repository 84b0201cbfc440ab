#include "convert/textoutput.h"

#include "convert/devicewrite.h"
#include "convert/singlebytecodec.h"
#include "translation/translate.h"

#include <QCollator>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <thread>

namespace {

/*
 * Compares rows by the user's locale collation, ignoring letter case. One per thread: a
 * collator is not shared between threads. Comparing directly stops at the first difference,
 * which on long rows is several times faster than making a sort key for every row.
 */
class RowOrder
{
public:
    RowOrder()
        : m_collator(QLocale())
        , m_plain(QLocale().language() == QLocale::C)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    bool operator()(const QString &a, const QString &b) const
    {
        // The C locale has no collation of its own: case-folded code points.
        return m_plain ? QString::compare(a, b, Qt::CaseInsensitive) < 0 : m_collator.compare(a, b) < 0;
    }

private:
    QCollator m_collator;
    bool m_plain;
};

void SortRange(QString *begin, QString *end)
{
    std::stable_sort(begin, end, RowOrder());
}

void SortRowsIgnoringCase(QStringList &rows)
{
    const qsizetype count = rows.size();
    if (count < 20000) {
        SortRange(rows.data(), rows.data() + count);
        return;
    }
    // Two halves on two threads, then one merge that takes the earlier half first among
    // equal rows, so the sort stays stable.
    QString *const data = rows.data();
    const qsizetype half = count / 2;
    std::thread helper(SortRange, data + half, data + count);
    SortRange(data, data + half);
    helper.join();
    QStringList merged;
    merged.reserve(count);
    std::merge(std::make_move_iterator(data), std::make_move_iterator(data + half),
               std::make_move_iterator(data + half), std::make_move_iterator(data + count),
               std::back_inserter(merged), RowOrder());
    rows = std::move(merged);
}

QByteArray Encode(const QString &text, TextEncoding encoding)
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

QByteArray ByteOrderMark(TextEncoding encoding)
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

void FinishRows(QStringList &rows, bool headers, bool sort, const QString &headerRow)
{
    if (sort)
        SortRowsIgnoringCase(rows);
    if (headers)
        rows.prepend(headerRow);
}

bool WriteTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error)
{
    constexpr qsizetype kBatchChars = 1 << 20;
    bool ok = WriteAllBytes(device, ByteOrderMark(encoding));
    QString batch;
    batch.reserve(kBatchChars + 1024);
    for (qsizetype i = 0; ok && i < lines.size(); ++i) {
        batch += lines.at(i);
        batch += QLatin1String("\r\n");
        if (batch.size() >= kBatchChars || i + 1 == lines.size()) {
            ok = WriteAllBytes(device, Encode(batch, encoding));
            batch.clear();
        }
    }
    if (!ok && error)
        *error = device.errorString();
    return ok;
}

bool WriteTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = FormatText(QStringLiteral("Cannot create file \"%s\". %s"), {path, reason});
        return false;
    };
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("Is a directory"));
    QSaveFile file(path);
    // Unbuffered, so that a failed write reports the system's reason (a full disk, say).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    QString writeError;
    if (!WriteTextLines(lines, file, encoding, &writeError)) {
        file.cancelWriting();
        return fail(writeError);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
