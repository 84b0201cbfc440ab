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
 * The folder an output file goes in, held open from the look-up on, and the file's name in it:
 * every later step works on this folder, so that the file written is the one the look-up found.
 */
struct OutputLocation {
    int folderFd = -1;  // the folder, opened with O_PATH
    QByteArray name;    // the file's name in it, a single component
    QString folderPath; // the folder as the kernel names it now, for removal on termination
};

/**
 * Looks the path up one component at a time, holding each folder open until the next is open,
 * and follows symbolic links, a dangling last one too, as open(2) would: a link that the
 * kernel's rule forbids to follow (fs.protected_symlinks: a link planted by another user in a
 * sticky world-writable folder such as /tmp) is EACCES, more than 40 links ELOOP. The file
 * itself is not opened, so a device or FIFO is left alone; a path that ends in a folder
 * ("out/", "..") is EISDIR. On success the caller closes the location.
 */
int resolveOutputLocation(const QString &path, OutputLocation *location);

/** Whether two locations hold the same folder (the same file system and inode) and the same name. */
bool sameLocation(const OutputLocation &first, const OutputLocation &second);

/** Closes the folder of a location and empties it. */
void closeOutputLocation(OutputLocation *location);

/** Opens a folder by its path for the calls below, as a location with no file name. */
int openFolderLocation(const QString &path, OutputLocation *location);

/** Looks at what is at the location (links not followed); a missing file is no error. */
int inspectOutputTarget(const OutputLocation &location, OutputTargetInfo *info);

/**
 * Creates a new empty file in the folder, open for reading and writing and readable only by its
 * owner, and returns its descriptor. Where the file system can, the file has no name
 * (O_TMPFILE): *name is empty, and nothing is left of it however the process ends, until
 * nameTemporaryFile() names it. Elsewhere it gets a short name of its own
 * (".tessaly-XXXXXX.tmp") in *name, registered for removal on termination from before it
 * exists; cleanupSlot gets the slot to unregister once the file is renamed or removed (-1 for
 * a file without a name).
 */
int createTemporaryFile(const OutputLocation &folder, QByteArray *name, int *fd, int *cleanupSlot);

/**
 * Gives a file that createTemporaryFile() made without a name a short name of its own in the
 * folder (linkat(2)), registered for removal on termination as a named temporary file is.
 */
int nameTemporaryFile(int fd, const OutputLocation &folder, QByteArray *name, int *cleanupSlot);

/** A path that reaches the file or folder open at fd, whether or not it has a name: /proc/self/fd/N. */
QString pathOfOpenFile(int fd);

/**
 * Creates a new folder with a short name of its own (".tessaly-XXXXXX") in parent, private to
 * its owner, registered for removal with its files on termination as createTemporaryFile does.
 */
int createTemporaryFolder(const QString &parent, QString *path, int *cleanupSlot);

/** Removes a folder and the files in it. */
void removeFolderWithFiles(const QString &path);

/**
 * Opens the existing file, device or FIFO at the location for writing, without following a
 * link, creating or truncating anything; with alsoRead, for reading too where the permissions
 * allow it (else for writing only).
 */
int openStreamForWriting(const OutputLocation &location, int *fd, bool alsoRead = false);

/** Empties the file open at fd (ftruncate(2) to 0 bytes, its offset to the start). */
int truncateFile(int fd);

/** The size in bytes of the file open at fd, in *size. */
int sizeOfOpenFile(int fd, qint64 *size);

/**
 * Makes sure that the file open at fd can hold size bytes without the file system running out
 * of room: the blocks are reserved (fallocate(2), the file's size unchanged), or, where the
 * file system cannot reserve, its free room is checked. ENOSPC when it cannot hold them.
 */
int reserveFileSpace(int fd, qint64 size);

/** fchmod(2) with the permission bits (07777) of mode, through fileCalls(). */
int setFilePermissions(int fd, unsigned mode);

/**
 * Whether error is a file system's refusal to change permissions or owner at all (ENOSYS,
 * EPERM, EOPNOTSUPP: FAT, exFAT, some network shares), after which a file keeps the
 * permissions the volume gives every file.
 */
bool isPermissionChangeUnsupported(int error);

/**
 * Gives the file the owner and group of the file it replaces, as far as the system allows:
 * root may give both, another user only a group of their own; what is not allowed stays as it
 * is. Returns 0, or the error of the last try (a file that stays the user's is no failure).
 */
int takeOwnership(int fd, unsigned owner, unsigned group);

/** Puts the file named from in the place of the location's file in one step, replacing what was there. */
int replaceFile(const OutputLocation &location, const QByteArray &from);

/** Removes the file named name (not a folder) from the location's folder; a missing file is no error. */
int removeFile(const OutputLocation &folder, const QByteArray &name);

void closeFile(int fd);

/** Syncs the folder's entries, so that a file just renamed in it stays after a crash. */
int syncFolder(const OutputLocation &folder);

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
