#include "online/updatecheck.h"

#include "online/updatestore.h"
#include "online/webrequest.h"
#include "platform/osdescription.h"
#include "platform/userlocale.h"
#include "text/textformat.h"

#include <QDate>
#include <QLocale>
#include <QUrl>

#include <exception>
#include <new>

namespace {

constexpr int kCheckTimeoutMs = 10000;
constexpr int kRepliesPerDay = 5; // requests stop once this many valid replies came today

const QString kLastUpdateCheck = QStringLiteral("LastUpdateCheck");
const QString kLastUpdateCheckCount = QStringLiteral("LastUpdateCheckCount");
const QString kInstalledVersion = QStringLiteral("InstalledVersion");
const QString kCurrentVersion = QStringLiteral("CurrentVersion");
const QString kCurrentUrl = QStringLiteral("CurrentURL");
const QString kShowUpdate = QStringLiteral("ShowUpdate");

/* The 1-based line of the reply, or the empty text when the reply is shorter. */
QString replyLine(const QStringList &lines, int number)
{
    return lines.value(number - 1);
}

} // namespace

void CheckResults::recordCheckError(const QString &message)
{
    if (message.trimmed().isEmpty())
        return;
    m_checkFailed = true;
    if (!m_checkErrors.isEmpty())
        m_checkErrors += QStringLiteral("\r\r");
    m_checkErrors += message;
}

void CheckResults::clearCheckErrors()
{
    m_checkFailed = false;
    m_checkErrors.clear();
}

QString todayShortDate()
{
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

QString downloadAddress(const QString &currentUrl)
{
    const QString scheme = QUrl(currentUrl).scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return currentUrl;
    return homePage();
}

UpdateCheck::UpdateCheck(CheckerInputs inputs)
    : m_inputs(std::move(inputs))
{
}

CheckResults UpdateCheck::run(const std::stop_token &stop)
{
    m_results = CheckResults();
    m_stop = stop;
    CheckResults &results = m_results;

    QString guid;
    const MachineGuidResult machine = m_inputs.machineGuid ? m_inputs.machineGuid() : MachineGuidResult{};
    if (machine.error.isEmpty())
        guid = machine.guid;
    else
        results.recordCheckError(QStringLiteral("Error: GUID generate problem!"));

    UpdateStore store;
    if (!store.isOpen())
        results.recordCheckError(QStringLiteral("Error: Registry open problem!"));
    const QString lastDate = store.readText(kLastUpdateCheck);
    const int count = store.readInteger(kLastUpdateCheckCount, 0);
    store.writeText(kInstalledVersion, m_inputs.appVersion);
    results.m_showUpdate = store.readInteger(kShowUpdate, 1);

    if (results.m_showUpdate != 0) {
        const QString today = todayShortDate();
        if (!(lastDate == today && count >= kRepliesPerDay))
            requestAndProcess(store, guid, lastDate, count, today);
    }

    store.flush();
    return results;
}

void UpdateCheck::requestAndProcess(UpdateStore &store, const QString &guid, const QString &lastDate, int count,
                                    const QString &today)
{
    CheckResults &results = m_results;
    // No failure may leave the thread: whatever goes wrong is recorded and ends the check.
    try {
        const QStringList fields{QStringLiteral("cmd=check"),
                                 QStringLiteral("appname=") + m_inputs.appCaption,
                                 QStringLiteral("version=") + m_inputs.appVersion,
                                 QStringLiteral("os=") + osDescription(),
                                 QStringLiteral("local=") + userLocaleName(),
                                 QStringLiteral("guid=") + guid};
        const QString reply = post(fields);
        const QStringList lines = splitReplyLines(reply);
        if (reply.startsWith(QLatin1String("ERROR")))
            results.recordCheckError(QStringLiteral("INVALIDSERVERRESPONSE"));
        if (!results.m_checkFailed) {
            const QString status = tagValue(replyLine(lines, 4), QStringLiteral("result"));
            if (status != QLatin1String("0") && status != QLatin1String("1"))
                results.recordCheckError(QStringLiteral("INVALIDSERVERRESPONSE"));
        }
        if (!results.m_checkFailed)
            processReply(store, lines, lastDate, count, today);
    } catch (const std::bad_alloc &failure) {
        results.recordCheckError(QStringLiteral("std::bad_alloc Error:\r") + QString::fromLocal8Bit(failure.what()));
    } catch (const std::exception &failure) {
        results.recordCheckError(QStringLiteral("std::exception Error:\r") + QString::fromLocal8Bit(failure.what()));
    } catch (...) {
        results.recordCheckError(QStringLiteral("unknown Error:\runexpected failure"));
    }
}

/* The reply over HTTPS; empty when the request fails, which is recorded. */
QString UpdateCheck::post(const QStringList &fields)
{
    const PostResult reply = postToEndpoint(updateEndpoint(), fields, kCheckTimeoutMs, m_stop);
    if (reply.ok)
        return reply.body;
    m_results.recordCheckError(QStringLiteral("HTTPS Response:\r") + reply.error);
    return {};
}

void UpdateCheck::processReply(UpdateStore &store, const QStringList &lines, const QString &lastDate, int count,
                               const QString &today)
{
    CheckResults &results = m_results;
    const int newCount = lastDate == today ? count + 1 : 1;
    store.writeText(kLastUpdateCheck, today);
    store.writeInteger(kLastUpdateCheckCount, newCount);

    results.m_currentVersion = tagValue(replyLine(lines, 1), QStringLiteral("version"));
    store.writeText(kCurrentVersion, results.m_currentVersion);
    results.m_currentUrl = tagValue(replyLine(lines, 2), QStringLiteral("url"));
    store.writeText(kCurrentUrl, scrambleUrl(results.m_currentUrl));

    const QString important = tagValue(replyLine(lines, 6), QStringLiteral("important"));
    if (!important.trimmed().isEmpty() && m_inputs.showImportant)
        m_inputs.showImportant(important);

    // Any difference counts, older versions too; only a version of digits and dots is offered.
    if (results.m_currentVersion != m_inputs.appVersion) {
        const QString digits = QString(results.m_currentVersion).remove(u'.');
        if (parseDecimalInt(digits, true) && results.m_showUpdate == 1
            && (lastDate != today || newCount < kRepliesPerDay))
            results.m_showNewVersion = true;
    }
}
