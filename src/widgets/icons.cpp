#include "widgets/icons.h"

#include <QFileInfo>

/* The images are compiled into a static library; its resources must be registered by name. */
static void RegisterIconResources()
{
    Q_INIT_RESOURCE(tessaly_icons);
}

void InitIconResources()
{
    static const bool registered = [] {
        RegisterIconResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon RoleIcon(const QString &role)
{
    InitIconResources();
    QIcon icon;
    const QString small = QStringLiteral(":/icons/16/") + role + QStringLiteral(".png");
    const QString scalable = QStringLiteral(":/icons/") + role + QStringLiteral(".svg");
    if (QFileInfo::exists(small))
        icon.addFile(small, QSize(16, 16));
    if (QFileInfo::exists(scalable))
        icon.addFile(scalable);
    return icon;
}

QFont PixelFont(int pixels, const QString &family)
{
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}
