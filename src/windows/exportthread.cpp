#include "windows/exportthread.h"

#include "windows/mainwindow.h"

#include <QMetaObject>

namespace {

/*
 * The window as the job sees it: each call runs on the window's thread and the worker waits
 * until it is done. The window outlives every job it started (it waits for them before it is
 * destroyed), so the plain pointer stays valid for the whole run.
 */
class WindowHost : public ConversionHost
{
public:
    explicit WindowHost(MainWindow *form)
        : m_form(form)
    {
    }

    void setProgress(int value) override
    {
        onWindowThread([this, value] { m_form->setProgress(value); });
    }

    void setBusy(bool busy) override
    {
        onWindowThread([this, busy] { m_form->setBusy(busy); });
    }

    void disableExportButton() override
    {
        onWindowThread([this] { m_form->disableExportButton(); });
    }

    void enableExportControls() override
    {
        onWindowThread([this] { m_form->restoreExportControls(); });
    }

    ExportOptions readExportOptions() override
    {
        ExportOptions options;
        onWindowThread([this, &options] { options = m_form->readExportOptions(); });
        return options;
    }

    void showMessage(MessageIcon icon, const QString &caption, const QString &text) override
    {
        onWindowThread([this, icon, &caption, &text] { m_form->showJobMessage(icon, caption, text); });
    }

private:
    template<typename Work>
    void onWindowThread(Work work)
    {
        QMetaObject::invokeMethod(m_form, std::move(work), Qt::BlockingQueuedConnection);
    }

    MainWindow *m_form;
};

} // namespace

ExportThread::ExportThread(MainWindow *form, const ExportRequest &request, const TextLines *source,
                           QSemaphore *snapshotTaken, RowFormat format)
    : m_form(form)
    , m_request(request)
    , m_source(source)
    , m_snapshotTaken(snapshotTaken)
    , m_format(format)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void ExportThread::run()
{
    // The lines' buffers are shared, not copied; only their offsets are.
    TextLines lines = *m_source;
    m_source = nullptr;
    m_snapshotTaken->release();
    WindowHost host(m_form);
    runConversion(std::move(lines), m_request, m_format, host);
}
