#include "windows/updatecheckrun.h"

UpdateCheckRun::UpdateCheckRun(CheckerInputs inputs, QObject *parent)
    : QObject(parent)
    , m_inputs(std::move(inputs))
{
    m_inputs.showImportant = [this](const QString &message) { Q_EMIT importantMessage(message); };
}

UpdateCheckRun::~UpdateCheckRun()
{
    stop();
    m_thread.reset(); // waits for the thread, which the stop ends within moments
}

void UpdateCheckRun::start()
{
    m_thread = std::make_unique<HelperThread>([this] { run(); });
}

void UpdateCheckRun::run()
{
    UpdateCheck check(m_inputs);
    const CheckResults results = check.run(m_stop.get_token());
    Q_EMIT finished(results);
}
