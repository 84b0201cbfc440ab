#pragma once

#include <QString>

/*
 * Progress on the program's taskbar button or dock entry.
 *
 * Desktops that show progress on a launcher (KDE Plasma, Dash to Dock, Plank and others)
 * listen for the launcher-entry signal "com.canonical.Unity.LauncherEntry.Update" on the
 * session bus; the signal names the program by its desktop file.
 */

/** The application URI the signals carry: "application://tessaly.desktop". */
QString launcherAppUri();

/** The object path the signals are sent from. */
QString launcherObjectPath();

/**
 * Shows value (0 to 100) on the launcher entry: any other value than 0 shows the progress,
 * 0 hides it ("progress-visible" false). Values outside 0..100 are clamped. Without a
 * session bus nothing happens and nothing is reported.
 */
void setLauncherProgress(int value);
