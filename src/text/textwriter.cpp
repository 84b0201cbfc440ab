#include "text/textwriter.h"

#include "text/devicewrite.h"
#include "text/helperthread.h"
#include "text/outputfile.h"
#include "text/singlebytecodec.h"

#include <QtEndian>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

/* Appends text as UTF-16 little-endian, a surrogate without its pair as "?"; returns how many those were. */
qsizetype appendUtf16(QStringView text, QByteArray &out)
{
    if (text.isEmpty())
        return 0;
    const qsizetype start = out.size();
    out.resize(start + text.size() * 2);
    char *const bytes = out.data() + start;
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes);
    qsizetype replaced = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        qToLittleEndian<char16_t>(u'?', bytes + 2 * i);
        ++replaced;
    }
    return replaced;
}

/* Appends one encoded line; returns how many of its characters became "?". */
qsizetype appendEncodedLine(QStringView text, TextEncoding encoding, QByteArray &out)
{
    switch (encoding) {
    case TextEncoding::Ansi:
        return SingleByteCodec::ansi().appendEncoded(text, out);
    case TextEncoding::Utf8:
        out.append(text.toUtf8());
        return 0;
    case TextEncoding::Utf16:
        break;
    }
    return appendUtf16(text, out);
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

/*
 * Writes full batches on a second thread, so that the next batch is gathered while the system
 * copies the last one. One batch waits at most; the buffers go back and forth, so that their
 * memory is reused. The thread starts with the first batch: a short text is written directly,
 * and so is every batch when the system refuses the thread.
 */
class BatchWriter
{
public:
    explicit BatchWriter(QIODevice &device)
        : m_device(device)
    {
    }
    BatchWriter(const BatchWriter &) = delete;
    BatchWriter &operator=(const BatchWriter &) = delete;

    ~BatchWriter()
    {
        // Reached with the thread still there only when the caller left by an exception: the
        // thread is told to end and waited for, and a failure of its own is dropped.
        if (m_thread) {
            close();
            m_thread.reset();
        }
    }

    /* Hands batch over to be written and gives it an empty buffer back; false once a write failed. */
    bool submit(QByteArray &batch)
    {
        if (!m_thread)
            m_thread = std::make_unique<HelperThread>([this] { writeBatches(); }, HelperThread::IfRefused::Drop);
        if (m_thread->wasRefused()) {
            m_failed = !writeAllBytes(m_device, batch);
            batch.resize(0);
            return !m_failed;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_hasWaiting || m_failed; });
        if (m_failed)
            return false;
        m_waiting.swap(batch);
        m_hasWaiting = true;
        batch.swap(m_spare);
        batch.resize(0); // the capacity stays
        m_changed.notify_all();
        return true;
    }

    /* Writes the last batch once the others are written; false when any write failed. */
    bool finish(QByteArrayView lastBatch)
    {
        stopThread();
        return !m_failed && writeAllBytes(m_device, lastBatch);
    }

private:
    void close()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
    }

    /* Lets the thread write what waits and end; throws what it threw. */
    void stopThread()
    {
        if (!m_thread)
            return;
        close();
        m_thread->join();
        m_thread.reset();
    }

    void writeBatches()
    {
        QByteArray batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_hasWaiting || m_closing; });
                if (!m_hasWaiting)
                    return;
                batch.swap(m_waiting);
                m_hasWaiting = false;
            }
            const bool written = writeAllBytes(m_device, batch);
            {
                const std::lock_guard lock(m_mutex);
                m_spare.swap(batch);
                m_failed = !written;
            }
            m_changed.notify_all();
            if (!written)
                return;
        }
    }

    QIODevice &m_device;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_waiting; // the batch to write next, when m_hasWaiting
    QByteArray m_spare;   // a written batch's buffer, for the next one
    bool m_hasWaiting = false;
    bool m_closing = false;
    bool m_failed = false;
    std::unique_ptr<HelperThread> m_thread; // last: it stops before the members it uses go
};

} // namespace

bool writeTextLines(const QStringList &lines, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced)
{
    constexpr qsizetype kBatchBytes = 1 << 20;
    bool ok = writeAllBytes(device, byteOrderMark(encoding));
    if (encoding == TextEncoding::Utf8) {
        // UTF-8 holds every character: the lines go to the encoder in large pieces.
        QString batch;
        batch.reserve(kBatchBytes + 1024);
        for (qsizetype i = 0; ok && i < lines.size(); ++i) {
            batch += lines.at(i);
            batch += QLatin1String("\r\n");
            if (batch.size() >= kBatchBytes || i + 1 == lines.size()) {
                ok = writeAllBytes(device, batch.toUtf8());
                batch.clear();
            }
        }
    } else {
        // Line by line, to count the lines with characters that the encoding cannot hold.
        QByteArray batch;
        batch.reserve(2 * kBatchBytes + 1024);
        for (qsizetype i = 0; ok && i < lines.size(); ++i) {
            const qsizetype lost = appendEncodedLine(lines.at(i), encoding, batch);
            appendEncodedLine(u"\r\n", encoding, batch);
            if (lost > 0 && replaced) {
                replaced->characters += lost;
                ++replaced->lines;
            }
            if (batch.size() >= kBatchBytes || i + 1 == lines.size()) {
                ok = writeAllBytes(device, batch);
                batch.resize(0); // the capacity stays for the next batch
            }
        }
    }
    if (!ok && error)
        *error = device.errorString();
    return ok;
}

bool writeUtf8Lines(qsizetype count, const Utf8LineAt &lineAt, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced)
{
    constexpr qsizetype kBatchBytes = 1 << 20;
    BatchWriter writer(device);
    QByteArray batch = byteOrderMark(encoding);
    batch.reserve(2 * kBatchBytes + 1024);
    bool ok = true;
    for (qsizetype i = 0; ok && i < count; ++i) {
        const QByteArrayView line = lineAt(i);
        if (encoding == TextEncoding::Utf8) {
            batch.append(line);
            batch.append("\r\n", 2);
        } else {
            // Line by line, to count the lines with characters that the encoding cannot hold.
            const qsizetype lost = appendEncodedLine(utf8LineText(line), encoding, batch);
            appendEncodedLine(u"\r\n", encoding, batch);
            if (lost > 0 && replaced) {
                replaced->characters += lost;
                ++replaced->lines;
            }
        }
        if (batch.size() >= kBatchBytes)
            ok = writer.submit(batch);
    }
    ok = writer.finish(ok ? QByteArrayView(batch) : QByteArrayView()) && ok;
    if (!ok && error)
        *error = device.errorString();
    return ok;
}

bool writeTextLines(const TextLines &lines, QIODevice &device, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced)
{
    return writeUtf8Lines(
        lines.size(), [&](qsizetype i) { return lines.utf8At(i); }, device, encoding, error, replaced);
}

namespace {

/* Writes through OutputFile, so that the file at path is replaced only once all is written and synced. */
template<typename Write>
bool writeLinesToFile(const Write &write, const QString &path, QString *error)
{
    OutputFile file(path);
    if (file.open())
        write(file.device()); // a failed write fails commit()
    if (file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace

bool writeTextLines(const QStringList &lines, const QString &path, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced)
{
    return writeLinesToFile([&](QIODevice &device) { writeTextLines(lines, device, encoding, nullptr, replaced); },
                            path, error);
}

bool writeUtf8Lines(qsizetype count, const Utf8LineAt &lineAt, const QString &path, TextEncoding encoding,
                    QString *error, ReplacedCharacters *replaced)
{
    return writeLinesToFile(
        [&](QIODevice &device) { writeUtf8Lines(count, lineAt, device, encoding, nullptr, replaced); }, path, error);
}

bool writeTextLines(const TextLines &lines, const QString &path, TextEncoding encoding, QString *error,
                    ReplacedCharacters *replaced)
{
    return writeUtf8Lines(
        lines.size(), [&](qsizetype i) { return lines.utf8At(i); }, path, encoding, error, replaced);
}
