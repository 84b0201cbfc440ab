#include "cli/clirun.h"
#include "versioninfo/versioninfo.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-convert"));
    ExeVersionData version;
    FixedFileVersion fixedVersion;
    if (ownVersionData(version, fixedVersion))
        QCoreApplication::setApplicationVersion(version.productVersion);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runCli(arguments, stdout, stderr, isatty(STDERR_FILENO) != 0);
}
