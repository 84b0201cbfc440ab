#include "windows/updatecheckrun.h"

UpdateCheckRun::UpdateCheckRun(CheckerInputs inputs, QObject *parent)
    : QObject(parent)
    , m_inputs(std::move(inputs))
{
    m_inputs.showImportant = [this](const QString &message) { Q_EMIT importantMessage(message); };
}

void UpdateCheckRun::start()
{
    m_thread.start([this] { run(); });
}

void UpdateCheckRun::run()
{
    UpdateCheck check(m_inputs);
    const CheckResults results = check.run(m_thread.token());
    Q_EMIT finished(results);
}
