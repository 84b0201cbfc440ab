#pragma once

/**
 * Creates the system-wide marker object of the given name (a named POSIX semaphore) and keeps
 * it for the life of the process. Whether it existed before, or could be made at all, is not
 * examined: a second instance runs like the first.
 */
void createProcessMarker(const char *name);
