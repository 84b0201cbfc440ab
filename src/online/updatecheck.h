#pragma once

#include "platform/machineguid.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

/*
 * The once-per-start update check: asks the maker's web host which version is current,
 * records the answer in the UpdateStore, may show the server's important message, and tells
 * the main window whether to show the new-version notice.
 */

/** What a check needs from the program. */
struct CheckerInputs {
    QString appCaption; // appCaption, sent as "appname"
    QString appVersion; // appVersion, sent as "version" and compared with the server's version
    /** The machine GUID; replaceable for tests. */
    std::function<MachineGuidResult()> machineGuid = [] { return readMachineGuid(); };
    /**
     * Shows the server's important message (a warning box captioned Translate("IMPORTANT"))
     * and returns when the user has closed it. Called on the checker's thread, so it must hand
     * the box to the user-interface thread and wait. Unset: the message is not shown.
     */
    std::function<void(const QString &message)> showImportant;
};

/**
 * The results of one check. The checker writes them, then sets checkDone last (release);
 * a reader that sees checkDone true (acquire) sees every other result and every store write.
 * Nothing changes after that. Read nothing but checkDone before it is true.
 */
class CheckResults
{
public:
    bool checkDone() const { return m_checkDone.load(std::memory_order_acquire); }
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

    std::atomic<bool> m_checkDone{false};
    bool m_showNewVersion = false;
    QString m_currentVersion;
    QString m_currentUrl;
    int m_showUpdate = 1;
    bool m_checkFailed = false;
    QString m_checkErrors;
};

/**
 * The checker's thread: one run (Execute) is one check. Start it with UpdateCheck::Start.
 */
class UpdateCheck : public QThread
{
public:
    /**
     * Creates a checker, starts it at once and lets it delete itself when its run ends.
     * The returned results stay valid as long as the caller keeps them.
     */
    static std::shared_ptr<const CheckResults> launch(CheckerInputs inputs);

    /** A checker that is not started; run() or start() performs one check. */
    UpdateCheck(CheckerInputs inputs, std::shared_ptr<CheckResults> results);

    std::shared_ptr<const CheckResults> results() const { return m_results; }

    /** Performs one check on the calling thread (the body of run()). */
    void runSteps();

protected:
    void run() override;

private:
    void requestAndProcess(class UpdateStore &store, const QString &guid, const QString &lastDate, int count,
                           const QString &today);
    QString post(const QStringList &fields);
    void processReply(UpdateStore &store, const QStringList &lines, const QString &lastDate, int count,
                      const QString &today);

    CheckerInputs m_inputs;
    std::shared_ptr<CheckResults> m_results;
};

/**
 * The address to open for a download: currentUrl when its scheme is http or https, the
 * maker's home page for anything else (a server's reply never opens a file or a program).
 */
QString downloadAddress(const QString &currentUrl);

/** Today as the user's short date text: the "day" of the daily limits. */
QString todayShortDate();
