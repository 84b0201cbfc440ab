#pragma once

// Running tessaly-convert as a user does, and reading back what it wrote. The golden tests use
// only the program, never the engine's headers, so that they hold however the code is laid out.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

/* What one run of the converter gave. */
struct ConverterRun {
    int exitCode = -1; // -1 when it crashed or did not finish in time
    QString standardError;
};

/*
 * Runs TESSALY_CONVERT_BIN with the arguments under LANG=en_US.UTF-8 and no LC_* variables, so
 * that ANSI means code page 1252, the list separator is "," and the sort follows English
 * collation whatever the caller's locale.
 */
inline ConverterRun runConverter(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QStringList names = environment.keys();
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("LC_")) || name == QLatin1String("LANGUAGE"))
            environment.remove(name);
    }
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TESSALY_CONVERT_BIN), arguments);
    ConverterRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.standardError = QStringLiteral("tessaly-convert did not finish within two minutes");
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.standardError = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return run;
}

/* The whole content of a file; a missing or unreadable file gives no value. */
inline std::optional<QByteArray> readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

/* The name of the byte-order mark at the start of bytes, or "no byte-order mark". */
inline QString byteOrderMarkName(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QStringLiteral("the UTF-8 byte-order mark");
    if (bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("the UTF-16LE byte-order mark");
    if (bytes.startsWith("\xFE\xFF"))
        return QStringLiteral("the UTF-16BE byte-order mark");
    return QStringLiteral("no byte-order mark");
}

/*
 * The text of a file the converter wrote, without its byte-order mark: decoded as its mark
 * says, else as UTF-8 when the bytes are valid UTF-8, else in code page 1252 (ANSI in the
 * tests' locale).
 */
inline QString decodeOutput(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    QStringDecoder windows1252("windows-1252");
    if (!windows1252.isValid())
        qFatal("this Qt has no windows-1252 codec");
    return windows1252.decode(body);
}

/* The lines of a file the converter wrote, each without its CR LF (the last line ends with one too). */
inline QStringList outputLines(const QByteArray &bytes)
{
    QStringList lines = decodeOutput(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}
