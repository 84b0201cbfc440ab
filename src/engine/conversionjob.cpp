#include "engine/conversionjob.h"

#include "engine/tablebuild.h"
#include "engine/workbookexport.h"
#include "i18n/translate.h"
#include "platform/filenames.h"
#include "text/outputfile.h"
#include "text/textwriter.h"
#include "text/workstop.h"

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

void StageProgress::step(qint64 n, qint64 count)
{
    throwIfStopRequested(m_stop);
    const qint64 v = scaledProgress(n, count, m_span);
    if (v != m_previous && v <= m_span) {
        m_previous = v;
        m_events.progressed(m_stage, int(m_base + v));
    }
}

namespace {

/* How many lines a text writer writes between two looks at the stop request. */
constexpr qsizetype kLinesBetweenStopChecks = 4096;

} // namespace

WriteResult writeExportFile(const FinishedRows &rows, const TextLines &txtLines, const QString &path,
                            TextEncoding encoding, RowFormat format, ExportEvents &events, const std::stop_token &stop,
                            ReplacedCharacters *replaced)
{
    const OutputKind kind = outputKindForFileName(path);
    QString error;
    WriteResult result = WriteResult::Failed;
    if (kind == OutputKind::Workbook) {
        result = exportToWorkbook(rows, format.delimiter, path, events, stop, &error);
    } else {
        const auto lineAt = [&stop](const auto &lines) {
            return [&stop, &lines](qsizetype i) {
                if (i % kLinesBetweenStopChecks == 0)
                    throwIfStopRequested(stop);
                return lines.utf8At(i);
            };
        };
        const bool written = kind == OutputKind::Rows
                                 ? writeUtf8Lines(rows.size(), lineAt(rows), path, encoding, &error, replaced)
                                 : writeUtf8Lines(txtLines.size(), lineAt(txtLines), path, encoding, &error, replaced);
        result = written ? WriteResult::Written : WriteResult::Failed;
    }
    if (result != WriteResult::Written)
        events.messageReady({MessageIcon::Warning, translate(QStringLiteral("WARNING")), {error}, {}});
    return result;
}

QString formulaGuardNote(qint64 guardedFields)
{
    if (guardedFields == 0)
        return QString();
    return formatText(translate(QStringLiteral("%s fields began like a spreadsheet formula (=, +, - or @) and were "
                                               "written with an apostrophe before them, so that a spreadsheet shows "
                                               "them as text.")),
                      QString::number(guardedFields));
}

QString replacedCharactersNote(const ReplacedCharacters &replaced, bool outlookAnsi)
{
    if (replaced.characters == 0)
        return {};
    // The Outlook preset writes ANSI whatever encoding was chosen before, so advice to choose
    // UTF-8 would name what the user may well have chosen already.
    if (outlookAnsi)
        return formatText(translate(QStringLiteral("The Outlook format is written in ANSI; characters it cannot hold "
                                                   "were written as \"?\": %s, in %s of the rows.")),
                          {QString::number(replaced.characters), QString::number(replaced.lines)});
    return formatText(translate(QStringLiteral("Characters written as \"?\" because the chosen encoding cannot hold "
                                               "them: %s, in %s of the rows; choose UTF-8 to keep them.")),
                      {QString::number(replaced.characters), QString::number(replaced.lines)});
}

namespace {

/* The export from scanning to the final message. */
ExportOutcome exportLines(TextLines &loadedLines, const ExportRequest &request, ExportEvents &events,
                          const std::stop_token &stop)
{
    const OutputKind kind = outputKindForFileName(request.exportFileName);
    TableLayout layout{request.fileType, request.flavor, request.format, kind == OutputKind::TxtLines, request.columns};
    // The default and Excel CSV files are opened in spreadsheets; the importers' files, text
    // and workbooks (whose cells are text) are not read as formulas.
    layout.format.guardFormulas
        = kind == OutputKind::Rows && request.fileType == ExportType::Csv && request.flavor == CsvFlavor::Plain;
    layout.format = exportRowFormat(layout);
    const RowFormat format = layout.format;
    BuiltTable built = buildTable(loadedLines, layout, events, stop);
    ExportTable &table = built.table;

    if (!built.hasData) {
        events.progressed(ExportStage::Done, 100);
        events.messageReady({MessageIcon::Warning,
                             translate(QStringLiteral("Warning")),
                             {translate(QStringLiteral("No data found!"))},
                             {}});
        return ExportOutcome::NoData;
    }

    const ExportOptions options = request.readOptions ? request.readOptions() : ExportOptions();
    const QString headerRow = !options.headers ? QString()
                              : !table.columnNames.isEmpty()
                                  ? buildHeaderRow(table.columnNames, format)
                                  : buildHeaderRow(table.presence, request.fileType, request.flavor, format);
    const FinishedRows rows = kind != OutputKind::TxtLines
                                  ? finishRows(std::move(table.rows), options.headers, options.sort, headerRow, stop)
                                  : FinishedRows();
    events.progressed(ExportStage::Writing, 80);

    const qint64 guardedFields = table.guardedFields;
    ReplacedCharacters replaced;
    const WriteResult result = writeExportFile(rows, table.txtLines, request.exportFileName, options.encoding, format,
                                               events, stop, &replaced);
    table = ExportTable();
    events.progressed(ExportStage::Done, 100);
    // A table that a workbook cannot hold was never started: its message says all there is.
    if (result == WriteResult::DoesNotFit)
        return ExportOutcome::NotWritten;
    if (result == WriteResult::Written
        && (OutputFile::isStandardOutput(request.exportFileName) || fileExists(request.exportFileName))) {
        events.messageReady({MessageIcon::Information,
                             translate(QStringLiteral("SUCCESS")),
                             {translate(QStringLiteral("Process completed!")),
                              formatText(translate(QStringLiteral("Filename: %s")), request.exportFileName)},
                             replacedCharactersNote(replaced, request.fileType == ExportType::Csv
                                                                  && request.flavor == CsvFlavor::Outlook
                                                                  && options.encoding == TextEncoding::Ansi),
                             tableCountsSentence(built.counts),
                             built.leftOutNote,
                             formulaGuardNote(guardedFields)});
        return ExportOutcome::Written;
    }
    events.messageReady({MessageIcon::Error,
                         translate(QStringLiteral("ERROR")),
                         {translate(QStringLiteral("The file could not be created!"))},
                         {}});
    return ExportOutcome::NotWritten;
}

} // namespace

ExportOutcome runExport(TextLines loadedLines, const ExportRequest &request, ExportEvents &events,
                        const std::stop_token &stop)
{
    events.progressed(ExportStage::Reading, 0);
    try {
        return exportLines(loadedLines, request, events, stop);
    } catch (const std::bad_alloc &) {
        // Everything the export held is freed by now, and an unfinished output file has been
        // removed with its writer: the target is as it was.
        events.progressed(ExportStage::Done, 100);
        events.messageReady({MessageIcon::Error, translate(QStringLiteral("ERROR")), {notEnoughMemoryMessage()}, {}});
        return ExportOutcome::NotWritten;
    } catch (const WorkStopped &) {
        // The same holds for a stop: whatever was made so far went on the way out.
        events.messageReady({MessageIcon::Information, translate(QStringLiteral("Warning")), {stoppedMessage()}, {}});
        return ExportOutcome::Stopped;
    }
}

QString notEnoughMemoryMessage()
{
    return translate(QStringLiteral("Not enough memory to convert the loaded files. Nothing was written."));
}

QString stoppedMessage()
{
    return translate(QStringLiteral("The export was stopped. Nothing was written."));
}
