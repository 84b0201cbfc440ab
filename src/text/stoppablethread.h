#pragma once

#include "text/helperthread.h"

#include <memory>
#include <stop_token>
#include <utility>

/**
 * Work on a HelperThread of its own that its owner can ask to stop: the work reads token(),
 * stop() asks it to end. Going out of scope asks the work to stop and waits for it, so an
 * owner that declares this as its last member never lets its other members go while the work
 * still uses them.
 */
class StoppableThread
{
public:
    StoppableThread() = default;
    StoppableThread(const StoppableThread &) = delete;
    StoppableThread &operator=(const StoppableThread &) = delete;
    ~StoppableThread()
    {
        stop();
        m_thread.reset(); // waits for the thread, which the stop ends within moments
    }

    /** Starts work on its thread (or, when the system refuses one, runs it here at once). */
    template<typename Work>
    void start(Work work)
    {
        m_thread = std::make_unique<HelperThread>(std::move(work));
    }
    /** Asks the work to end as soon as it can. */
    void stop() { m_stop.request_stop(); }
    std::stop_token token() const { return m_stop.get_token(); }
    /** Waits until the work has ended; a failure it did not handle is dropped. */
    void waitForEnd()
    {
        if (!m_thread)
            return;
        try {
            m_thread->join();
        } catch (...) {
            // The work reports its own failures; nothing else is left to tell.
        }
    }

private:
    std::stop_source m_stop;
    std::unique_ptr<HelperThread> m_thread;
};
