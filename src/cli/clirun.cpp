#include "cli/clirun.h"

#include "cli/cliarguments.h"
#include "engine/conversionjob.h"
#include "engine/loading.h"
#include "i18n/translate.h"
#include "platform/listseparator.h"
#include "text/outputfile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

/* Message texts join their parts with two CRs; a terminal wants line breaks. */
QByteArray forTerminal(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\r"), QLatin1String("\n"));
    lines.replace(u'\r', u'\n');
    return lines.toLocal8Bit();
}

void printLine(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", forTerminal(text).constData());
    std::fflush(stream);
}

class CliHost final : public ConversionHost
{
public:
    CliHost(const ExportOptions &options, FILE *out, FILE *err, bool showProgress)
        : m_options(options)
        , m_out(out)
        , m_err(err)
        , m_showProgress(showProgress)
    {
    }

    void setProgress(int value) override
    {
        if (!m_showProgress)
            return;
        if (value == 0 && !m_barShown)
            return;
        constexpr int kWidth = 40;
        const int filled = value * kWidth / 100;
        std::fprintf(m_err, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                     QByteArray(kWidth - filled, '.').constData(), value);
        m_barShown = value != 0;
        if (!m_barShown)
            std::fprintf(m_err, "\r%s\r", QByteArray(kWidth + 8, ' ').constData());
        std::fflush(m_err);
    }

    void setBusy(bool) override { }
    void disableExportButton() override { }
    void enableExportControls() override { }
    ExportOptions readExportOptions() override { return m_options; }

    void showMessage(MessageIcon icon, const QString &caption, const QString &text) override
    {
        endProgressLine();
        if (icon == MessageIcon::Information)
            printLine(m_out, text);
        else
            printLine(m_err, caption + QLatin1String(": ") + text);
    }

    void showSuccess(const QString &caption, const QString &text, const QString &encodingNote) override
    {
        showMessage(MessageIcon::Information, caption, text);
        // The file is written as asked; what its encoding could not hold is a warning beside it.
        if (!encodingNote.isEmpty())
            printLine(m_err, encodingNote);
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

    ExportOptions m_options;
    FILE *m_out; // where the result message goes
    FILE *m_err;
    bool m_showProgress;
    bool m_barShown = false;
};

/* Loads every input in order into loaded; false when memory ran out, which ends the run. */
bool loadInputs(const CliOptions &options, FILE *err, LoadedVcards &loaded)
{
    for (const QString &input : options.inputs) {
        const LoadOutcome outcome = appendVcfFile(input, options.loadEncoding, loaded);
        if (outcome.kind == LoadOutcome::NoMemory) {
            printLine(err, outcome.warningCaption + QLatin1String(": ") + outcome.warningText);
            return false;
        }
        if (outcome.kind == LoadOutcome::Missing) {
            const QString reason
                = QFileInfo::exists(input) ? QStringLiteral("not a file") : QStringLiteral("no such file");
            printLine(err, QStringLiteral("tessaly-convert: %1: %2").arg(input, reason));
        } else if (!outcome.warningText.isEmpty()) {
            printLine(err, outcome.warningCaption + QLatin1String(": ") + outcome.warningText);
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
        printLine(err, QStringLiteral("tessaly-convert: ") + parse.usageError);
        std::fprintf(err, "%s", cliUsageText().toLocal8Bit().constData());
        return CliBadUsage;
    }
    const CliOptions &options = *parse.options;
    LoadedVcards loaded;
    if (!loadInputs(options, err, loaded)) {
        printLine(err, translate(QStringLiteral("ERROR")) + QLatin1String(": ") + NotEnoughMemoryMessage());
        return CliNotWritten;
    }

    CliHost host(options.writeOptions, out, err, showProgress);
    if (OutputFile::isStandardOutput(options.request.exportFileName))
        host.keepOutputClear();
    const RowFormat format{options.separator, u'"'};
    // The loaded text is needed only until the cards are read: the job frees it then.
    switch (runConversion(std::move(loaded.loadedLines), options.request, format, host)) {
    case ConversionOutcome::Written:
        return CliWritten;
    case ConversionOutcome::NoData:
        return CliNoData;
    case ConversionOutcome::NotWritten:
        break;
    }
    return CliNotWritten;
}
