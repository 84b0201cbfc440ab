#pragma once

#include "platform/outputtarget.h"

#include <QIODevice>
#include <QString>

#include <memory>

/** The one message for an output file that could not be written: "Cannot create file "<path>". <reason>". */
QString cannotCreateFileMessage(const QString &path, const QString &reason);

/**
 * Writes one output file so that the file at its path is either replaced whole or left as it
 * was; every writer of the program (CSV and text, both workbook kinds, settings.ini, start.sh)
 * writes through it.
 *
 * The bytes go to a new temporary file in the target's folder, without a name where the file
 * system can (so that nothing is left of it however the process ends), else with a short name
 * of its own; commit() syncs it to disk (a failed sync fails the write), gives it the
 * permissions of the file it replaces (or those of any new file: 0666 less the umask), names
 * it if it has no name, and renames it over the target. A file system that refuses to change
 * permissions at all (FAT, exFAT) leaves the file with the volume's own, and the write goes on.
 * A symbolic link is followed, so the file it points to is replaced and the link stays, unless
 * the kernel would refuse to follow it (a link another user placed in /tmp). The path is looked
 * up once, with each folder held open: the temporary file is made in the folder that look-up
 * found and renamed there, so a link swapped in meanwhile is never followed. A
 * folder, and an existing file the user may not write, are refused. A device or FIFO, and
 * "-" for standard output, are written in place, without a temporary file. An existing file
 * that the user may write in a folder that takes no new file is written in place as well: the
 * bytes are put together in the system's temporary folder, and commit() reserves the room they
 * need in the file (a file system without that room fails the write and keeps the old file),
 * keeps a copy of the old content there (where the file may be read), empties the file and
 * copies them in; should that copy fail all the same, the old content is put back. While a temporary
 * file has a name it is registered to be removed should a signal end the process; an object
 * destroyed before commit() removes it.
 *
 * Not QSaveFile: its commit() syncs the file to disk but ignores a failed sync (it takes the
 * failure for a file system that cannot sync), so a file whose bytes never reached the disk
 * would replace the old one and count as written. Here a failed sync fails the write and leaves
 * the old file. QSaveFile also always gives its temporary file a name, which a process that
 * is killed leaves behind.
 */
class OutputFile
{
public:
    /** How the writer puts its bytes in. */
    enum class Writer {
        ThroughDevice, // through device()
        ByName,        // a library opens stagingFileName() by name and writes it itself
    };

    explicit OutputFile(const QString &path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    /** Checks the target and prepares where the bytes go; false with errorString() set. */
    bool open(Writer writer = Writer::ThroughDevice);

    /** Where a ThroughDevice writer writes; a failed write reports the system's reason. */
    QIODevice &device();

    /**
     * For a ByName writer: a path to the file to write, a temporary file in helperFolder() (for
     * a device target, in the system's temporary folder: commit() copies the file to the
     * device). The path is /proc/self/fd/N, which reaches the file, named or not, while this
     * object lives.
     */
    QString stagingFileName() const { return m_stagingPath; }

    /**
     * For a ByName writer: the folder, the target's own, for the writer's own temporary files
     * (a writer that removes their names as soon as it makes them leaves nothing there), as a
     * /proc/self/fd/N path that reaches the folder held open.
     */
    QString helperFolder() const { return m_helperFolder; }

    /**
     * Makes the written file the target; false with errorString() set, and the target
     * untouched, also when a write to device() failed or open() did.
     */
    bool commit();

    /** The "Cannot create file" message of the last failure. */
    QString errorString() const { return m_error; }

    /** Whether path names standard output ("-"). */
    static bool isStandardOutput(const QString &path);

private:
    int createStaging(Writer writer, const OutputLocation &folder);
    int replaceContentInPlace();
    bool fail(const QString &reason);
    bool failWithError(int error);
    bool failInSystemTemporaryFolder(int error);
    void discard();

    class DescriptorDevice;

    const QString m_path;
    OutputLocation m_location;        // the target's folder, held from the look-up on, and its name
    OutputLocation m_systemTemporary; // the system's temporary folder, where it holds the staging file
    const OutputLocation *m_stagingFolder = nullptr;
    bool m_replace = false;       // a temporary file is renamed over the target
    bool m_stream = false;        // the target is written in place
    unsigned m_permissions = 0;   // what the written file gets
    bool m_truncateFirst = false; // the target, an existing file, is written in place
    bool m_keepOwner = false;     // it gets the owner and group of the file it replaces
    unsigned m_owner = 0;
    unsigned m_group = 0;
    int m_temporaryFd = -1;
    QByteArray m_temporaryName; // in m_stagingFolder; empty while the temporary file has no name
    QString m_stagingPath;
    int m_cleanupSlot = -1;
    int m_streamFd = -1;
    bool m_ownsStreamFd = false;
    QString m_helperFolder;
    std::unique_ptr<DescriptorDevice> m_device;
    QString m_error;
};
