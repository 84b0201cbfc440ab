#pragma once

// What every fuzz target shares: a check that stops the run with a message, and a scratch
// folder for the readers that take a file name.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

/* Stops the run (libFuzzer saves the input) when an expectation about the engine fails. */
#define FUZZ_CHECK(condition, ...)                                                             \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            fuzzDetail(__VA_ARGS__);                                                           \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

inline void fuzzDetail() { }
inline void fuzzDetail(const QString &detail)
{
    std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
}

/* One scratch folder per process, removed at exit; files in it are rewritten for each input. */
inline const QTemporaryDir &scratchDir()
{
    // /dev/shm keeps the many small writes in memory where it exists.
    static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/tessaly-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/tessaly-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no scratch folder\n");
        std::abort();
    }
    return dir;
}

/* Writes bytes to the scratch file name and returns its path. */
inline QString writeScratchFile(const QString &name, const char *data, qsizetype size)
{
    const QString path = scratchDir().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data, size) != size) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

/* Lines as the readers promise them: they end at CR LF, LF or a lone CR, and a break at the
 * very end adds no empty line. */
inline QStringList referenceLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}
