#include "cli/clirun.h"
#include "platform/terminal.h"
#include "platform/terminationcleanup.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-convert"));
    // Ctrl+C or a kill during an export leaves no temporary file beside the output.
    removeRegisteredFilesOnTermination();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runCli(arguments, stdout, stderr, isTerminal(stderr));
}
