#include "convert/textoutput.h"

#include "convert/singlebytecodec.h"
#include "translation/translate.h"

#include <QCollator>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <numeric>
#include <thread>

namespace {

/* Sort keys of rows[begin, end), made with a collator of this thread's own. */
void MakeSortKeys(const QStringList &rows, qsizetype begin, qsizetype end, std::vector<QCollatorSortKey> &keys)
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    keys.reserve(size_t(end - begin));
    for (qsizetype i = begin; i < end; ++i)
        keys.push_back(collator.sortKey(rows.at(i)));
}

void SortRowsIgnoringCase(QStringList &rows)
{
    const qsizetype count = rows.size();
    if (count < 2)
        return;
    if (QLocale().language() == QLocale::C) {
        // The C locale has no collation of its own (and its sort keys would keep letter case):
        // compare case-folded code points.
        std::stable_sort(rows.begin(), rows.end(), [](const QString &a, const QString &b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        });
        return;
    }
    // Making keys is most of the work; two threads halve it on large exports.
    const qsizetype half = count >= 20000 ? count / 2 : count;
    std::vector<QCollatorSortKey> firstKeys, secondKeys;
    std::thread helper;
    if (half < count)
        helper = std::thread([&] { MakeSortKeys(rows, half, count, secondKeys); });
    MakeSortKeys(rows, 0, half, firstKeys);
    if (helper.joinable())
        helper.join();
    auto keyOf = [&](qsizetype i) -> const QCollatorSortKey & {
        return i < half ? firstKeys[size_t(i)] : secondKeys[size_t(i - half)];
    };

    std::vector<qsizetype> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return keyOf(a).compare(keyOf(b)) < 0; });
    firstKeys = {};
    secondKeys = {};

    QStringList sorted;
    sorted.reserve(count);
    for (qsizetype i : order)
        sorted.append(std::move(rows[i]));
    rows = std::move(sorted);
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

/* Writes every byte; a short write is retried so that a failure comes with its reason. */
bool WriteAll(QIODevice &device, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = device.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
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
    bool ok = WriteAll(device, ByteOrderMark(encoding));
    QString batch;
    batch.reserve(kBatchChars + 1024);
    for (qsizetype i = 0; ok && i < lines.size(); ++i) {
        batch += lines.at(i);
        batch += QLatin1String("\r\n");
        if (batch.size() >= kBatchChars || i + 1 == lines.size()) {
            ok = WriteAll(device, Encode(batch, encoding));
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
