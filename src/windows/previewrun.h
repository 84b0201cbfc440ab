#pragma once

#include "engine/previewtable.h"
#include "text/stoppablethread.h"
#include "text/textlines.h"

#include <QObject>

#include <functional>
#include <memory>

/** A preview's table, shared between the thread that built it and the window that shows it. */
using SharedPreviewTable = std::shared_ptr<const PreviewTable>;

/**
 * The tables of one preview, built on a thread of its own, owned by the window that shows them.
 *
 * The run first builds the table of the first cards (kPreviewFirstCards), which takes moments
 * however many cards are loaded, then the whole table, and reports each as a signal that
 * reaches the window on its own thread; the run never waits for the window. It reads its own
 * copy of the loaded lines, which shares their text. stop() asks it to end; destroying the run
 * stops it and waits for its thread, which then takes moments.
 */
class PreviewRun : public QObject
{
    Q_OBJECT

public:
    /** Called on the run's own thread with each report of the whole table's progress, before the run goes on. */
    using Observer = std::function<void(ExportStage stage, int percent)>;

    PreviewRun(TextLines lines, const PreviewRequest &request, Observer observer = {}, QObject *parent = nullptr);

    /** Starts the run's thread (or, when the system refuses one, builds the tables here). */
    void start();
    /** Asks the run to end as soon as it can; nothing more is reported. */
    void stop() { m_thread.stop(); }
    /** What the run builds: the layout, the column model, the row format and Sort. */
    const PreviewRequest &request() const { return m_request; }

Q_SIGNALS:
    /** The table of the first cards, when more cards follow; the whole table comes later. */
    void firstRowsReady(const SharedPreviewTable &table);
    /** The whole table's progress, 0 to 100. */
    void progressed(int percent);
    /** The whole table; the run's thread ends moments later. */
    void finished(const SharedPreviewTable &table);
    /** Memory ran out before the whole table was built; the thread ends moments later. */
    void outOfMemory();

private:
    class Events;
    void run();

    TextLines m_lines;
    const PreviewRequest m_request;
    const Observer m_observer;
    StoppableThread m_thread; // last: it stops and waits for the work before the members it uses go
};
