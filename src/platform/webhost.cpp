#include "platform/webhost.h"

#ifndef TESSALY_WEB_HOST_DEFAULT
#error "TESSALY_WEB_HOST_DEFAULT must be defined by the build"
#endif

QString webHost()
{
    const QString configured = qEnvironmentVariable("TESSALY_WEB_HOST");
    return configured.isEmpty() ? QStringLiteral(TESSALY_WEB_HOST_DEFAULT) : configured;
}
