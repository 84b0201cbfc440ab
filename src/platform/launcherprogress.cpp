#include "platform/launcherprogress.h"

#include <QVariantMap>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include <algorithm>

QString launcherAppUri()
{
    return QStringLiteral("application://tessaly.desktop");
}

QString launcherObjectPath()
{
    // Object path elements allow only [A-Za-z0-9_]; the desktop file's name, so mangled,
    // keeps the path stable from run to run.
    return QStringLiteral("/com/canonical/unity/launcherentry/tessaly_desktop");
}

void setLauncherProgress(int value)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    value = std::clamp(value, 0, 100);
    QDBusMessage signal = QDBusMessage::createSignal(
        launcherObjectPath(), QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), double(value) / 100.0);
    properties.insert(QStringLiteral("progress-visible"), value != 0);
    signal << launcherAppUri() << properties;
    bus.send(signal);
}
