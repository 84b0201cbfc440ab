#include "cli/clirun.h"

#include "cli/cliarguments.h"
#include "engine/conversionjob.h"
#include "engine/loading.h"
#include "i18n/translate.h"
#include "platform/filenames.h"
#include "platform/listseparator.h"
#include "text/outputfile.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

/*
 * A file name as printed: a control character (a line break, the start of a terminal's escape
 * sequence) as \xHH, so that a name can neither start a line of its own nor command the terminal.
 */
QString printableName(const QString &name)
{
    QString printed;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            printed += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            printed += c;
    }
    return printed;
}

/*
 * Prints messages that may name the files of the run: each name printable, with every byte it
 * has (also those that are not UTF-8). Message texts join their parts with two CRs; a terminal
 * wants line breaks.
 */
class MessagePrinter
{
public:
    explicit MessagePrinter(const QStringList &names)
    {
        for (const QString &name : names) {
            if (printableName(name) != name)
                m_names.append(name);
        }
        // A longer name first, so that a name inside another is not printed into it.
        std::sort(m_names.begin(), m_names.end(),
                  [](const QString &a, const QString &b) { return a.size() > b.size(); });
    }

    void printLine(FILE *stream, const QString &text) const
    {
        QString lines = text;
        for (const QString &name : m_names)
            lines.replace(name, printableName(name));
        lines.replace(QLatin1String("\r\r"), QLatin1String("\n"));
        lines.replace(u'\r', u'\n');
        std::fprintf(stream, "%s\n", fileNameBytes(lines).constData());
        std::fflush(stream);
    }

private:
    QStringList m_names; // those that hold a control character
};

/* The export's progress as a bar on a terminal, its messages as lines. */
class CliEvents final : public ExportEvents
{
public:
    CliEvents(const MessagePrinter &printer, FILE *out, FILE *err, bool showProgress)
        : m_printer(printer)
        , m_out(out)
        , m_err(err)
        , m_showProgress(showProgress)
    {
    }

    void progressed(ExportStage, int percent) override
    {
        if (!m_showProgress || (percent == 0 && !m_barShown))
            return;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(m_err, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                     QByteArray(kWidth - filled, '.').constData(), percent);
        std::fflush(m_err);
        m_barShown = true;
    }

    void messageReady(const ExportMessage &message) override
    {
        endProgressLine();
        const QString text = message.paragraphs.join(u'\n');
        if (message.icon == MessageIcon::Information)
            m_printer.printLine(m_out, text);
        else
            m_printer.printLine(m_err, message.caption + QLatin1String(": ") + text);
        // What the file holds goes beside the result, where the output itself cannot be.
        if (!message.countsNote.isEmpty())
            m_printer.printLine(m_err, message.countsNote);
        // The file is written as asked; what its encoding could not hold is a warning beside it.
        if (!message.encodingNote.isEmpty())
            m_printer.printLine(m_err, message.encodingNote);
        // So is what the columns had no place for, and the option that keeps it.
        if (!message.leftOutNote.isEmpty())
            m_printer.printLine(m_err, message.leftOutNote);
        // And which fields got an apostrophe so that a spreadsheet does not run them.
        if (!message.formulaNote.isEmpty())
            m_printer.printLine(m_err, message.formulaNote);
    }

    /* Takes the bar off the terminal once the export has ended without a message. */
    void clearProgress()
    {
        if (!m_barShown)
            return;
        constexpr int kWidth = 40;
        std::fprintf(m_err, "\r%s\r", QByteArray(kWidth + 8, ' ').constData());
        std::fflush(m_err);
        m_barShown = false;
    }

    /* The output itself goes to standard output: the result message goes to err then. */
    void keepOutputClear() { m_out = m_err; }

private:
    void endProgressLine()
    {
        if (m_barShown) {
            std::fprintf(m_err, "\n");
            m_barShown = false;
        }
    }

    const MessagePrinter &m_printer;
    FILE *m_out; // where the result message goes
    FILE *m_err;
    bool m_showProgress;
    bool m_barShown = false;
};

/* Loads every input in order into loaded; false when memory ran out, which ends the run. */
bool loadInputs(const CliOptions &options, const MessagePrinter &printer, FILE *err, LoadedVcards &loaded)
{
    for (const QString &input : options.inputs) {
        // A name that is not UTF-8 is read under a name that Qt can open; messages name the input.
        const FileForQt file(input);
        LoadOutcome outcome = appendVcfFile(file.path(), options.loadEncoding, loaded);
        outcome.warningParagraphs.replaceInStrings(file.path(), input);
        const QString warning = outcome.warningParagraphs.join(u'\n');
        if (outcome.kind == LoadOutcome::NoMemory) {
            printer.printLine(err, outcome.warningCaption + QLatin1String(": ") + warning);
            return false;
        }
        if (outcome.kind == LoadOutcome::Missing || outcome.kind == LoadOutcome::NotAFile) {
            const QString reason = fileExists(input) ? QStringLiteral("not a file") : QStringLiteral("no such file");
            printer.printLine(err, QStringLiteral("tessaly-convert: %1: %2").arg(input, reason));
        } else if (!warning.isEmpty()) {
            printer.printLine(err, outcome.warningCaption + QLatin1String(": ") + warning);
        }
    }
    return true;
}

} // namespace

int runCli(const QStringList &arguments, FILE *out, FILE *err, bool showProgress)
{
    const CliParse parse = parseCliArguments(arguments, systemListSeparator());
    if (parse.helpRequested) {
        std::fprintf(out, "%s", cliHelpText().toLocal8Bit().constData());
        return CliWritten;
    }
    if (parse.versionRequested) {
        // The version the program records of itself (main() sets it from its version data).
        std::fprintf(out, "%s %s\n", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(QCoreApplication::applicationVersion()));
        return CliWritten;
    }
    if (!parse.options) {
        MessagePrinter(arguments).printLine(err, QStringLiteral("tessaly-convert: ") + parse.usageError);
        std::fprintf(err, "%s", cliUsageText().toLocal8Bit().constData());
        return CliBadUsage;
    }
    const CliOptions &options = *parse.options;
    const MessagePrinter printer(options.inputs + QStringList{options.request.exportFileName});
    for (const QString &input : options.inputs) {
        // The export would take the input's place, also under another name or through a link.
        if (!OutputFile::isStandardOutput(options.request.exportFileName)
            && isSameFile(input, options.request.exportFileName)) {
            printer.printLine(err, QStringLiteral("tessaly-convert: The output file \"%1\" is the input \"%2\"; "
                                                  "choose another output file.")
                                       .arg(options.request.exportFileName, input));
            return CliBadUsage;
        }
    }
    LoadedVcards loaded;
    if (!loadInputs(options, printer, err, loaded)) {
        printer.printLine(err, translate(QStringLiteral("ERROR")) + QLatin1String(": ") + notEnoughMemoryMessage());
        return CliNotWritten;
    }

    CliEvents events(printer, out, err, showProgress);
    if (OutputFile::isStandardOutput(options.request.exportFileName))
        events.keepOutputClear();
    ExportRequest request = options.request;
    request.format = RowFormat{options.separator, u'"'};
    request.readOptions = [&options] { return options.writeOptions; };
    // The loaded text is needed only until the cards are read: the export frees it then.
    const ExportOutcome outcome = runExport(std::move(loaded.loadedLines), request, events);
    events.clearProgress();
    switch (outcome) {
    case ExportOutcome::Written:
        return CliWritten;
    case ExportOutcome::NoData:
        return CliNoData;
    case ExportOutcome::NotWritten:
    case ExportOutcome::Stopped:
        break;
    }
    return CliNotWritten;
}
