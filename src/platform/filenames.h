#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

/*
 * File names as the system has them: any bytes but "/" and NUL, not always UTF-8. Qt reads
 * and writes names as UTF-8 only, so a byte that is not part of a UTF-8 character would be
 * lost; here every such byte (0x80 to 0xFF) stands in the text as the unpaired surrogate
 * U+DC80 to U+DCFF, which no UTF-8 name can give, and goes back to its byte unchanged.
 */

/** The text of a name given as bytes (a command-line argument, a link's target), losslessly. */
QString fileNameFromBytes(QByteArrayView bytes);

/** The bytes of a name: fileNameFromBytes() undone, UTF-8 for everything else. */
QByteArray fileNameBytes(const QString &name);

/** Whether something exists at path, links followed (a dangling link: no). */
bool fileExists(const QString &path);

/** The size of the file at path, links followed, or -1. */
qint64 fileSizeAt(const QString &path);

/** Whether both paths lead to one existing file (the same device and inode), links followed. */
bool isSameFile(const QString &first, const QString &second);

/**
 * A path under which Qt's file classes reach the file at path: path itself when its bytes are
 * UTF-8, else the descriptor link /proc/self/fd/N of the file looked up here by its own bytes
 * (without opening its content). The path stays valid while the object lives; a file that
 * cannot be looked up keeps its own path, so that opening it fails as it would anyway.
 */
class FileForQt
{
public:
    explicit FileForQt(const QString &path);
    ~FileForQt();
    FileForQt(const FileForQt &) = delete;
    FileForQt &operator=(const FileForQt &) = delete;

    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
