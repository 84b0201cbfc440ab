#include "core/startup.h"
#include "i18n/translate.h"
#include "platform/terminationsignal.h"
#include "windows/mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QCoreApplication::setOrganizationName(QStringLiteral("ORVANTA"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    const StartupNotes notes = runStartup(QCoreApplication::applicationFilePath());
    // Start-up carries on whatever it could not do; what it noticed goes to standard error.
    for (const QString &note :
         {notes.versionError, notes.settingsError, notes.languageError, notes.qtTranslationsError}) {
        if (!note.isEmpty())
            std::fprintf(stderr, "%s: %s\n", qPrintable(translate(QStringLiteral("WARNING"))), qPrintable(note));
    }

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    MainWindow form(arguments);
    // The session ending, kill or Ctrl+C end the program in order, without a question: running
    // exports stop and leave the files as they were.
    onTerminationSignal(&form, [&form] { form.endOnTerminationSignal(); });
    form.show();
    const int result = app.exec();
    form.stopExportsQuietly();
    return result;
}
