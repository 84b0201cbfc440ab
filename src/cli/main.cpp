#include "cli/clirun.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-convert"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runCli(arguments, stdout, stderr, isatty(STDERR_FILENO) != 0);
}
