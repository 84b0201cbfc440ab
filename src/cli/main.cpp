#include "cli/clirun.h"
#include "platform/terminal.h"
#include "platform/terminationcleanup.h"
#include "versioninfo/versioninfo.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-convert"));
    // Ctrl+C or a kill during an export leaves no temporary file beside the output.
    removeRegisteredFilesOnTermination();
    ExeVersionData version;
    FixedFileVersion fixedVersion;
    if (ownVersionData(version, fixedVersion))
        QCoreApplication::setApplicationVersion(version.productVersion);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runCli(arguments, stdout, stderr, isTerminal(stderr));
}
