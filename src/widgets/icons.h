#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

/*
 * The program's bundled images: icons by their role in the windows (":/icons/16/<role>.png"
 * for menus, ":/icons/<role>.svg" for big buttons) and flags by country code
 * (":/flags/<code>.png", 16 by 11 pixels).
 */

/** Registers the bundled images; every window calls it before it uses one. Cheap after the first call. */
void initIconResources();

/** The icon of a role: the 16-pixel image for menus and the scalable one for buttons, where the role has them. */
QIcon roleIcon(const QString &role);

/** A font of the given family at a size in pixels (the windows are laid out in pixels). */
QFont pixelFont(int pixels, const QString &family = QStringLiteral("Tahoma"));
