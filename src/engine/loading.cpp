#include "engine/loading.h"

#include "i18n/translate.h"

#include <QFileInfo>

namespace {

QString EmptyFileMessage(const QString &path)
{
    const QString twoCr = QStringLiteral("\r\r");
    return Translate(QStringLiteral("The file is empty!")) + twoCr
        + FormatText(Translate(QStringLiteral("Filename: %s")), path) + twoCr
        + Translate(QStringLiteral("Verify that the file has not been corrupted and that the file "
                                   "extension matches the format of the file."));
}

} // namespace

LoadOutcome AppendVcfFile(const QString &path, TextEncoding encoding, LoadedVcards &target)
{
    LoadOutcome outcome;
    if (!QFileInfo(path).isFile())
        return outcome;

    if (FileSize64(path) == 0) {
        outcome.warningCaption = Translate(QStringLiteral("Warning"));
        outcome.warningText = EmptyFileMessage(path);
    }

    TextLines fileLines;
    QString error;
    if (!ReadTextLines(path, encoding, fileLines, &error)) {
        outcome.kind = LoadOutcome::Failed;
        outcome.warningCaption = Translate(QStringLiteral("WARNING"));
        outcome.warningText = error;
        return outcome;
    }
    target.LoadedLines.appendLines(std::move(fileLines));
    target.LoadedLines.appendUtf8(QByteArrayView());
    ++target.LoadedFileCount;
    outcome.kind = LoadOutcome::Loaded;
    return outcome;
}
