#pragma once

#include "engine/conversionjob.h"
#include "text/stoppablethread.h"
#include "text/textlines.h"

#include <QObject>
#include <QSemaphore>

#include <functional>

/**
 * One export on a thread of its own, owned by the window that started it.
 *
 * The run owns a copy of the request and a snapshot of the loaded lines, so later exports,
 * loads and "Clear" never change what it reads. It takes the snapshot first thing on its own
 * thread (copying millions of line offsets would hold up the window), and releases
 * snapshotTaken once it has; until then the window makes no change to the loaded lines.
 *
 * The export's reports become signals, which reach the window on its own thread; the export
 * never waits for the window. stop() asks the export to end; destroying the run stops it and
 * waits for its thread, which then takes moments.
 */
class ExportRun : public QObject
{
    Q_OBJECT

public:
    /** Called on the export's own thread with each report once it is passed on, before the export goes on. */
    using Observer = std::function<void(ExportStage stage, int percent)>;

    ExportRun(ExportRequest request, const TextLines *source, QSemaphore *snapshotTaken, Observer observer = {},
              QObject *parent = nullptr);

    /** Starts the export's thread (or, when the system refuses one, runs the export here). */
    void start();
    /** Asks the export to end as soon as it can; finished() follows with Stopped. */
    void stop() { m_thread.stop(); }
    /** Waits until the export's thread has ended (its reports may still wait to be delivered). */
    void waitForEnd();
    /** The run's own copy of the request it was started with. */
    const ExportRequest &request() const { return m_request; }

Q_SIGNALS:
    void progressed(ExportStage stage, int percent);
    void messageReady(const ExportMessage &message);
    /** The export has ended; its thread ends moments later (the run may be deleted now). */
    void finished(ExportOutcome outcome);

private:
    class Events;
    void run();

    const ExportRequest m_request;
    const TextLines *m_source;
    QSemaphore *m_snapshotTaken;
    const Observer m_observer;
    StoppableThread m_thread; // last: it stops and waits for the work before the members it uses go
};
