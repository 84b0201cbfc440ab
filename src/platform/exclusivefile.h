#pragma once

#include <QString>

/**
 * Creates the file at path exclusively (failing when any file of that name exists), then
 * closes and removes it at once. Returns whether the creation succeeded.
 */
bool createAndRemoveExclusiveFile(const QString &path);
