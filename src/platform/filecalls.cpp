#include "platform/filecalls.h"

#include <atomic>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

FileCalls::~FileCalls() = default;

qint64 FileCalls::write(int fd, const char *data, qint64 size)
{
    for (;;) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written >= 0 || errno != EINTR)
            return written;
    }
}

int FileCalls::sync(int fd)
{
    return ::fsync(fd);
}

int FileCalls::setMode(int fd, unsigned mode)
{
    return ::fchmod(fd, mode_t(mode & 07777));
}

namespace {

FileCalls g_systemCalls;
std::atomic<FileCalls *> g_calls{&g_systemCalls};

} // namespace

FileCalls &fileCalls()
{
    return *g_calls.load(std::memory_order_acquire);
}

void setFileCalls(FileCalls *calls)
{
    g_calls.store(calls ? calls : &g_systemCalls, std::memory_order_release);
}
