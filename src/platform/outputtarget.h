#pragma once

#include <QString>

/*
 * The file-system steps of writing an output file: finding what a path leads to, creating a
 * temporary file beside it, giving that file its permissions and putting it in the target's
 * place. Each returns 0 or the system's error number; systemErrorText() turns that into words.
 */

/** What is at the path an output file is to be written to. */
struct OutputTargetInfo {
    enum Kind {
        Missing,     // nothing yet: a new file is created
        RegularFile, // replaced as a whole
        Folder,      // never written
        Stream,      // a device, FIFO or socket: written in place
    };
    Kind kind = Missing;
    unsigned permissions = 0; // of an existing file
    unsigned owner = 0;       // of an existing file: user and group ids
    unsigned group = 0;
    int writeError = 0; // why the user may not write the existing file (EACCES, EROFS), or 0
};

/** The descriptor of standard output, written in place as the output "-". */
inline constexpr int kStandardOutputDescriptor = 1;

/**
 * Follows symbolic links, a dangling last one too, to the path that writing to path reaches;
 * a link the kernel refuses to follow (EACCES, ELOOP) is an error, as it is for open(2).
 */
int resolveSymbolicLinks(const QString &path, QString *resolved);

/** Looks at what is at path (links followed); a missing file is no error. */
int inspectOutputTarget(const QString &path, OutputTargetInfo *info);

/**
 * Creates a new empty file in folder, open for reading and writing and readable only by its
 * owner, and returns its descriptor. Where the file system can, the file has no name
 * (O_TMPFILE): *path is empty, and nothing is left of it however the process ends, until
 * nameTemporaryFile() names it. Elsewhere it gets a short name of its own
 * (".tessaly-XXXXXX.tmp") in *path, registered for removal on termination from before it
 * exists; cleanupSlot gets the slot to unregister once the file is renamed or removed (-1 for
 * a file without a name).
 */
int createTemporaryFile(const QString &folder, QString *path, int *fd, int *cleanupSlot);

/**
 * Gives a file that createTemporaryFile() made without a name a short name of its own in
 * folder (linkat(2)), registered for removal on termination as a named temporary file is.
 */
int nameTemporaryFile(int fd, const QString &folder, QString *path, int *cleanupSlot);

/** A path that reaches the file open at fd, whether or not it has a name: /proc/self/fd/N. */
QString pathOfOpenFile(int fd);

/**
 * Creates a new folder with a short name of its own (".tessaly-XXXXXX") in parent, private to
 * its owner, registered for removal with its files on termination as createTemporaryFile does.
 */
int createTemporaryFolder(const QString &parent, QString *path, int *cleanupSlot);

/** Removes a folder and the files in it. */
void removeFolderWithFiles(const QString &path);

/** Opens an existing device or FIFO for writing, without creating or truncating anything. */
int openStreamForWriting(const QString &path, int *fd);

/** Empties the file open at fd (ftruncate(2) to 0 bytes, its offset to the start). */
int truncateFile(int fd);

/** fchmod(2) with the permission bits (07777) of mode. */
int setFilePermissions(int fd, unsigned mode);

/**
 * Gives the file the owner and group of the file it replaces, as far as the system allows:
 * root may give both, another user only a group of their own; what is not allowed stays as it
 * is. Returns 0, or the error of the last try (a file that stays the user's is no failure).
 */
int takeOwnership(int fd, unsigned owner, unsigned group);

/** Puts the file from in the place of to in one step, replacing what was there. */
int replaceFile(const QString &from, const QString &to);

/** Removes the file (not a folder); a missing file is no error. */
int removeFile(const QString &path);

void closeFile(int fd);

/** Syncs the folder's entries, so that a file just renamed in it stays after a crash. */
int syncFolder(const QString &folder);

/**
 * Syncs what was written to fd through fileCalls(). For a target written in place (a device,
 * FIFO or pipe) a sync the kind cannot do is no failure: there is nothing of it to keep.
 */
int syncWrittenFile(int fd, bool writtenInPlace);

/** Copies everything in the file open at fromFd, from its start, to toFd through fileCalls(). */
int copyFileContent(int fromFd, int toFd);

/** The number of the last failed system call on this thread (errno). */
int lastSystemError();

/** Sets errno to 0, so that a library call that fails without a system error leaves it at 0. */
void clearSystemError();

/** The system's words for an error number ("No space left on device"). */
QString systemErrorText(int error);
