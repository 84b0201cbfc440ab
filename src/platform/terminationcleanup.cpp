#include "platform/terminationcleanup.h"

#include "platform/filenames.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

/*
 * A fixed table, so that the handler touches nothing but plain memory and system calls, all
 * safe in a signal handler. A slot is Free, being Filled by one thread, or Ready for the handler.
 */
enum SlotState : int { Free, Filling, Ready };

struct Slot {
    std::atomic<int> state{Free};
    bool folder = false;
    char path[PATH_MAX];
};

std::array<Slot, 16> g_slots;

/* Removes the files in a folder with the bare system calls (readdir may allocate: not here). */
void removeFilesIn(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        // Each record: inode (8 bytes), offset (8), record length (2), type (1), name.
        for (long at = 0; at < got;) {
            unsigned short length = 0;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            const char *name = buffer + at + 19;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                ::unlinkat(fd, name, 0);
            at += length;
        }
    }
    ::close(fd);
}

void removeAndEnd(int signalNumber)
{
    for (Slot &slot : g_slots) {
        if (slot.state.load() != Ready)
            continue;
        if (slot.folder) {
            // Another thread may still be writing into the folder: empty it again until it goes.
            for (int attempt = 0; attempt < 100; ++attempt) {
                removeFilesIn(slot.path);
                if (::rmdir(slot.path) == 0 || errno != ENOTEMPTY)
                    break;
            }
        } else {
            ::unlink(slot.path);
        }
    }
    // SA_RESETHAND has put the default action back: the process ends as the signal asks.
    ::raise(signalNumber);
}

} // namespace

namespace {

/* The signals whose default action ends the process and that a handler can catch. */
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                  SIGPIPE, SIGPROF, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGPOLL};

} // namespace

void removeRegisteredFilesOnTermination()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kEndingSignals)
        sigaddset(&action.sa_mask, signalNumber);
    for (const int signalNumber : kEndingSignals) {
        // A signal that was ignored when the program started (nohup) stays ignored.
        struct sigaction before;
        if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

namespace {

int registerToRemove(const QString &path, bool folder)
{
    const QByteArray name = fileNameBytes(path);
    if (name.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < int(g_slots.size()); ++i) {
        Slot &slot = g_slots[size_t(i)];
        int expected = Free;
        if (!slot.state.compare_exchange_strong(expected, Filling))
            continue;
        std::memcpy(slot.path, name.constData(), size_t(name.size()) + 1);
        slot.folder = folder;
        slot.state.store(Ready);
        return i;
    }
    return -1;
}

} // namespace

int registerFileToRemove(const QString &path)
{
    return registerToRemove(path, false);
}

int registerFolderToRemove(const QString &path)
{
    return registerToRemove(path, true);
}

void unregisterFileToRemove(int slot)
{
    if (slot >= 0 && slot < int(g_slots.size()))
        g_slots[size_t(slot)].state.store(Free);
}
