#include "text/outputfile.h"

#include "platform/filecalls.h"
#include "platform/outputtarget.h"
#include "platform/processumask.h"
#include "platform/terminationcleanup.h"
#include "text/textformat.h"

#include <QDir>

#include <cerrno>

QString cannotCreateFileMessage(const QString &path, const QString &reason)
{
    return formatText(QStringLiteral("Cannot create file \"%s\". %s"), {path, reason});
}

namespace {

/* The system's temporary folder; QDir::tempPath() is empty when the folder TMPDIR names is missing. */
QString systemTemporaryFolder()
{
    const QString path = QDir::tempPath();
    return path.isEmpty() ? qEnvironmentVariable("TMPDIR") : path;
}

} // namespace

/* Writes straight to a descriptor through the file calls, unbuffered, with the system's reason on failure. */
class OutputFile::DescriptorDevice final : public QIODevice
{
public:
    explicit DescriptorDevice(int fd)
        : m_fd(fd)
    {
        QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }

    qint64 writeData(const char *data, qint64 size) override
    {
        for (qint64 done = 0; done < size;) {
            const qint64 written = fileCalls().write(m_fd, data + done, size - done);
            if (written <= 0) {
                setErrorString(systemErrorText(written < 0 ? lastSystemError() : EIO));
                m_failed = true;
                return -1;
            }
            done += written;
        }
        return size;
    }

private:
    int m_fd;
    bool m_failed = false;
};

OutputFile::OutputFile(const QString &path)
    : m_path(path)
{
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::isStandardOutput(const QString &path)
{
    return path == u"-";
}

bool OutputFile::open(Writer writer)
{
    discard();
    m_error.clear();
    if (isStandardOutput(m_path)) {
        m_stream = true;
        m_streamFd = kStandardOutputDescriptor;
    } else {
        if (const int error = resolveOutputLocation(m_path, &m_location))
            return failWithError(error);
        OutputTargetInfo target;
        if (const int error = inspectOutputTarget(m_location, &target))
            return failWithError(error);
        switch (target.kind) {
        case OutputTargetInfo::Folder:
            return failWithError(EISDIR);
        case OutputTargetInfo::Stream:
            if (const int error = openStreamForWriting(m_location, &m_streamFd))
                return failWithError(error);
            m_stream = true;
            m_ownsStreamFd = true;
            break;
        case OutputTargetInfo::RegularFile:
            // The folder may let anyone rename over the file; the file's own permissions decide.
            if (target.writeError)
                return failWithError(target.writeError);
            m_permissions = target.permissions;
            m_keepOwner = true;
            m_owner = target.owner;
            m_group = target.group;
            m_replace = true;
            break;
        case OutputTargetInfo::Missing:
            m_permissions = newFilePermissions();
            m_replace = true;
            break;
        }
    }

    if (m_stream && writer == Writer::ThroughDevice) {
        m_device = std::make_unique<DescriptorDevice>(m_streamFd);
        return true;
    }
    // The temporary file lies beside the target, so that renaming it stays on one file system.
    // A device has no folder for it: the system's temporary folder has to do.
    if (m_stream) {
        if (const int error = openFolderLocation(systemTemporaryFolder(), &m_systemTemporary))
            return failInSystemTemporaryFolder(error);
    }
    if (const int error = createStaging(writer, m_stream ? m_systemTemporary : m_location)) {
        if (m_stream)
            return failInSystemTemporaryFolder(error);
        // A folder that takes no new file, around an existing file that the user may write:
        // the file is written in place, from a temporary file in the system's temporary folder.
        const bool refused = error == EACCES || error == EPERM;
        const bool existingFile = m_keepOwner;
        if (!refused || !existingFile)
            return failWithError(error);
        if (const int streamError = openStreamForWriting(m_location, &m_streamFd, true))
            return failWithError(streamError);
        m_ownsStreamFd = true;
        m_stream = true;
        m_replace = false;
        m_truncateFirst = true;
        if (const int folderError = openFolderLocation(systemTemporaryFolder(), &m_systemTemporary))
            return failInSystemTemporaryFolder(folderError);
        if (const int again = createStaging(writer, m_systemTemporary))
            return failInSystemTemporaryFolder(again);
    }
    m_device = std::make_unique<DescriptorDevice>(m_temporaryFd);
    return true;
}

int OutputFile::createStaging(Writer writer, const OutputLocation &folder)
{
    if (const int error = createTemporaryFile(folder, &m_temporaryName, &m_temporaryFd, &m_cleanupSlot))
        return error;
    m_stagingFolder = &folder;
    if (writer == Writer::ByName) {
        // The library opens the file by a path that reaches it, named or not, and makes its own
        // temporary files in the same folder (they lose their names as soon as they are made);
        // both paths go through the descriptors held, never through the look-up again.
        m_stagingPath = pathOfOpenFile(m_temporaryFd);
        m_helperFolder = pathOfOpenFile(folder.folderFd);
    }
    return 0;
}

QIODevice &OutputFile::device()
{
    Q_ASSERT(m_device);
    return *m_device;
}

bool OutputFile::commit()
{
    if (!m_device)
        return false; // open() failed and said why
    if (m_device->failed())
        return fail(m_device->errorString());
    if (m_replace) {
        // Before the permissions: a change of owner clears the set-user-ID and set-group-ID bits.
        if (m_keepOwner)
            takeOwnership(m_temporaryFd, m_owner, m_group);
        if (const int error = setFilePermissions(m_temporaryFd, m_permissions)) {
            // A volume without Unix permissions gives every file its own, as it does for cp.
            if (!isPermissionChangeUnsupported(error))
                return failWithError(error);
        }
        if (const int error = syncWrittenFile(m_temporaryFd, false))
            return failWithError(error);
        // A file without a name gets one only now, for the moment until it takes the target's.
        if (m_temporaryName.isEmpty()) {
            if (const int error = nameTemporaryFile(m_temporaryFd, m_location, &m_temporaryName, &m_cleanupSlot))
                return failWithError(error);
        }
        closeFile(m_temporaryFd);
        m_temporaryFd = -1;
        // A folder moved away or replaced meanwhile is no longer where the file was asked for:
        // the export fails rather than land elsewhere. The rename itself goes to the folder held.
        OutputLocation now;
        const int lookUpError = resolveOutputLocation(m_path, &now);
        const bool moved = lookUpError == 0 && !sameLocation(now, m_location);
        closeOutputLocation(&now);
        if (lookUpError || moved)
            return failWithError(lookUpError ? lookUpError : ENOENT);
        if (const int error = replaceFile(m_location, m_temporaryName))
            return failWithError(error);
        m_temporaryName.clear();
        // The rename itself reaches the disk with the folder; the file is in place either way.
        syncFolder(m_location);
    } else {
        if (m_temporaryFd >= 0) {
            if (m_truncateFirst) {
                if (const int error = replaceContentInPlace())
                    return failWithError(error);
            } else if (const int error = copyFileContent(m_temporaryFd, m_streamFd)) {
                return failWithError(error);
            }
        }
        if (const int error = syncWrittenFile(m_streamFd, true))
            return failWithError(error);
    }
    m_device.reset();
    discard();
    return true;
}

int OutputFile::replaceContentInPlace()
{
    // The file keeps its old content until the new one is sure to fit: its room is reserved
    // first, and a copy of the old content in the system's temporary folder puts it back
    // should the copy fail all the same after the file was emptied.
    qint64 newSize = 0;
    if (const int error = sizeOfOpenFile(m_temporaryFd, &newSize))
        return error;
    if (const int error = reserveFileSpace(m_streamFd, newSize))
        return error;
    QByteArray backupName;
    int backupFd = -1;
    int backupSlot = -1;
    if (const int error = createTemporaryFile(m_systemTemporary, &backupName, &backupFd, &backupSlot))
        return error;
    auto dropBackup = [&] {
        closeFile(backupFd);
        if (!backupName.isEmpty())
            removeFile(m_systemTemporary, backupName);
        unregisterFileToRemove(backupSlot);
        backupFd = -1;
        backupName.clear();
        backupSlot = -1;
    };
    if (const int error = copyFileContent(m_streamFd, backupFd)) {
        dropBackup();
        if (error != EBADF)
            return error; // a file the user may write but not read goes on with the room reserved
    }
    int error = truncateFile(m_streamFd);
    if (error == 0)
        error = copyFileContent(m_temporaryFd, m_streamFd);
    if (error != 0 && backupFd >= 0 && truncateFile(m_streamFd) == 0)
        copyFileContent(backupFd, m_streamFd);
    dropBackup();
    return error;
}

bool OutputFile::fail(const QString &reason)
{
    m_error = cannotCreateFileMessage(m_path, reason);
    discard();
    return false;
}

bool OutputFile::failWithError(int error)
{
    return fail(systemErrorText(error));
}

bool OutputFile::failInSystemTemporaryFolder(int error)
{
    // The reason is the temporary folder's (a TMPDIR that is missing or full), not the output's.
    return fail(
        formatText(QStringLiteral("%s (temporary folder \"%s\")"), {systemErrorText(error), systemTemporaryFolder()}));
}

void OutputFile::discard()
{
    m_device.reset();
    closeFile(m_temporaryFd);
    m_temporaryFd = -1;
    if (!m_temporaryName.isEmpty() && m_stagingFolder)
        removeFile(*m_stagingFolder, m_temporaryName);
    m_temporaryName.clear();
    m_stagingFolder = nullptr;
    m_stagingPath.clear();
    m_helperFolder.clear();
    unregisterFileToRemove(m_cleanupSlot);
    m_cleanupSlot = -1;
    if (m_ownsStreamFd)
        closeFile(m_streamFd);
    m_streamFd = -1;
    m_ownsStreamFd = false;
    m_stream = false;
    m_replace = false;
    m_keepOwner = false;
    m_truncateFirst = false;
    closeOutputLocation(&m_location);
    closeOutputLocation(&m_systemTemporary);
}
