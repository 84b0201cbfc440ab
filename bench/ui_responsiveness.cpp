// How responsive the main window stays while it exports a large address book.
//
//     tessaly_ui_bench INPUT.vcf OUTPUT.csv
//
// Loads INPUT.vcf into the window, then starts a default CSV export to OUTPUT.csv from the
// export menu's entry, as a user would, while a 5 ms timer on the window's thread notes how
// late each of its ticks comes. The largest delay is the longest the window stood still.

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"

#include "tickdelays.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 3) {
        std::fprintf(stderr, "usage: tessaly_ui_bench INPUT.vcf OUTPUT.csv\n");
        return 2;
    }
    const QString input = app.arguments().at(1);
    const QString output = app.arguments().at(2);
    runStartup(QCoreApplication::applicationFilePath());
    Dialogs::setAnsweringMode(true);

    MainWindow form;
    form.show();
    QElapsedTimer clock;
    clock.start();
    form.loadFile(input);
    const double loadSeconds = clock.nsecsElapsed() / 1e9;
    if (loadedCards().loadedFileCount != 1) {
        std::fprintf(stderr, "could not load %s\n", qPrintable(input));
        return 1;
    }

    // Where the window was when the largest delay ended.
    int progress = 0;
    QObject::connect(&form, &MainWindow::progressShown, &form, [&progress](int value) { progress = value; });

    int progressAtMax = 0;
    TickDelays delays(clock, [&] { progressAtMax = progress; });

    Dialogs::SaveAnswer answer;
    answer.fileName = output;
    answer.filterIndex = 3;
    Dialogs::setNextSaveAnswer(answer);
    QString outcome;
    Dialogs::setMessageHandler([&outcome](const Dialogs::ShownMessage &message) { outcome = message.caption; });

    bool started = false;
    QTimer::singleShot(0, &form, [&] {
        clock.restart();
        delays.start();
        const qint64 before = clock.nsecsElapsed();
        form.exportDefaultCsv(); // save dialog answered at once; the snapshot and the job's start
        const qint64 startNs = clock.nsecsElapsed() - before;
        std::printf("starting the export took %.1f ms on the window's thread\n", startNs / 1e6);
        started = true;
    });
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (started && form.runningJobs() == 0 && !outcome.isEmpty())
            app.quit();
    });
    done.start(50);
    app.exec();
    const double exportSeconds = clock.nsecsElapsed() / 1e9;

    std::printf("input: %s (%lld lines), loaded in %.2f s\n", qPrintable(input),
                static_cast<long long>(loadedCards().loadedLines.size()), loadSeconds);
    std::printf("export: %s in %.2f s, outcome %s\n", qPrintable(output), exportSeconds, qPrintable(outcome));
    std::printf("timer ticks: %zu, delay median %.2f ms, 99th percentile %.2f ms\n", delays.count(),
                delays.percentileMs(0.5), delays.percentileMs(0.99));
    std::printf("largest delay of the window's thread: %.1f ms (at progress %d)\n", delays.largestNs() / 1e6,
                progressAtMax);
    return outcome == QLatin1String("SUCCESS") ? 0 : 1;
}
