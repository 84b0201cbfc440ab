#include "platform/temporarystream.h"

#include "platform/filecalls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct StreamFile {
    int fd;
    std::atomic<int> *writeError;
    std::atomic<bool> *closed;
};

ssize_t readStream(void *cookie, char *buffer, size_t size)
{
    const int fd = static_cast<StreamFile *>(cookie)->fd;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

ssize_t writeStream(void *cookie, const char *data, size_t size)
{
    auto *file = static_cast<StreamFile *>(cookie);
    const qint64 written = fileCalls().write(file->fd, data, qint64(size));
    if (written > 0)
        return ssize_t(written);
    const int error = written < 0 ? errno : EIO;
    if (file->writeError) {
        int none = 0;
        file->writeError->compare_exchange_strong(none, error);
    }
    errno = error;
    return -1;
}

int seekStream(void *cookie, off64_t *offset, int whence)
{
    const off64_t at = ::lseek64(static_cast<StreamFile *>(cookie)->fd, *offset, whence);
    if (at < 0)
        return -1;
    *offset = at;
    return 0;
}

int closeStream(void *cookie)
{
    auto *file = static_cast<StreamFile *>(cookie);
    const int result = ::close(file->fd);
    if (file->closed)
        file->closed->store(true);
    delete file;
    return result;
}

/*
 * A new file without a name in folder, or with one that is removed at once; -1 with errno set.
 * A folder removed meanwhile gives ENOENT, also where the kernel refuses the nameless file in it
 * otherwise (a folder given as the path of a descriptor that still holds it).
 */
int createNamelessFile(const char *folder)
{
    const int fd = ::open(folder, O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EPERM) {
        struct stat status;
        if (::stat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_nlink == 0)
            errno = ENOENT;
        else
            errno = EPERM;
        return -1;
    }
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string name = std::string(folder) + "/.tessaly-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

} // namespace

FILE *openTemporaryStream(const char *folder, std::atomic<int> *writeError, std::atomic<bool> *closed)
{
    if (!folder || !*folder) {
        const char *system = std::getenv("TMPDIR");
        folder = system && *system ? system : "/tmp";
    }
    const int fd = createNamelessFile(folder);
    if (fd < 0)
        return nullptr;
    auto *file = new StreamFile{fd, writeError, closed};
    FILE *stream = ::fopencookie(file, "w+", {readStream, writeStream, seekStream, closeStream});
    if (!stream) {
        const int error = errno;
        ::close(fd);
        delete file;
        errno = error;
    } else if (closed) {
        closed->store(false);
    }
    return stream;
}
