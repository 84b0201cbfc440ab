#pragma once

#include <exception>
#include <thread>
#include <utility>

/**
 * A second thread that does part of a job while the calling thread does the rest.
 *
 * join() waits for it and throws what its work threw (std::bad_alloc when memory ran out), so
 * that a failure reaches the job's own thread instead of ending the process. Should the
 * calling thread leave by an exception first, the helper is waited for when it goes out of
 * scope and its own failure is dropped: the first one is already on its way.
 */
class HelperThread
{
public:
    template<typename Work>
    explicit HelperThread(Work work)
        : m_thread([this, work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                m_failure = std::current_exception();
            }
        })
    {
    }
    // The running work refers to this object: it stays where it was made.
    HelperThread(const HelperThread &) = delete;
    HelperThread &operator=(const HelperThread &) = delete;

    /** Waits for the work to end; throws what it threw. */
    void join()
    {
        m_thread.join();
        if (m_failure)
            std::rethrow_exception(std::exchange(m_failure, nullptr));
    }

private:
    std::exception_ptr m_failure; // before m_thread: it exists before the work starts
    std::jthread m_thread;        // joined when it goes out of scope
};
