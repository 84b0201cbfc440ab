#include "engine/loading.h"

#include "i18n/translate.h"

#include <QFileInfo>

#include <new>

namespace {

QString emptyFileMessage(const QString &path)
{
    const QString twoCr = QStringLiteral("\r\r");
    return translate(QStringLiteral("The file is empty!")) + twoCr
           + formatText(translate(QStringLiteral("Filename: %s")), path) + twoCr
           + translate(QStringLiteral("Verify that the file has not been corrupted and that the file "
                                      "extension matches the format of the file."));
}

/* A file that could not be decoded, named, with the hint that another encoding may read it. */
QString UndecodableFileMessage(const QString &reason, const QString &path)
{
    const QString twoCr = QStringLiteral("\r\r");
    return reason + twoCr + formatText(translate(QStringLiteral("Filename: %s")), path) + twoCr
           + translate(QStringLiteral("The file may be saved in another encoding: choose ANSI or UTF-16 and load it "
                                      "again."));
}

QString NoMemoryMessage(const QString &path)
{
    return translate(QStringLiteral("Not enough memory to load the file.")) + QStringLiteral("\r\r")
           + formatText(translate(QStringLiteral("Filename: %s")), path);
}

} // namespace

LoadOutcome appendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target)
{
    LoadOutcome outcome;
    if (!QFileInfo(path).isFile())
        return outcome;

    const qsizetype linesBefore = target.loadedLines.size();
    if (fileSize64(path) == 0) {
        outcome.warningCaption = translate(QStringLiteral("Warning"));
        outcome.warningText = emptyFileMessage(path);
    }

    QString error;
    try {
        TextLines fileLines;
        if (!readTextLines(path, encoding, fileLines, &error)) {
            outcome.kind = LoadOutcome::Failed;
            outcome.warningCaption = translate(QStringLiteral("WARNING"));
            // Every other reason names the file already.
            outcome.warningText = error == invalidUtf8Message() ? UndecodableFileMessage(error, path) : error;
            return outcome;
        }
        target.loadedLines.appendLines(std::move(fileLines));
        target.loadedLines.appendUtf8(QByteArrayView());
    } catch (const std::bad_alloc &) {
        // The lines appended so far belong to no file: the loaded text is left as it was.
        target.loadedLines.truncate(linesBefore);
        outcome.kind = LoadOutcome::NoMemory;
        outcome.warningCaption = translate(QStringLiteral("WARNING"));
        outcome.warningText = NoMemoryMessage(path);
        return outcome;
    }
    ++target.loadedFileCount;
    outcome.kind = LoadOutcome::Loaded;
    return outcome;
}
