// How long an export takes to end once it is asked to stop, at each of its stages.
//
//     tessaly_stop_bench INPUT.vcf OUTPUT [DELAY_MS...]
//
// Loads INPUT.vcf once, then for each delay runs a default export to OUTPUT on a second
// thread, asks it to stop after that many milliseconds and prints the stage it was in and
// how long it took from the request until the export had returned (its temporary file gone).

#include "engine/conversionjob.h"
#include "engine/loading.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

/* Notes the stage an export is in; nothing else. */
class StageWatch final : public ExportEvents
{
public:
    std::atomic<int> stage{int(ExportStage::Reading)};
    std::atomic<int> percent{0};

    void progressed(ExportStage at, int value) override
    {
        stage = int(at);
        percent = value;
    }
    void messageReady(const ExportMessage &) override { }
};

const char *stageName(int stage)
{
    static const char *const names[] = {"reading", "building rows", "writing", "done"};
    return names[stage];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: tessaly_stop_bench INPUT.vcf OUTPUT [DELAY_MS...]\n");
        return 2;
    }
    LoadedVcards loaded;
    if (appendVcfFile(arguments.at(1), TextEncoding::Utf8, loaded).kind != LoadOutcome::Loaded) {
        std::fprintf(stderr, "could not load %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QList<int> delays;
    for (qsizetype i = 3; i < arguments.size(); ++i)
        delays.append(arguments.at(i).toInt());
    if (delays.isEmpty())
        delays = {50, 200, 400, 700, 1000, 1400, 1800};

    ExportRequest request;
    request.fileType = ExportType::Csv;
    request.exportFileName = arguments.at(2);
    std::printf("%8s  %-14s  %7s  %10s  %s\n", "delay ms", "stage", "percent", "stop ms", "outcome");
    for (const int delay : delays) {
        StageWatch watch;
        std::stop_source stop;
        ExportOutcome outcome = ExportOutcome::Written;
        QElapsedTimer sinceRequest;
        std::thread exporter([&] { outcome = runExport(loaded.loadedLines, request, watch, stop.get_token()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        const int stage = watch.stage;
        const int percent = watch.percent;
        sinceRequest.start();
        stop.request_stop();
        exporter.join();
        const double stopMs = sinceRequest.nsecsElapsed() / 1e6;
        const char *result = outcome == ExportOutcome::Stopped ? "stopped" : "ended before the stop";
        std::printf("%8d  %-14s  %7d  %10.1f  %s\n", delay, stageName(stage), percent, stopMs, result);
        std::fflush(stdout);
    }
    return 0;
}
