#pragma once

#include "online/updatecheck.h"
#include "text/stoppablethread.h"

#include <QObject>

/**
 * The update check on a thread of its own, owned by the window that started it.
 *
 * The check's results and the server's important message become signals, which reach the
 * window on its own thread; the check never waits for the window. stop() ends the check's web
 * request within moments; destroying the run stops it and waits for its thread.
 */
class UpdateCheckRun : public QObject
{
    Q_OBJECT

public:
    explicit UpdateCheckRun(CheckerInputs inputs, QObject *parent = nullptr);

    /** Starts the check's thread (or, when the system refuses one, runs the check here). */
    void start();
    /** Asks the check to end as soon as it can; finished() follows. */
    void stop() { m_thread.stop(); }

Q_SIGNALS:
    /** The server's important message, to be shown as a warning; the check goes on meanwhile. */
    void importantMessage(const QString &message);
    /** The check has ended with these results; its thread ends moments later. */
    void finished(const CheckResults &results);

private:
    void run();

    CheckerInputs m_inputs;
    StoppableThread m_thread; // last: it stops and waits for the work before the members it uses go
};
