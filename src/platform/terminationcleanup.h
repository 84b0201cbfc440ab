#pragma once

#include <QString>

/*
 * Files to remove should the process be ended by a signal (Ctrl+C, kill, a closed terminal) while they
 * exist: the temporary files of output that is being written. Registering a file is cheap and
 * works whether or not the handlers are installed; only a program that wants the clean-up
 * installs them, once, while it starts.
 */

/**
 * Installs handlers for every signal that would end the process and can be caught (SIGINT,
 * SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE and the others): they remove the
 * registered files, then end the process as the signal would. A signal ignored from the start
 * stays ignored.
 */
void removeRegisteredFilesOnTermination();

/** Registers a file; returns its slot for unregisterFileToRemove(), or -1 when every slot is taken. */
int registerFileToRemove(const QString &path);

/** Registers a folder, to be removed with the files in it; returns its slot as registerFileToRemove() does. */
int registerFolderToRemove(const QString &path);

/** Forgets the file or folder of a slot that a register function returned (-1 is ignored). */
void unregisterFileToRemove(int slot);
