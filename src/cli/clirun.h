#pragma once

#include <QStringList>

#include <cstdio>

/** Exit statuses of tessaly-convert. */
enum CliExit { CliWritten = 0, CliNoData = 1, CliBadUsage = 2, CliNotWritten = 3 };

/**
 * Runs one conversion from the command line: loads every input in order (a missing one is
 * reported on err and the others are converted), converts, and prints the outcome. A
 * progress bar goes to err when showProgress is set.
 */
int runCli(const QStringList &arguments, FILE *out, FILE *err, bool showProgress);
