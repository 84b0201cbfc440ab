#include "cli/clirun.h"
#include "platform/filenames.h"
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
    // From the bytes themselves: Qt's own list would lose every byte of a file name that is
    // not UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(fileNameFromBytes(argv[i]));
    return runCli(arguments, stdout, stderr, isTerminal(stderr));
}
