#include "engine/conversionjob.h"

#include "engine/cardscanner.h"
#include "engine/workbookexport.h"
#include "i18n/translate.h"
#include "platform/filenames.h"
#include "text/outputfile.h"
#include "text/textwriter.h"

#include <new>

OutputKind outputKindForFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : fileName.sliced(dot).toLower();
    if (extension == QLatin1String(".xls") || extension == QLatin1String(".xlsx"))
        return OutputKind::Workbook;
    if (extension == QLatin1String(".csv"))
        return OutputKind::Rows;
    return OutputKind::TxtLines;
}

qint64 scaledProgress(qint64 step, qint64 count, qint64 span)
{
    const qint64 numerator = step * span;
    const qint64 quotient = numerator / count;
    const qint64 twiceRemainder = 2 * (numerator % count);
    if (twiceRemainder > count || (twiceRemainder == count && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

bool writeExportFile(const FinishedRows &rows, const TextLines &txtLines, const QString &path, TextEncoding encoding,
                     RowFormat format, ConversionHost &host, ReplacedCharacters *replaced)
{
    const OutputKind kind = outputKindForFileName(path);
    if (kind == OutputKind::Workbook)
        return exportToWorkbook(rows.toStringList(), format.delimiter, path, host);
    QString error;
    const bool written = kind == OutputKind::Rows ? writeUtf8Lines(
                             rows.size(), [&](qsizetype i) { return rows.utf8At(i); }, path, encoding, &error, replaced)
                                                  : writeTextLines(txtLines, path, encoding, &error, replaced);
    if (written)
        return true;
    host.showMessage(MessageIcon::Warning, translate(QStringLiteral("WARNING")), error);
    return false;
}

QString replacedCharactersNote(const ReplacedCharacters &replaced)
{
    if (replaced.characters == 0)
        return {};
    return formatText(translate(QStringLiteral("Characters written as \"?\" because the chosen encoding cannot hold "
                                               "them: %s, in %s of the rows; choose UTF-8 to keep them.")),
                      {QString::number(replaced.characters), QString::number(replaced.lines)});
}

namespace {

/*
 * The lists an export needs. A text file needs the rows only to tell whether there is any
 * data, which the columns alone tell when no row can be blank.
 */
TableParts partsFor(OutputKind kind, bool rowsNeverBlank)
{
    if (kind != OutputKind::TxtLines)
        return TableParts::Rows;
    return rowsNeverBlank ? TableParts::TxtLines : TableParts::Both;
}

/* The export from scanning to the final message. */
ConversionOutcome runExport(TextLines &loadedLines, const ExportRequest &request, RowFormat format,
                            ConversionHost &host)
{
    CardList cards = scanCards(loadedLines, format.delimiter);
    loadedLines.clear();
    host.setProgress(10);
    const ColumnPresence presence = computeColumnPresence(cards);
    host.setProgress(20);

    const OutputKind kind = outputKindForFileName(request.exportFileName);
    const qsizetype cardCount = cards.size();
    const bool rowsNeverBlank
        = rowsAreNeverBlank(exportedColumns(presence, request.exportFileType, request.exportFlavor), format);
    const TableParts parts = partsFor(kind, rowsNeverBlank);
    StageProgress rowBuilding(host, 20, 60);
    ExportTable table
        = buildExportTable(std::move(cards), presence, request.exportFileType, request.exportFlavor, format, parts,
                           [&](qint64 card, qint64 count) { rowBuilding.step(card, count); });
    host.setProgress(80);
    removeBlankRows(table.rows);
    host.setProgress(80);

    const bool noData = parts == TableParts::TxtLines ? cardCount == 0 : table.rows.isEmpty();
    if (noData) {
        host.setProgress(100);
        host.showMessage(MessageIcon::Warning, translate(QStringLiteral("Warning")),
                         translate(QStringLiteral("No data found!")));
        host.enableExportControls();
        return ConversionOutcome::NoData;
    }

    const ExportOptions options = host.readExportOptions();
    const QString headerRow = options.headers
                                  ? buildHeaderRow(table.presence, request.exportFileType, request.exportFlavor, format)
                                  : QString();
    const FinishedRows rows = kind != OutputKind::TxtLines
                                  ? finishRows(std::move(table.rows), options.headers, options.sort, headerRow)
                                  : FinishedRows();
    host.enableExportControls();

    ReplacedCharacters replaced;
    const bool written
        = writeExportFile(rows, table.txtLines, request.exportFileName, options.encoding, format, host, &replaced);
    table = ExportTable();
    host.setProgress(100);
    if (written && (OutputFile::isStandardOutput(request.exportFileName) || fileExists(request.exportFileName))) {
        host.showSuccess(translate(QStringLiteral("SUCCESS")),
                         translate(QStringLiteral("Process completed!")) + QStringLiteral("\r\r")
                             + formatText(translate(QStringLiteral("Filename: %s")), request.exportFileName),
                         replacedCharactersNote(replaced));
        return ConversionOutcome::Written;
    }
    host.showMessage(MessageIcon::Error, translate(QStringLiteral("ERROR")),
                     translate(QStringLiteral("The file could not be created!")));
    return ConversionOutcome::NotWritten;
}

} // namespace

ConversionOutcome runConversion(TextLines loadedLines, const ExportRequest &request, RowFormat format,
                                ConversionHost &host)
{
    host.setProgress(0);
    host.setBusy(true);
    host.disableExportButton();

    auto finish = [&](ConversionOutcome outcome) {
        host.setProgress(0);
        host.setBusy(false);
        return outcome;
    };
    try {
        return finish(runExport(loadedLines, request, format, host));
    } catch (const std::bad_alloc &) {
        // Everything the export held is freed by now, and an unfinished output file has been
        // removed with its writer: the target is as it was.
    }
    host.setProgress(100);
    host.showMessage(MessageIcon::Error, translate(QStringLiteral("ERROR")), NotEnoughMemoryMessage());
    host.enableExportControls();
    return finish(ConversionOutcome::NotWritten);
}

QString NotEnoughMemoryMessage()
{
    return translate(QStringLiteral("Not enough memory to convert the loaded files. Nothing was written."));
}
