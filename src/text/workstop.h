#pragma once

#include <exception>
#include <stop_token>

/**
 * Thrown out of long work when whoever started it asked it to stop. What the work made so far
 * goes on the way out: an output file that was not committed is removed with its writer.
 */
class WorkStopped : public std::exception
{
public:
    const char *what() const noexcept override { return "the work was stopped"; }
};

/** Throws WorkStopped when a stop was requested; a load of one flag, cheap enough for every step of a loop. */
inline void throwIfStopRequested(const std::stop_token &stop)
{
    if (stop.stop_requested())
        throw WorkStopped();
}
