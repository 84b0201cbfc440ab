#include "widgets/icons.h"

#include <QFileInfo>

/* The images are compiled into a static library; its resources must be registered by name. */
static void registerIconResources()
{
    Q_INIT_RESOURCE(tessaly_icons);
}

void initIconResources()
{
    static const bool registered = [] {
        registerIconResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon roleIcon(const QString &role)
{
    initIconResources();
    QIcon icon;
    const QString small = QStringLiteral(":/icons/16/") + role + QStringLiteral(".png");
    const QString scalable = QStringLiteral(":/icons/") + role + QStringLiteral(".svg");
    if (QFileInfo::exists(small))
        icon.addFile(small, QSize(16, 16));
    if (QFileInfo::exists(scalable))
        icon.addFile(scalable);
    return icon;
}

QFont pixelFont(int pixels, const QString &family)
{
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}
