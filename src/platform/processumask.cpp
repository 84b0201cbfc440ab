#include "platform/processumask.h"

#include <QFile>

#include <sys/stat.h>

namespace {

/* The mask as the kernel reports it in /proc/self/status ("Umask:\t0022"), or -1. */
int umaskFromProcStatus()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    while (!status.atEnd()) {
        const QByteArray line = status.readLine();
        if (line.startsWith("Umask:")) {
            bool ok = false;
            const int mask = line.mid(6).trimmed().toInt(&ok, 8);
            return ok ? mask : -1;
        }
    }
    return -1;
}

unsigned readUmask()
{
    const int reported = umaskFromProcStatus();
    if (reported >= 0)
        return unsigned(reported);
    // Without /proc the only way to read the mask is to set it and put it back. This runs while
    // the program starts, before any thread of ours exists.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return unsigned(mask);
}

} // namespace

unsigned processUmask()
{
    static const unsigned mask = readUmask();
    return mask;
}

unsigned newFilePermissions()
{
    return 0666u & ~processUmask();
}

// Read while the program starts, so that no thread ever needs to.
[[maybe_unused]] static const unsigned g_maskAtStartup = processUmask();
