#pragma once

#include <atomic>
#include <cstdio>

/**
 * Opens a stdio stream, for reading and writing, on a new temporary file in folder (the
 * system's temporary folder when folder is null) that has no name: the file goes when the
 * stream is closed or the process ends, however it ends. Where the file system cannot make a
 * file without a name, the file gets one and loses it at once.
 *
 * The stream's bytes go to the file through fileCalls(). The first write that fails stores
 * its error number in *writeError (when it is not null and still 0), where it stays whatever
 * the stream's user does afterwards: rewind() clears the stream's own error flag, so a library
 * that never checks its writes cannot hide the loss. *closed (when closed is not null) is false
 * while the stream is open and true once it was closed, so that the owner of a library's
 * streams can close one that the library left open. Returns nullptr with errno set when the
 * file cannot be made.
 */
FILE *openTemporaryStream(const char *folder, std::atomic<int> *writeError, std::atomic<bool> *closed = nullptr);
