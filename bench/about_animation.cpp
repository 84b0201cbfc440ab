// The CPU time the About window's animation costs: the process's user and system time, from
// getrusage, over a fixed stretch of wall time while the window is shown and animating (or,
// with --idle, while the same program runs its event loop without the window, the baseline).
//
//     tessaly_about_bench [--idle] [--seconds N]
//
// Prints one line: mode, wall seconds, CPU seconds, CPU as a percentage of one core, and the
// animation's ticks (20 a second when the timer keeps up).
#include "windows/aboutwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

namespace {

/* Runs the event loop for ms milliseconds. */
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

/* Whether the window is on the screen, waiting for it up to five seconds. */
bool waitForExposed(QWidget &window)
{
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 5000)
        runEvents(10);
    return window.windowHandle() && window.windowHandle()->isExposed();
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool idle = arguments.contains(QStringLiteral("--idle"));
    int seconds = 10;
    const qsizetype secondsAt = arguments.indexOf(QStringLiteral("--seconds"));
    if (secondsAt > 0 && secondsAt + 1 < arguments.size())
        seconds = arguments.at(secondsAt + 1).toInt();
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: tessaly_about_bench [--idle] [--seconds N]\n");
        return 2;
    }

    std::unique_ptr<AboutWindow> box;
    if (!idle) {
        box = std::make_unique<AboutWindow>(QStringLiteral("Tessaly"), QStringLiteral("2.3"));
        box->show();
        if (!waitForExposed(*box)) {
            std::fprintf(stderr, "the window was not shown\n");
            return 1;
        }
    }
    // Start-up, fonts and the first paint are behind us: measure the steady state only.
    runEvents(500);
    const int ticksBefore = box ? box->rain().rainTick() : 0;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const int ticks = box ? box->rain().rainTick() - ticksBefore : 0;
    std::printf("%s\twall_s=%.2f\tcpu_s=%.3f\tcpu_percent=%.2f\tticks=%d\n", idle ? "idle" : "about", elapsed, cpu,
                100.0 * cpu / elapsed, ticks);
    return 0;
}
