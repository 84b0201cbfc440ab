#include "platform/terminal.h"

#include <unistd.h>

bool isTerminal(FILE *stream)
{
    return stream && ::isatty(::fileno(stream)) != 0;
}
