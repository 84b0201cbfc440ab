#pragma once

#include <cstdio>

/** Whether the stream is connected to a terminal (a progress bar is then worth drawing). */
bool isTerminal(FILE *stream);
