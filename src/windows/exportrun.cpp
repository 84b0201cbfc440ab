#include "windows/exportrun.h"

/* The export's reports as the run's signals, emitted on the export's thread. */
class ExportRun::Events final : public ExportEvents
{
public:
    explicit Events(ExportRun &run)
        : m_run(run)
    {
    }

    void progressed(ExportStage stage, int percent) override
    {
        Q_EMIT m_run.progressed(stage, percent);
        if (m_run.m_observer)
            m_run.m_observer(stage, percent);
    }
    void messageReady(const ExportMessage &message) override { Q_EMIT m_run.messageReady(message); }

private:
    ExportRun &m_run;
};

ExportRun::ExportRun(ExportRequest request, const TextLines *source, QSemaphore *snapshotTaken, Observer observer,
                     QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_source(source)
    , m_snapshotTaken(snapshotTaken)
    , m_observer(std::move(observer))
{
}

void ExportRun::waitForEnd()
{
    // The export ends every failure of its own with a message.
    m_thread.waitForEnd();
}

void ExportRun::start()
{
    m_thread.start([this] { run(); });
}

void ExportRun::run()
{
    // The lines' buffers are shared, not copied; only their offsets are.
    TextLines lines = *m_source;
    m_source = nullptr;
    m_snapshotTaken->release();
    Events events(*this);
    const ExportOutcome outcome = runExport(std::move(lines), m_request, events, m_thread.token());
    Q_EMIT finished(outcome);
}
