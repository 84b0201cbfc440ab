#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <unistd.h>

/* Writes bytes to path (replacing the file) and returns the path; a test cannot go on otherwise. */
inline QString writeTestFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

/* The whole content of a file, or "<missing>". */
inline QByteArray readTestFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/*
 * The command run as the unprivileged user "nobody" when the tests run as root, so that
 * permission bits stop reads and writes as they would for a user; unchanged otherwise.
 */
inline QStringList asUnprivilegedUser(const QStringList &command)
{
    if (geteuid() != 0)
        return command;
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral("--")}
           + command;
}

/* The files under folder that this process holds open, by the names they had (a removed file included). */
inline QStringList openFilesIn(const QString &folder)
{
    QStringList open;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(descriptors.filePath(fd));
        if (target.startsWith(folder + u'/'))
            open.append(target);
    }
    return open;
}
