#include "engine/loading.h"

#include "i18n/translate.h"

#include <QFileInfo>

namespace {

QString emptyFileMessage(const QString &path)
{
    const QString twoCr = QStringLiteral("\r\r");
    return translate(QStringLiteral("The file is empty!")) + twoCr
        + formatText(translate(QStringLiteral("Filename: %s")), path) + twoCr
        + translate(QStringLiteral("Verify that the file has not been corrupted and that the file "
                                   "extension matches the format of the file."));
}

} // namespace

LoadOutcome appendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target)
{
    LoadOutcome outcome;
    if (!QFileInfo(path).isFile())
        return outcome;

    if (fileSize64(path) == 0) {
        outcome.warningCaption = translate(QStringLiteral("Warning"));
        outcome.warningText = emptyFileMessage(path);
    }

    TextLines fileLines;
    QString error;
    if (!readTextLines(path, encoding, fileLines, &error)) {
        outcome.kind = LoadOutcome::failure;
        outcome.warningCaption = translate(QStringLiteral("WARNING"));
        outcome.warningText = error;
        return outcome;
    }
    target.loadedLines.appendLines(std::move(fileLines));
    target.loadedLines.appendUtf8(QByteArrayView());
    ++target.loadedFileCount;
    outcome.kind = LoadOutcome::loadedCards;
    return outcome;
}
