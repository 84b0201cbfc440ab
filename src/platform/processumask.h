#pragma once

/**
 * The process's file-mode creation mask. It is read once when the program starts and never
 * changed afterwards: the mask belongs to the whole process, so setting it (even only to read
 * it) while other threads create files would give their files the wrong permissions.
 */
unsigned processUmask();

/** The permission bits a newly created file gets: read and write for everyone less the mask. */
unsigned newFilePermissions();
