#include "engine/conversionjob.h"

#include "engine/cardscanner.h"
#include "engine/rowsort.h"
#include "text/textwriter.h"
#include "engine/workbookexport.h"
#include "i18n/translate.h"

#include <QFileInfo>

OutputKind OutputKindForFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : fileName.sliced(dot).toLower();
    if (extension == QLatin1String(".xls") || extension == QLatin1String(".xlsx"))
        return OutputKind::Workbook;
    if (extension == QLatin1String(".csv"))
        return OutputKind::Rows;
    return OutputKind::TxtLines;
}

qint64 ScaledProgress(qint64 step, qint64 count, qint64 span)
{
    const qint64 numerator = step * span;
    const qint64 quotient = numerator / count;
    const qint64 twiceRemainder = 2 * (numerator % count);
    if (twiceRemainder > count || (twiceRemainder == count && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

bool WriteExportFile(const QStringList &rows, const QStringList &txtLines, const QString &path,
                     TextEncoding encoding, RowFormat format, ConversionHost &host)
{
    const OutputKind kind = OutputKindForFileName(path);
    if (kind == OutputKind::Workbook)
        return ExportToWorkbook(rows, format.delimiter, path, host);
    QString error;
    if (WriteTextLines(kind == OutputKind::Rows ? rows : txtLines, path, encoding, &error))
        return true;
    host.ShowMessage(MessageIcon::Warning, Translate(QStringLiteral("WARNING")), error);
    return false;
}

namespace {

TableParts PartsFor(OutputKind kind)
{
    return kind == OutputKind::TxtLines ? TableParts::Both : TableParts::Rows;
}

} // namespace

ConversionOutcome RunConversion(const TextLines &loadedLines, const ExportRequest &request, RowFormat format,
                                ConversionHost &host)
{
    host.ProgressDegistir(0);
    host.SetBusy(true);
    host.DisableExportButton();

    auto finish = [&](ConversionOutcome outcome) {
        host.ProgressDegistir(0);
        host.SetBusy(false);
        return outcome;
    };

    std::vector<ContactCard> cards = ScanCards(loadedLines, format.delimiter);
    host.ProgressDegistir(10);
    const ColumnPresence presence = ComputeColumnPresence(cards);
    host.ProgressDegistir(20);

    const OutputKind kind = OutputKindForFileName(request.ExportFileName);
    StageProgress rowBuilding(host, 20, 60);
    ExportTable table = BuildExportTable(std::move(cards), presence, request.ExportFileType, request.ExportFlavor,
                                         format, PartsFor(kind),
                                         [&](qint64 card, qint64 count) { rowBuilding.step(card, count); });
    host.ProgressDegistir(80);
    RemoveBlankRows(table.rows);
    host.ProgressDegistir(80);

    if (table.rows.isEmpty()) {
        host.ProgressDegistir(100);
        host.ShowMessage(MessageIcon::Warning, Translate(QStringLiteral("Warning")),
                         Translate(QStringLiteral("No data found!")));
        host.EnabledYap();
        return finish(ConversionOutcome::NoData);
    }

    const ExportOptions options = host.ReadExportOptions();
    const QString headerRow = options.headers
        ? BuildHeaderRow(table.presence, request.ExportFileType, request.ExportFlavor, format)
        : QString();
    if (kind != OutputKind::TxtLines)
        FinishRows(table.rows, options.headers, options.sort, headerRow);
    host.EnabledYap();

    const bool written = WriteExportFile(table.rows, table.txtLines, request.ExportFileName, options.encoding,
                                         format, host);
    table = ExportTable();
    host.ProgressDegistir(100);
    if (written && QFileInfo::exists(request.ExportFileName)) {
        host.ShowMessage(MessageIcon::Information, Translate(QStringLiteral("SUCCESS")),
                         Translate(QStringLiteral("Process completed!")) + QStringLiteral("\r\r")
                             + FormatText(Translate(QStringLiteral("Filename: %s")), request.ExportFileName));
        return finish(ConversionOutcome::Written);
    }
    host.ShowMessage(MessageIcon::Error, Translate(QStringLiteral("ERROR")),
                     Translate(QStringLiteral("The file could not be created!")));
    return finish(ConversionOutcome::NotWritten);
}
