#pragma once

#include "engine/conversionjob.h"
#include "text/textlines.h"

#include <QSemaphore>
#include <QThread>

class MainWindow;

/**
 * One export on a worker thread.
 *
 * The job owns a copy of the request and a snapshot of the loaded lines, so later exports,
 * loads and "Clear" never change what it reads. It takes the snapshot first thing on its own
 * thread (copying millions of line offsets would hold up the window), and releases
 * snapshotTaken once it has; until then the window makes no change to the loaded lines
 * (MainWindow::waitForSnapshots). Every effect on the
 * window (progress, cursor, controls, message boxes) is carried out on the window's thread
 * while the worker waits. The object deletes itself (deleteLater) when its run has ended.
 */
class ExportThread : public QThread
{
    Q_OBJECT

public:
    ExportThread(MainWindow *form, const ExportRequest &request, const TextLines *source, QSemaphore *snapshotTaken,
                 RowFormat format);

protected:
    void run() override;

private:
    MainWindow *m_form;
    const ExportRequest m_request;
    const TextLines *m_source;
    QSemaphore *m_snapshotTaken;
    const RowFormat m_format;
};
