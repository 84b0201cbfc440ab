#include "platform/outputtarget.h"

#include "platform/terminationcleanup.h"

#include "platform/filecalls.h"
#include "platform/filenames.h"

#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

QByteArray nativeName(const QString &path)
{
    return fileNameBytes(path);
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

namespace {

/* Whether fs.protected_symlinks is on; where it cannot be read, it counts as on. */
bool symlinksProtected()
{
    const int fd = ::open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char value = '1';
    const ssize_t got = ::read(fd, &value, 1);
    ::close(fd);
    return got != 1 || value != '0';
}

/*
 * The kernel's rule for following a link (may_follow_link): with fs.protected_symlinks on, a
 * link in a sticky world-writable folder is followed only by its owner, or when the folder's
 * owner owns it too. Applied to the link and folder the look-up holds, it judges the very link
 * that is followed.
 */
bool mayFollowLink(const struct stat &link, const struct stat &folder, bool protectedLinks)
{
    if (!protectedLinks || link.st_uid == ::geteuid())
        return true;
    if ((folder.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH))
        return true;
    return folder.st_uid == link.st_uid;
}

/* The path the kernel gives the folder open at fd, or fallback where /proc cannot say. */
QString kernelPathOf(int fd, const QString &fallback)
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink(nativeName(pathOfOpenFile(fd)).constData(), target.data(), size_t(target.size()));
    if (length <= 0 || length >= target.size() || target.at(0) != '/')
        return fallback;
    return fileNameFromBytes(target.first(length));
}

/* Replaces the descriptor *held with next, closing the one it held. */
void hold(int *held, int next)
{
    if (*held >= 0)
        ::close(*held);
    *held = next;
}

QList<QByteArray> componentsOf(const QByteArray &path)
{
    QList<QByteArray> components;
    for (const QByteArray &part : path.split('/')) {
        if (!part.isEmpty() && part != ".")
            components.append(part);
    }
    return components;
}

} // namespace

int resolveOutputLocation(const QString &path, OutputLocation *location)
{
    closeOutputLocation(location);
    const QByteArray bytes = nativeName(path);
    if (bytes.isEmpty())
        return ENOENT;
    if (bytes.endsWith('/') || bytes.endsWith("/.") || bytes.endsWith("/..") || bytes == "." || bytes == "..")
        return EISDIR;
    const bool protectedLinks = symlinksProtected();
    int folder = ::open(bytes.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return errno;
    QList<QByteArray> pending = componentsOf(bytes);
    int links = 0;
    while (!pending.isEmpty()) {
        const QByteArray component = pending.takeFirst();
        const bool last = pending.isEmpty();
        if (component == "..") {
            const int parent = ::openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (parent < 0) {
                const int error = errno;
                ::close(folder);
                return error;
            }
            hold(&folder, parent);
            if (last) {
                ::close(folder);
                return EISDIR; // a link that ends in ".."
            }
            continue;
        }
        const int entry = ::openat(folder, component.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (entry < 0 && errno == ENOENT && last) {
            // Nothing there yet: the file is created under this name.
            location->folderFd = folder;
            location->name = component;
            location->folderPath = kernelPathOf(folder, QString());
            return 0;
        }
        if (entry < 0) {
            const int error = errno;
            ::close(folder);
            return error;
        }
        struct stat entryStatus;
        if (::fstat(entry, &entryStatus) != 0) {
            const int error = errno;
            ::close(entry);
            ::close(folder);
            return error;
        }
        if (S_ISLNK(entryStatus.st_mode)) {
            struct stat folderStatus;
            int error = ::fstat(folder, &folderStatus) != 0 ? errno : 0;
            if (error == 0 && !mayFollowLink(entryStatus, folderStatus, protectedLinks))
                error = EACCES;
            // The same limit as the kernel's for one path.
            if (error == 0 && ++links > 40)
                error = ELOOP;
            QByteArray target(qsizetype(entryStatus.st_size > 0 ? entryStatus.st_size : 4096) + 1, Qt::Uninitialized);
            ssize_t length = 0;
            if (error == 0) {
                // The link is read through the descriptor the rule was applied to.
                length = ::readlinkat(entry, "", target.data(), size_t(target.size()));
                if (length < 0)
                    error = errno;
                else if (length >= target.size() || length == 0)
                    error = ENOENT;
            }
            ::close(entry);
            if (error) {
                ::close(folder);
                return error;
            }
            target.truncate(length);
            if (target.startsWith('/')) {
                const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
                if (root < 0) {
                    const int rootError = errno;
                    ::close(folder);
                    return rootError;
                }
                hold(&folder, root);
            }
            if (target.endsWith('/') || target.endsWith("/.") || target.endsWith("/..") || target == "."
                || target == "..") {
                if (last) {
                    ::close(folder);
                    return EISDIR;
                }
            }
            pending = componentsOf(target) + pending;
            if (pending.isEmpty()) {
                ::close(folder);
                return EISDIR; // a link to "/"
            }
            continue;
        }
        if (last) {
            ::close(entry);
            location->folderFd = folder;
            location->name = component;
            location->folderPath = kernelPathOf(folder, QString());
            return 0;
        }
        if (!S_ISDIR(entryStatus.st_mode)) {
            ::close(entry);
            ::close(folder);
            return ENOTDIR;
        }
        hold(&folder, entry);
    }
    ::close(folder);
    return EISDIR; // the path named no component at all ("/")
}

bool sameLocation(const OutputLocation &first, const OutputLocation &second)
{
    struct stat one, other;
    if (::fstat(first.folderFd, &one) != 0 || ::fstat(second.folderFd, &other) != 0)
        return false;
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino && first.name == second.name;
}

void closeOutputLocation(OutputLocation *location)
{
    if (location->folderFd >= 0)
        ::close(location->folderFd);
    *location = OutputLocation();
}

int openFolderLocation(const QString &path, OutputLocation *location)
{
    closeOutputLocation(location);
    const int fd = ::open(nativeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    location->folderFd = fd;
    location->folderPath = kernelPathOf(fd, path);
    return 0;
}

int inspectOutputTarget(const OutputLocation &location, OutputTargetInfo *info)
{
    *info = OutputTargetInfo();
    struct stat status;
    if (::fstatat(location.folderFd, location.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISLNK(status.st_mode))
        return ELOOP; // a link put there since the look-up: nothing is written through it
    if (S_ISDIR(status.st_mode)) {
        info->kind = OutputTargetInfo::Folder;
    } else if (S_ISREG(status.st_mode)) {
        info->kind = OutputTargetInfo::RegularFile;
        info->permissions = unsigned(status.st_mode & 07777);
        info->owner = unsigned(status.st_uid);
        info->group = unsigned(status.st_gid);
        // With the effective ids, as opening the file would check them.
        if (::faccessat(location.folderFd, location.name.constData(), W_OK, AT_EACCESS) != 0)
            info->writeError = errno;
    } else {
        info->kind = OutputTargetInfo::Stream;
    }
    return 0;
}

namespace {

/* A new name: ".tessaly-" and six random letters, then suffix. */
QByteArray temporaryName(const QByteArray &suffix)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(".tessaly-");
    for (int i = 0; i < 6; ++i)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
    return name + suffix;
}

QString pathIn(const QString &folder, const QByteArray &name)
{
    return (folder.endsWith(u'/') ? folder : folder + u'/') + fileNameFromBytes(name);
}

/*
 * Creates a file or folder under a new name in folder, tried until one is free. Each name is
 * registered for removal on termination before it is created, so that a signal in between
 * cannot leave it behind; create returns 0 or errno.
 */
template<typename Create>
int createUnderNewName(const QString &folderPath, const QByteArray &suffix, bool isFolder, QByteArray *name,
                       int *cleanupSlot, const Create &create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = temporaryName(suffix);
        const QString path = pathIn(folderPath, candidate);
        const int slot = isFolder ? registerFolderToRemove(path) : registerFileToRemove(path);
        const int error = create(candidate);
        if (error == 0) {
            *name = candidate;
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

int createTemporaryFile(const OutputLocation &folder, QByteArray *name, int *fd, int *cleanupSlot)
{
    const int nameless = ::openat(folder.folderFd, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (nameless >= 0) {
        *fd = nameless;
        name->clear();
        *cleanupSlot = -1;
        return 0;
    }
    // EOPNOTSUPP: the file system has no such files; EISDIR: a kernel that does not know them.
    if (errno != EOPNOTSUPP && errno != EISDIR)
        return errno;
    const int folderFd = folder.folderFd;
    return createUnderNewName(folder.folderPath, ".tmp", false, name, cleanupSlot,
                              [fd, folderFd](const QByteArray &candidate) {
                                  *fd = ::openat(folderFd, candidate.constData(),
                                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
                                  return *fd >= 0 ? 0 : errno;
                              });
}

QString pathOfOpenFile(int fd)
{
    return QStringLiteral("/proc/self/fd/") + QString::number(fd);
}

int nameTemporaryFile(int fd, const OutputLocation &folder, QByteArray *name, int *cleanupSlot)
{
    const QByteArray open = nativeName(pathOfOpenFile(fd));
    const int folderFd = folder.folderFd;
    return createUnderNewName(
        folder.folderPath, ".tmp", false, name, cleanupSlot, [&open, folderFd](const QByteArray &candidate) {
            return ::linkat(AT_FDCWD, open.constData(), folderFd, candidate.constData(), AT_SYMLINK_FOLLOW) == 0
                       ? 0
                       : errno;
        });
}

int createTemporaryFolder(const QString &parent, QString *path, int *cleanupSlot)
{
    QByteArray name;
    const QByteArray parentBytes = nativeName(parent);
    const int error = createUnderNewName(
        parent, QByteArray(), true, &name, cleanupSlot, [&parentBytes](const QByteArray &candidate) {
            return ::mkdir((parentBytes + '/' + candidate).constData(), 0700) == 0 ? 0 : errno;
        });
    if (error == 0)
        *path = pathIn(parent, name);
    return error;
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

int openStreamForWriting(const OutputLocation &location, int *fd, bool alsoRead)
{
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    int opened = alsoRead ? ::openat(location.folderFd, location.name.constData(), O_RDWR | flags) : -1;
    if (opened < 0)
        opened = ::openat(location.folderFd, location.name.constData(), O_WRONLY | flags);
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

int sizeOfOpenFile(int fd, qint64 *size)
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return errno;
    *size = qint64(status.st_size);
    return 0;
}

int reserveFileSpace(int fd, qint64 size)
{
    if (size <= 0)
        return 0;
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(size)) == 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // No reservation here: the blocks the file lacks must at least be free now.
    struct stat status;
    struct statvfs volume;
    if (::fstat(fd, &status) != 0 || ::fstatvfs(fd, &volume) != 0)
        return errno;
    const qint64 held = qint64(status.st_blocks) * 512;
    const qint64 free = qint64(volume.f_bavail) * qint64(volume.f_frsize);
    return size - held > free ? ENOSPC : 0;
}

int setFilePermissions(int fd, unsigned mode)
{
    return fileCalls().setMode(fd, mode) == 0 ? 0 : errno;
}

bool isPermissionChangeUnsupported(int error)
{
    return error == ENOSYS || error == EPERM || error == EOPNOTSUPP;
}

int takeOwnership(int fd, unsigned owner, unsigned group)
{
    if (::fchown(fd, uid_t(owner), gid_t(group)) == 0)
        return 0;
    return ::fchown(fd, uid_t(-1), gid_t(group)) == 0 ? 0 : errno;
}

int replaceFile(const OutputLocation &location, const QByteArray &from)
{
    return ::renameat(location.folderFd, from.constData(), location.folderFd, location.name.constData()) == 0 ? 0
                                                                                                              : errno;
}

int removeFile(const OutputLocation &folder, const QByteArray &name)
{
    return ::unlinkat(folder.folderFd, name.constData(), 0) == 0 || errno == ENOENT ? 0 : errno;
}

void closeFile(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int syncFolder(const OutputLocation &folder)
{
    // A descriptor opened with O_PATH cannot be synced: the folder is opened again through it.
    const int fd = ::openat(folder.folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
