#pragma once

#include "engine/exporttable.h"
#include "engine/messageicon.h"
#include "engine/rowsort.h"
#include "text/textlines.h"
#include "text/textwriter.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stop_token>

/** The options that an export reads when it reaches its writing stage. */
struct ExportOptions {
    bool headers = true;
    bool sort = true;
    TextEncoding encoding = TextEncoding::Utf8;
};

/** Everything an export needs besides the loaded lines. */
struct ExportRequest {
    ExportType fileType = ExportType::Csv;
    CsvFlavor flavor = CsvFlavor::Plain; // a Csv file's column names and dropped columns
    /** The fifteen columns, or All fields (the Yahoo flavour keeps the fifteen either way). */
    ColumnModel columns = ColumnModel::Fifteen;
    QString exportFileName;
    RowFormat format;
    /**
     * Headers, Sort and the encoding as they stand when the rows are built: the user may still
     * change them while the cards are read. Called once, on the export's thread; it must
     * answer at once. Without it the defaults count.
     */
    std::function<ExportOptions()> readOptions;
};

/** The stages of an export, in their order. */
enum class ExportStage {
    Reading,      // the cards and their columns: progress 0 to 20
    BuildingRows, // 20 to 80
    Writing,      // 80 to 100: the rows are finished, the options read
    Done,         // 100
};

/** A message for the user, as a value: a window shows it in a box, the command line prints it. */
struct ExportMessage {
    MessageIcon icon = MessageIcon::Information;
    QString caption;
    /** The text, in paragraphs. */
    QStringList paragraphs;
    /**
     * One more sentence of a written file's message: the output encoding could not hold some
     * characters. Empty otherwise.
     */
    QString encodingNote;
    /**
     * One more sentence of a written file's message: how many rows it holds, from how many
     * contacts, and how many duplicates were dropped (tableCountsSentence). Empty otherwise.
     */
    QString countsNote = {}; // initialised, so that the messages without counts may leave it out
    /**
     * One more sentence of a written file's message: how many values of which kinds the
     * file's columns had no place for, and that All fields keeps them. Empty otherwise.
     */
    QString leftOutNote = {};
    /**
     * One more sentence of a written file's message: how many fields got an apostrophe before
     * them so that a spreadsheet does not run them as formulas (formulaGuardNote). Empty otherwise.
     */
    QString formulaNote = {};
};

/** The sentence on fields written with an apostrophe against formulas; empty for none. */
QString formulaGuardNote(qint64 guardedFields);

/**
 * What an export tells its caller while it runs, on the export's thread. Neither call may wait
 * for the caller (a window passes them on to its own thread and returns).
 */
class ExportEvents
{
public:
    virtual ~ExportEvents() = default;

    /** The export is at percent (0 to 100) in stage; at most a few hundred reports an export. */
    virtual void progressed(ExportStage stage, int percent) = 0;
    /** A message, in the order in which the user is to see them. */
    virtual void messageReady(const ExportMessage &message) = 0;
};

/** What an export came to. */
enum class ExportOutcome { Written, NoData, NotWritten, Stopped };

/** Which list is written, and by which writer, decided by the extension (any letter case). */
enum class OutputKind { Workbook, Rows, TxtLines };
OutputKind outputKindForFileName(const QString &fileName);

/** step × span / count rounded to the nearest integer, halves to the even neighbour. */
qint64 scaledProgress(qint64 step, qint64 count, qint64 span);

/**
 * The progress of one stage that spans the values base..base + span: step n of count shows
 * base + v, v = scaledProgress(n, count, span), each new v once, so a stage makes at most
 * span reports however many steps it has. Each step also stops the export when it was asked
 * to stop (WorkStopped).
 */
class StageProgress
{
public:
    StageProgress(ExportEvents &events, ExportStage stage, int base, int span, std::stop_token stop)
        : m_events(events)
        , m_stage(stage)
        , m_base(base)
        , m_span(span)
        , m_stop(std::move(stop))
    {
    }

    void step(qint64 n, qint64 count);

private:
    ExportEvents &m_events;
    ExportStage m_stage;
    int m_base;
    int m_span;
    std::stop_token m_stop;
    qint64 m_previous = 0;
};

/** What became of writing an export's file. */
enum class WriteResult {
    Written,
    DoesNotFit, // the table exceeds a workbook's limits: nothing was started
    Failed,     // the writer failed; the target is as it was
};

/**
 * Writes the finished rows (.xls, .xlsx, .csv) or the TXT lines (any other name) to path.
 * Unless the file was written, the writer's message has gone out as a "WARNING".
 * replaced, when given, counts what a CSV or TXT encoding could not hold (written as "?").
 * A stop request ends the writing (WorkStopped) and leaves the target as it was.
 */
WriteResult writeExportFile(const FinishedRows &rows, const TextLines &txtLines, const QString &path,
                            TextEncoding encoding, RowFormat format, ExportEvents &events, const std::stop_token &stop,
                            ReplacedCharacters *replaced = nullptr);

/**
 * The sentence that tells how many characters in how many rows the output encoding could not
 * hold and that UTF-8 keeps them; empty when nothing was replaced. outlookAnsi: the file is an
 * Outlook CSV file, which that preset writes in ANSI, and the sentence says so instead.
 */
QString replacedCharactersNote(const ReplacedCharacters &replaced, bool outlookAnsi = false);

/**
 * One whole export: scan, columns, rows, finishing, writing, with progress 0 to 100 and one
 * final message. Success is reported only when the writer succeeded and the file exists
 * ("-", standard output, always does); its message tells when the output encoding could not
 * hold some characters. The export lets go of its loadedLines once the cards are read: a
 * caller that moves its lines in has their memory back for the rest of the export (a copy
 * costs little, as copies share the text). Running out of memory ends the export with
 * notEnoughMemoryMessage() as an "ERROR" and NotWritten; the target is left as it was.
 *
 * A stop request ends the export within moments at whatever stage it is: nothing is written,
 * an existing file stays as it was, no temporary file is left, and stoppedMessage() goes out.
 */
ExportOutcome runExport(TextLines loadedLines, const ExportRequest &request, ExportEvents &events,
                        const std::stop_token &stop = {});

/** "Not enough memory to convert the loaded files. Nothing was written." in the current language. */
QString notEnoughMemoryMessage();

/** The message of a stopped export, in the current language. */
QString stoppedMessage();
