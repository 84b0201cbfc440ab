#include "platform/detachedstart.h"

#include <QProcess>

bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder, qint64 *pid)
{
    // QProcess starts a detached process in a session of its own (setsid), so it has no
    // controlling terminal and outlives this process; nothing of it is shown.
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingFolder);
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached(pid);
}
