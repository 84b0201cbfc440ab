#pragma once

#include <QString>

/**
 * One line that describes the operating system: the distribution's name and the kernel's
 * version, "Name (Version x.y, Build n, 64-bit Edition)", e.g.
 * "Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 64-bit Edition)". Never fails.
 */
QString osDescription();

/**
 * The same line from its parts: osRelease is the text of an os-release file (its PRETTY_NAME,
 * else its NAME, else "Linux" names the system), kernelRelease a release such as
 * "6.1.0-18-amd64" (major, minor, then the patch level as the build; missing numbers are 0).
 */
QString osDescriptionFrom(const QString &osRelease, const QString &kernelRelease, bool is64Bit);
