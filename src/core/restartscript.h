#pragma once

#include <QByteArray>
#include <QString>

/*
 * The restart script: a small POSIX shell script in the data folder that waits about one
 * second, so that the ending program has gone, and then starts the program file again.
 */

/** The script's file name in the data folder. */
inline constexpr char16_t kRestartScriptName[] = u"start.sh";

/** text as one word for the shell: in single quotes, each single quote written as '\''. */
QByteArray shellQuoted(const QByteArray &text);

/**
 * The script's content, one line each and LF after every line: "#!/bin/sh", two comment
 * lines, "sleep 1", and "exec" with the program file's path quoted for the shell (in the
 * file system's encoding), so that the shell gives way to the program.
 */
QByteArray restartScriptText(const QString &programFile);

/**
 * Writes the script for programFile as "start.sh" into dataDir (a separator is added when
 * missing), replacing an earlier one as a whole, and makes it executable. Returns the
 * script's full path, or an empty text with error set when it could not be written.
 */
QString writeRestartScript(const QString &dataDir, const QString &programFile, QString *error);
