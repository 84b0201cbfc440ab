#include "platform/processmarker.h"

#include <QByteArray>

#include <fcntl.h>
#include <semaphore.h>

void createProcessMarker(const char *name)
{
    // The handle is deliberately kept open until the process ends.
    sem_open((QByteArray("/") + name).constData(), O_CREAT, 0600, 1);
}
