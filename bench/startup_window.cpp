// The program's start, up to its first shown window, then an immediate exit: timing whole runs
// of this program measures the start-up a user waits for.
#include "core/startup.h"
#include "windows/mainwindow.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QCoreApplication::setOrganizationName(QStringLiteral("ORVANTA"));
    runStartup(QCoreApplication::applicationFilePath());
    MainWindow form;
    form.show();
    // The first turn of the event loop comes after the window's show and expose events.
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
