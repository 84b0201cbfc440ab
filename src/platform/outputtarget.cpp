#include "platform/outputtarget.h"

#include "platform/terminationcleanup.h"

#include "platform/filecalls.h"
#include "platform/filenames.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativeName(const QString &path)
{
    return fileNameBytes(path);
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.first(slash);
}

/* Writes all bytes through the file calls; 0 or the error number. */
int writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = fileCalls().write(fd, data, size);
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        data += written;
        size -= written;
    }
    return 0;
}

} // namespace

int resolveSymbolicLinks(const QString &path, QString *resolved)
{
    // The kernel follows the links the way opening the path would, and refuses those its rules
    // forbid (fs.protected_symlinks: a link planted by another user in a sticky world-writable
    // folder such as /tmp); O_PATH opens nothing, so a device or FIFO is left alone. A link
    // whose file does not exist yet is no failure: the file is created.
    const int kernelView = ::open(nativeName(path).constData(), O_PATH | O_CLOEXEC);
    if (kernelView < 0 && errno != ENOENT)
        return errno;
    if (kernelView >= 0)
        ::close(kernelView);
    QString current = path;
    // The same limit as the kernel's for one path.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat info;
        if (::lstat(nativeName(current).constData(), &info) != 0) {
            if (errno != ENOENT)
                return errno;
            *resolved = current; // nothing there yet: the file is created at this path
            return 0;
        }
        if (!S_ISLNK(info.st_mode)) {
            *resolved = current;
            return 0;
        }
        QByteArray target(qsizetype(info.st_size > 0 ? info.st_size : 4096) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(nativeName(current).constData(), target.data(), size_t(target.size()));
        if (length < 0)
            return errno;
        if (length >= target.size())
            return ENAMETOOLONG; // the link changed while it was read
        const QString link = fileNameFromBytes(target.first(length));
        current = link.startsWith(u'/') ? link : folderOf(current) + u'/' + link;
    }
    return ELOOP;
}

int inspectOutputTarget(const QString &path, OutputTargetInfo *info)
{
    *info = OutputTargetInfo();
    const QByteArray name = nativeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(status.st_mode)) {
        info->kind = OutputTargetInfo::Folder;
    } else if (S_ISREG(status.st_mode)) {
        info->kind = OutputTargetInfo::RegularFile;
        info->permissions = unsigned(status.st_mode & 07777);
        info->owner = unsigned(status.st_uid);
        info->group = unsigned(status.st_gid);
        // With the effective ids, as opening the file would check them.
        if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0)
            info->writeError = errno;
    } else {
        info->kind = OutputTargetInfo::Stream;
    }
    return 0;
}

namespace {

/* A new name in folder: ".tessaly-" and six random letters, then suffix. */
QString temporaryName(const QString &folder, const QString &suffix)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = (folder.endsWith(u'/') ? folder : folder + u'/') + QStringLiteral(".tessaly-");
    for (int i = 0; i < 6; ++i)
        name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
    return name + suffix;
}

/*
 * Creates a file or folder under a new name, tried until one is free. Each name is registered
 * for removal on termination before it is created, so that a signal in between cannot leave
 * it behind; create returns 0 or errno.
 */
template<typename Create>
int createUnderNewName(const QString &folder, const QString &suffix, bool isFolder, QString *path, int *cleanupSlot,
                       const Create &create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = temporaryName(folder, suffix);
        const int slot = isFolder ? registerFolderToRemove(candidate) : registerFileToRemove(candidate);
        const int error = create(nativeName(candidate));
        if (error == 0) {
            *path = candidate;
            *cleanupSlot = slot;
            return 0;
        }
        unregisterFileToRemove(slot);
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

} // namespace

int createTemporaryFile(const QString &folder, QString *path, int *fd, int *cleanupSlot)
{
    const int nameless = ::open(nativeName(folder).constData(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (nameless >= 0) {
        *fd = nameless;
        path->clear();
        *cleanupSlot = -1;
        return 0;
    }
    // EOPNOTSUPP: the file system has no such files; EISDIR: a kernel that does not know them.
    if (errno != EOPNOTSUPP && errno != EISDIR)
        return errno;
    return createUnderNewName(folder, QStringLiteral(".tmp"), false, path, cleanupSlot, [fd](const QByteArray &name) {
        *fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        return *fd >= 0 ? 0 : errno;
    });
}

QString pathOfOpenFile(int fd)
{
    return QStringLiteral("/proc/self/fd/") + QString::number(fd);
}

int nameTemporaryFile(int fd, const QString &folder, QString *path, int *cleanupSlot)
{
    const QByteArray open = nativeName(pathOfOpenFile(fd));
    return createUnderNewName(
        folder, QStringLiteral(".tmp"), false, path, cleanupSlot, [&open](const QByteArray &name) {
            return ::linkat(AT_FDCWD, open.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
        });
}

int createTemporaryFolder(const QString &parent, QString *path, int *cleanupSlot)
{
    return createUnderNewName(parent, QString(), true, path, cleanupSlot,
                              [](const QByteArray &name) { return ::mkdir(name.constData(), 0700) == 0 ? 0 : errno; });
}

void removeFolderWithFiles(const QString &path)
{
    const QByteArray name = nativeName(path);
    if (DIR *folder = ::opendir(name.constData())) {
        while (const dirent *entry = ::readdir(folder)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
        ::closedir(folder);
    }
    ::rmdir(name.constData());
}

int openStreamForWriting(const QString &path, int *fd)
{
    const int opened = ::open(nativeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (opened < 0)
        return errno;
    *fd = opened;
    return 0;
}

int truncateFile(int fd)
{
    if (::ftruncate(fd, 0) != 0)
        return errno;
    return ::lseek(fd, 0, SEEK_SET) < 0 ? errno : 0;
}

int setFilePermissions(int fd, unsigned mode)
{
    return ::fchmod(fd, mode_t(mode & 07777)) == 0 ? 0 : errno;
}

int takeOwnership(int fd, unsigned owner, unsigned group)
{
    if (::fchown(fd, uid_t(owner), gid_t(group)) == 0)
        return 0;
    return ::fchown(fd, uid_t(-1), gid_t(group)) == 0 ? 0 : errno;
}

int replaceFile(const QString &from, const QString &to)
{
    return ::rename(nativeName(from).constData(), nativeName(to).constData()) == 0 ? 0 : errno;
}

int removeFile(const QString &path)
{
    return ::unlink(nativeName(path).constData()) == 0 || errno == ENOENT ? 0 : errno;
}

void closeFile(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int syncFolder(const QString &folder)
{
    const int fd = ::open(nativeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

int syncWrittenFile(int fd, bool writtenInPlace)
{
    if (fileCalls().sync(fd) == 0)
        return 0;
    const int error = errno;
    const bool unsupported = error == EINVAL || error == EOPNOTSUPP || error == ENOTTY;
    return writtenInPlace && unsupported ? 0 : error;
}

int copyFileContent(int fromFd, int toFd)
{
    if (::lseek(fromFd, 0, SEEK_SET) < 0)
        return errno;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(fromFd, buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (const int error = writeAll(toFd, buffer.constData(), got))
            return error;
    }
}

int lastSystemError()
{
    return errno;
}

void clearSystemError()
{
    errno = 0;
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
