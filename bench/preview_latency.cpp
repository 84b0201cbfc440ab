// How soon the Preview window shows a large address book, and how responsive the main
// window's thread stays while it does.
//
//     tessaly_preview_bench INPUT.vcf [--no-sort]
//
// Loads INPUT.vcf into the main window, then opens the preview as the File menu's entry does,
// while a 5 ms timer on the window's thread notes how late each of its ticks comes. Prints the
// time from the opening to the first rows in the model and on screen, to the whole table, and
// the largest delay of the timer, which is the longest the window stood still.

#include "core/startup.h"
#include "widgets/dialogs.h"
#include "windows/mainwindow.h"
#include "windows/previewwindow.h"

#include "tickdelays.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <cstdio>

namespace {

/* Notes the first paint of a widget after it is armed. */
class PaintWatch : public QObject
{
public:
    PaintWatch(const QElapsedTimer &clock)
        : m_clock(clock)
    {
    }

    void arm() { m_armed = true; }
    qint64 paintedAt() const { return m_paintedAt; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_armed && m_paintedAt < 0 && event->type() == QEvent::Paint)
            m_paintedAt = m_clock.nsecsElapsed();
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &m_clock;
    bool m_armed = false;
    qint64 m_paintedAt = -1;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2 || arguments.size() > 3 || (arguments.size() == 3 && arguments.at(2) != u"--no-sort")) {
        std::fprintf(stderr, "usage: tessaly_preview_bench INPUT.vcf [--no-sort]\n");
        return 2;
    }
    const bool sort = arguments.size() == 2;
    runStartup(QCoreApplication::applicationFilePath());
    Dialogs::setAnsweringMode(true);

    MainWindow form;
    form.show();
    QElapsedTimer clock;
    clock.start();
    form.loadFile(arguments.at(1));
    const double loadSeconds = clock.nsecsElapsed() / 1e9;
    if (loadedCards().loadedFileCount != 1) {
        std::fprintf(stderr, "could not load %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    form.findChild<QCheckBox *>(QStringLiteral("sortCheck"))->setChecked(sort);

    TickDelays delays(clock);

    PaintWatch paints(clock);
    qint64 openNs = 0;
    qint64 firstRowsAt = -1;
    qint64 wholeAt = -1;
    int firstRows = 0;
    int wholeRows = 0;
    QTimer::singleShot(0, &form, [&] {
        clock.restart();
        delays.start();
        form.openPreview();
        openNs = clock.nsecsElapsed();
        auto *preview = form.findChild<PreviewWindow *>();
        auto *view = preview->findChild<QTableView *>(QStringLiteral("previewTable"));
        view->viewport()->installEventFilter(&paints);
        QObject::connect(preview, &PreviewWindow::firstRowsShown, preview, [&, view] {
            firstRowsAt = clock.nsecsElapsed();
            firstRows = view->model()->rowCount();
            paints.arm();
        });
        QObject::connect(preview, &PreviewWindow::tableShown, preview, [&, view] {
            wholeAt = clock.nsecsElapsed();
            wholeRows = view->model()->rowCount();
            paints.arm(); // a table small enough for one pass has no first rows of its own
            // A moment more, to see the window's thread after the swap.
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
        });
    });
    app.exec();
    delays.stop();

    std::printf("input: %s (%lld lines), loaded in %.2f s; Sort %s\n", qPrintable(arguments.at(1)),
                static_cast<long long>(loadedCards().loadedLines.size()), loadSeconds, sort ? "on" : "off");
    std::printf("opening the window took %.1f ms on the window's thread\n", openNs / 1e6);
    std::printf("first rows in the model: %.1f ms (%d rows); first painted: %.1f ms\n", firstRowsAt / 1e6, firstRows,
                paints.paintedAt() / 1e6);
    std::printf("whole table in the model: %.2f s (%d rows)\n", wholeAt / 1e9, wholeRows);
    std::printf("timer ticks: %zu, delay median %.2f ms, 99th percentile %.2f ms\n", delays.count(),
                delays.percentileMs(0.5), delays.percentileMs(0.99));
    std::printf("largest delay of the window's thread: %.1f ms (ended %.2f s after the opening)\n",
                delays.largestNs() / 1e6, delays.largestEndedNs() / 1e9);
    return wholeAt >= 0 ? 0 : 1;
}
