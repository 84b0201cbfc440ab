#pragma once

#include "platform/machineguid.h"

#include <QString>

#include <functional>
#include <stop_token>

/*
 * The once-per-start update check: asks the maker's web host which version is current,
 * records the answer in the UpdateStore, may hand on the server's important message, and
 * tells the main window whether to show the new-version notice.
 */

/** What a check needs from the program. */
struct CheckerInputs {
    QString appCaption; // appCaption, sent as "appname"
    QString appVersion; // appVersion, sent as "version" and compared with the server's version
    /** The machine GUID; replaceable for tests. */
    std::function<MachineGuidResult()> machineGuid = [] { return readMachineGuid(); };
    /**
     * Hands the server's important message on, to be shown as a warning box captioned
     * "IMPORTANT". Called on the check's thread; it must not wait for the user, the check
     * goes on. Unset: the message is not shown.
     */
    std::function<void(const QString &message)> showImportant;
};

/** The results of one check. */
class CheckResults
{
public:
    /** True when the main window is to open the new-version window. */
    bool showNewVersion() const { return m_showNewVersion; }
    /** The version the reply named (empty when none was taken). */
    QString currentVersion() const { return m_currentVersion; }
    /** The download address the reply named (may be empty; see downloadAddress). */
    QString currentUrl() const { return m_currentUrl; }
    /** "showUpdate" as read at the start of the check: 0 means notifications are off. */
    int showUpdate() const { return m_showUpdate; }
    /** Whether a failure is recorded, and the recorded messages joined by two CR characters. */
    bool checkFailed() const { return m_checkFailed; }
    QString checkErrors() const { return m_checkErrors; }

    /** Records a failure whose text is not blank; the text is kept as given. */
    void recordCheckError(const QString &message);
    /** Forgets every failure recorded so far. */
    void clearCheckErrors();

private:
    friend class UpdateCheck;

    bool m_showNewVersion = false;
    QString m_currentVersion;
    QString m_currentUrl;
    int m_showUpdate = 1;
    bool m_checkFailed = false;
    QString m_checkErrors;
};

/**
 * One update check. run() performs it on the calling thread, which waits for the web host (at
 * most about 20 s), so it belongs on a thread of its own.
 */
class UpdateCheck
{
public:
    explicit UpdateCheck(CheckerInputs inputs);

    /**
     * Performs one check and returns its results. A stop request ends the web request within
     * moments; the check then ends as after a failed request (the failure recorded, no reply
     * processed, nothing shown).
     */
    CheckResults run(const std::stop_token &stop = {});

private:
    void requestAndProcess(class UpdateStore &store, const QString &guid, const QString &lastDate, int count,
                           const QString &today);
    QString post(const QStringList &fields);
    void processReply(UpdateStore &store, const QStringList &lines, const QString &lastDate, int count,
                      const QString &today);

    CheckerInputs m_inputs;
    CheckResults m_results;
    std::stop_token m_stop;
};

/**
 * The address to open for a download: currentUrl when its scheme is http or https, the
 * maker's home page for anything else (a server's reply never opens a file or a program).
 */
QString downloadAddress(const QString &currentUrl);

/** Today as the user's short date text: the "day" of the daily limits. */
QString todayShortDate();
