#pragma once

#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

/**
 * A second thread that does part of a job while the calling thread does the rest.
 *
 * join() waits for it and throws what its work threw (std::bad_alloc when memory ran out), so
 * that a failure reaches the job's own thread instead of ending the process. Should the
 * calling thread leave by an exception first, the helper is waited for when it goes out of
 * scope and its own failure is dropped: the first one is already on its way.
 *
 * When the system refuses a new thread (its limit on threads or on address space is reached),
 * the calling thread does the work at once instead: the job takes longer, its result is the
 * same. So the work must never wait for what the calling thread does after starting it.
 */
class HelperThread
{
public:
    /** What becomes of the work when the system refuses the thread. */
    enum class IfRefused {
        RunHere, // the calling thread does it at once
        Drop,    // nobody does it: the caller asks wasRefused() and does without
    };

    template<typename Work>
    explicit HelperThread(Work work, IfRefused ifRefused = IfRefused::RunHere)
        : m_work(std::move(work))
    {
        try {
            m_thread = std::jthread([this] { run(); });
        } catch (const std::system_error &) {
            m_refused = true;
            if (ifRefused == IfRefused::RunHere)
                run();
        }
    }
    // The running work refers to this object: it stays where it was made.
    HelperThread(const HelperThread &) = delete;
    HelperThread &operator=(const HelperThread &) = delete;

    /** Whether the system refused the thread. */
    bool wasRefused() const { return m_refused; }

    /** Waits for the work to end; throws what it threw. */
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_failure)
            std::rethrow_exception(std::exchange(m_failure, nullptr));
    }

private:
    void run()
    {
        try {
            m_work();
        } catch (...) {
            m_failure = std::current_exception();
        }
    }

    // Before m_thread: they exist before the work starts and stay until it has ended.
    std::exception_ptr m_failure;
    std::function<void()> m_work;
    bool m_refused = false;
    std::jthread m_thread; // joined when it goes out of scope
};
