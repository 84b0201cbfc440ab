#include "platform/terminationsignal.h"

#include <QSocketNotifier>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler may only write to a descriptor; the event loop reads the other end.
int g_signalSocket[2] = {-1, -1};

extern "C" void noteTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
}

} // namespace

bool onTerminationSignal(QObject *context, std::function<void()> handler)
{
    if (g_signalSocket[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        char byte = 0;
        if (::read(g_signalSocket[1], &byte, 1) == 1)
            handler();
    });
    struct sigaction action = {};
    action.sa_handler = noteTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}
