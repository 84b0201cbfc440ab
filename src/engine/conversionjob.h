#pragma once

#include "engine/exporttable.h"
#include "engine/messageicon.h"
#include "engine/rowsort.h"
#include "text/textlines.h"
#include "text/textwriter.h"

#include <QString>
#include <QStringList>

/** What the user asked for: the export type, the CSV flavour and the chosen path. */
struct ExportRequest {
    QString exportFileType; // "XLS", "CSV" or "TXT"
    QString exportFlavor;   // "", "google", "outlook" or "yahoo"
    QString exportFileName;
};

/** The options the job reads from its host when it reaches its writing stage. */
struct ExportOptions {
    bool headers = true;
    bool sort = true;
    TextEncoding encoding = TextEncoding::Utf8;
};

/**
 * The window (or the command line) as the job sees it. Every call is made from the job's
 * thread; a window carries each one out on its own thread and returns when it is done.
 */
class ConversionHost
{
public:
    virtual ~ConversionHost() = default;

    /** Shows a progress value from 0 to 100 (0 also clears the taskbar progress). */
    virtual void setProgress(int value) = 0;
    /** Shows or ends the busy cursor. */
    virtual void setBusy(bool busy) = 0;
    /** Disables the export button while rows are built. */
    virtual void disableExportButton() = 0;
    /** Enables the export controls again. */
    virtual void enableExportControls() = 0;
    /** Headers, Sort and the encoding as they stand now. */
    virtual ExportOptions readExportOptions() = 0;
    /** A modal message box; returns once the user has closed it. */
    virtual void showMessage(MessageIcon icon, const QString &caption, const QString &text) = 0;

    /**
     * The message of a written file. encodingNote, when not empty, is one more sentence: the
     * output encoding could not hold some characters. A window shows it as the last part of
     * the same message box, as this default does.
     */
    virtual void showSuccess(const QString &caption, const QString &text, const QString &encodingNote)
    {
        showMessage(MessageIcon::Information, caption,
                    encodingNote.isEmpty() ? text : text + QStringLiteral("\r\r") + encodingNote);
    }
};

/** What a job came to. */
enum class ConversionOutcome { Written, NoData, NotWritten };

/** Which list is written, and by which writer, decided by the extension (any letter case). */
enum class OutputKind { Workbook, Rows, TxtLines };
OutputKind outputKindForFileName(const QString &fileName);

/** step × span / count rounded to the nearest integer, halves to the even neighbour. */
qint64 scaledProgress(qint64 step, qint64 count, qint64 span);

/**
 * The progress of one stage that spans the values base..base + span: step n of count shows
 * base + v, v = scaledProgress(n, count, span), each new v once, so a stage makes at most
 * span reports however many steps it has.
 */
class StageProgress
{
public:
    StageProgress(ConversionHost &host, int base, int span)
        : m_host(host)
        , m_base(base)
        , m_span(span)
    {
    }

    void step(qint64 n, qint64 count)
    {
        const qint64 v = scaledProgress(n, count, m_span);
        if (v != m_previous && v <= m_span) {
            m_previous = v;
            m_host.setProgress(int(m_base + v));
        }
    }

private:
    ConversionHost &m_host;
    int m_base;
    int m_span;
    qint64 m_previous = 0;
};

/**
 * Writes the finished rows (.xls, .xlsx, .csv) or the TXT lines (any other name) to path.
 * On failure the writer's message has been shown as a "WARNING" box and false is returned.
 * replaced, when given, counts what a CSV or TXT encoding could not hold (written as "?").
 */
bool writeExportFile(const FinishedRows &rows, const TextLines &txtLines, const QString &path, TextEncoding encoding,
                     RowFormat format, ConversionHost &host, ReplacedCharacters *replaced = nullptr);

/**
 * The sentence that tells how many characters in how many rows the output encoding could not
 * hold and that UTF-8 keeps them; empty when nothing was replaced.
 */
QString replacedCharactersNote(const ReplacedCharacters &replaced);

/**
 * One whole export: scan, columns, rows, finishing, writing, with progress 0 to 100 and one
 * final message. Success is reported only when the writer succeeded and the file exists
 * ("-", standard output, always does); its message tells when the output encoding could not
 * hold some characters. The job lets go of its loadedLines once the cards are read: a caller
 * that moves its lines in has their memory back for the rest of the export (a copy costs
 * little, as copies share the text). Running out of memory ends the export with NotEnoughMemoryMessage() as
 * an "ERROR" box and NotWritten; the target is left as it was.
 */
ConversionOutcome runConversion(TextLines loadedLines, const ExportRequest &request, RowFormat format,
                                ConversionHost &host);

/** "Not enough memory to convert the loaded files. Nothing was written." in the current language. */
QString NotEnoughMemoryMessage();
