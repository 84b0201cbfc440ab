#include "app/startup.h"
#include "translation/languagechoice.h"
#include "translation/translate.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void Print(const QString &text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
}

/* Until the window exists, the program shows what its start settled and loads its argument. */
void ShowStartState(const StartupNotes &notes, const QStringList &arguments)
{
    const AppIdentity &identity = Identity();
    Print(identity.AppCaption + QStringLiteral(" ") + identity.AppVersion);
    Print(QStringLiteral("Data folder: ") + DataDir());
    Print(QStringLiteral("Language: ")
          + (LanguageFilePath().isEmpty() ? QStringLiteral("English (built in)")
                                          : LanguageName() + QStringLiteral(" (") + LanguageFilePath() + u')'));
    for (const QString &note : {notes.versionError, notes.settingsError, notes.languageError}) {
        if (!note.isEmpty())
            Print(Translate(QStringLiteral("WARNING")) + QStringLiteral(": ") + note);
    }
    // The command line names one file to load: all arguments joined with blanks.
    if (!arguments.isEmpty()) {
        const LoadOutcome outcome = AppendVcfFile(arguments.join(u' '), TextEncoding::Utf8, Loaded());
        if (!outcome.warningText.isEmpty())
            Print(outcome.warningCaption + QStringLiteral(": ") + outcome.warningText);
    }
    Print(Translate(QStringLiteral("Load vCards from VCF file...")) + QStringLiteral(" [")
          + QString::number(Loaded().LoadedFileCount) + u']');
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QCoreApplication::setOrganizationName(QStringLiteral("ORVANTA"));
    const StartupNotes notes = RunStartup(QCoreApplication::applicationFilePath());
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    ShowStartState(notes, arguments);
    return 0;
}
