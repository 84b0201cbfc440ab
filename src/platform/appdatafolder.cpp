#include "platform/appdatafolder.h"

#include <QDir>

QString perUserAppDataFolder()
{
    // Only an absolute path counts, as the XDG base directory rules say.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.config");
}
