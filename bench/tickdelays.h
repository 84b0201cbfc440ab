#pragma once

// How late the ticks of a 5 ms timer on the window's thread come: the longest the thread stood
// still, for the benchmarks of the windows.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

class TickDelays
{
public:
    /** clock is the benchmark's own; onLargest is called when a new largest delay has ended. */
    explicit TickDelays(const QElapsedTimer &clock, std::function<void()> onLargest = {})
        : m_clock(clock)
        , m_onLargest(std::move(onLargest))
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(5);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { tick(); });
    }

    /** Starts counting from now on the clock. */
    void start()
    {
        m_last = m_clock.nsecsElapsed();
        m_ticker.start();
    }
    void stop() { m_ticker.stop(); }

    std::size_t count() const { return m_delays.size(); }
    qint64 largestNs() const { return m_largest; }
    /** When the largest delay ended, on the clock. */
    qint64 largestEndedNs() const { return m_largestEnded; }
    /** The delay at fraction p (0 to 1) of the sorted delays, in milliseconds. */
    double percentileMs(double p) const
    {
        if (m_delays.empty())
            return 0.0;
        std::vector<qint64> sorted = m_delays;
        std::sort(sorted.begin(), sorted.end());
        return double(sorted[std::size_t(p * double(sorted.size() - 1))]) / 1e6;
    }

private:
    void tick()
    {
        constexpr qint64 kIntervalNs = 5'000'000;
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 delay = std::max<qint64>(0, now - m_last - kIntervalNs);
        m_delays.push_back(delay);
        if (delay > m_largest) {
            m_largest = delay;
            m_largestEnded = now;
            if (m_onLargest)
                m_onLargest();
        }
        m_last = now;
    }

    const QElapsedTimer &m_clock;
    std::function<void()> m_onLargest;
    QTimer m_ticker;
    std::vector<qint64> m_delays;
    qint64 m_last = 0;
    qint64 m_largest = 0;
    qint64 m_largestEnded = 0;
};
