#pragma once

#include <QString>
#include <QStringList>

/**
 * Starts program with arguments as a process of its own, in workingFolder: it runs in a new
 * session without a terminal, reads its standard input from the null device, inherits the
 * environment and goes on after this process has ended. Returns false when it could not be
 * started; pid, when given, receives the new process's id.
 */
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   qint64 *pid = nullptr);
