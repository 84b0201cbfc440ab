#include "windows/previewrun.h"

#include "text/workstop.h"

#include <new>

/* The whole table's progress as the run's signal, emitted on the run's thread. */
class PreviewRun::Events final : public ExportEvents
{
public:
    explicit Events(PreviewRun &run)
        : m_run(run)
    {
    }

    void progressed(ExportStage stage, int percent) override
    {
        Q_EMIT m_run.progressed(percent);
        if (m_run.m_observer)
            m_run.m_observer(stage, percent);
    }
    // Building a table writes nothing, so it has no message to pass on.
    void messageReady(const ExportMessage &) override { }

private:
    PreviewRun &m_run;
};

namespace {

/* The first cards' table takes moments: its progress is not worth showing. */
class SilentEvents final : public ExportEvents
{
public:
    void progressed(ExportStage, int) override { }
    void messageReady(const ExportMessage &) override { }
};

} // namespace

PreviewRun::PreviewRun(TextLines lines, const PreviewRequest &request, Observer observer, QObject *parent)
    : QObject(parent)
    , m_lines(std::move(lines))
    , m_request(request)
    , m_observer(std::move(observer))
{
}

void PreviewRun::start()
{
    m_thread.start([this] { run(); });
}

void PreviewRun::run()
{
    const std::stop_token stop = m_thread.token();
    try {
        SilentEvents silent;
        auto first = std::make_shared<const PreviewTable>(
            buildPreviewTable(m_lines, m_request, silent, stop, kPreviewFirstCards));
        if (first->complete) {
            Q_EMIT finished(first);
            return;
        }
        Q_EMIT firstRowsReady(first);
        Events events(*this);
        events.progressed(ExportStage::Reading, 0);
        Q_EMIT finished(
            std::make_shared<const PreviewTable>(buildPreviewTable(std::move(m_lines), m_request, events, stop)));
    } catch (const WorkStopped &) {
        // The window has closed or asked for another table: nobody waits for this one.
    } catch (const std::bad_alloc &) {
        // What the table held is freed by now; the window keeps the first rows it has.
        Q_EMIT outOfMemory();
    }
}
