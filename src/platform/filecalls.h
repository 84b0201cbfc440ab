#pragma once

#include <QtGlobal>

/**
 * The calls that put an output file's bytes on disk and give it its permissions. Every writer
 * of output files goes through fileCalls(), so that a test can put its own calls in place and
 * make a write or a sync fail the way a full or failing disk would, or a change of permissions
 * the way a file system without Unix permissions refuses it.
 */
class FileCalls
{
public:
    virtual ~FileCalls();
    /** write(2), retried when a signal interrupts it: bytes written, or -1 with errno set. */
    virtual qint64 write(int fd, const char *data, qint64 size);
    /** fsync(2): 0, or -1 with errno set. */
    virtual int sync(int fd);
    /** fchmod(2) with the permission bits (07777) of mode: 0, or -1 with errno set. */
    virtual int setMode(int fd, unsigned mode);
};

/** The calls in use: the system's, unless a test has put others in place. */
FileCalls &fileCalls();

/** Puts calls in place for every later write (nullptr: the system's again). Set it only while no file is written. */
void setFileCalls(FileCalls *calls);
