#pragma once

#include <QString>

/** The per-user folder for application data: $XDG_CONFIG_HOME, or ~/.config when it is unset. */
QString perUserAppDataFolder();
