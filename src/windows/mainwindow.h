#pragma once

#include "engine/conversionjob.h"
#include "engine/csvpreset.h"
#include "widgets/glyphbutton.h"
#include "widgets/menuunderbutton.h"
#include "windows/exportrun.h"
#include "windows/previewwindow.h"

#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CheckResults;
class UpdateCheckRun;
class OptionsSnapshot;
class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;

/**
 * The main window: loading VCF files (button, menu, drag and drop, command line), the encoding
 * and the two options, the export menu with its presets, progress of the running exports on
 * the progress bar and the launcher entry, and the tray icon.
 *
 * Every control has an object name for its role ("loadButton", "exportMenu", "trayIcon", ...),
 * by which tests find it.
 */
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    /**
     * Builds the window with every caption translated. arguments are the command-line
     * arguments after the program's own name; onFirstShow loads the file they name.
     */
    explicit MainWindow(const QStringList &arguments = {}, QWidget *parent = nullptr);
    /** Stops the running exports and the update check and waits for them, moments at most (see stopExportsQuietly). */
    ~MainWindow() override;

    // ---- operations of the window ----------------------------------------------------
    /**
     * Loads one file: warnings, the count on the load button and enableExportControls. A path
     * where no file is, or a folder, gets a warning that names it and changes nothing else.
     */
    void loadFile(const QString &path);
    /** Enables the export button, the three encodings, Headers, Sort, their two labels and the Preview entry. */
    void enableExportControls();
    /** Empties what was loaded, resets the load button's caption and the progress, disables the export controls. */
    void clearLoaded();
    /** Shows a progress value (0 to 100) on the progress bar and on the launcher entry. */
    void setProgress(int value);
    /** Loads the dropped paths: only files whose extension is ".vcf" in any letter case. */
    void loadDroppedFiles(const QStringList &paths);
    /** Opens the export menu under the export button (the button's click). */
    void onExportClicked();

    // The entries of the export menu: a CSV entry makes its preset's changes to the controls,
    // then each asks for the path and starts the export.
    void exportDefaultCsv() { exportCsv(CsvPreset::Default); }
    void exportExcelCsv() { exportCsv(CsvPreset::Excel); }
    void exportGoogleCsv() { exportCsv(CsvPreset::Google); }
    void exportOutlookCsv() { exportCsv(CsvPreset::Outlook); }
    void exportYahooCsv() { exportCsv(CsvPreset::Yahoo); }
    void exportXls();
    void exportTxt();
    /**
     * Opens the Preview window with the table of the files loaded now (the File menu's and
     * the export menu's "Preview..."), or shows the open one again with that table.
     */
    void openPreview();

    // ---- running exports ----------------------------------------------------------------
    /**
     * Asks every running export to stop (Esc, the "Stop Export" entries, the close question):
     * each leaves the old file as it was and says so in one message.
     */
    void stopExports();
    /**
     * Stops every running export without the window: their messages go to standard error
     * instead of boxes, and this returns once their threads have ended, within moments.
     * Called when the program ends and when the window is destroyed.
     */
    void stopExportsQuietly();
    /** SIGTERM, SIGINT or SIGHUP: the running exports are stopped and the program ends, without a question. */
    void endOnTerminationSignal();
    /**
     * For tests: observer is called on each later export's own thread with each of its
     * reports once the report is on its way to the window, so that a test can act at an exact
     * point of the export.
     */
    void setExportObserver(ExportRun::Observer observer) { m_exportObserver = std::move(observer); }
    /**
     * Waits until every job started has taken its snapshot of the loaded lines; called before
     * the loaded lines change. Jobs take it first thing, so this waits at most moments.
     */
    void waitForSnapshots();
    /** How many exports are running. */
    int runningJobs() const { return int(m_runs.size()); }
    /**
     * Whether the user chose, when closing the window during an export, to close the program
     * once the file is written: the window is hidden where the desktop has a tray (whose icon
     * shows the progress in its tooltip and the result as a notification), and stays shown
     * where it has none.
     */
    bool closesWhenWritten() const { return m_closeWhenWritten; }
    /** How long the result's notification shows before the program ends (10 s; tests shorten it). */
    void setNotificationTime(int milliseconds) { m_notificationMs = milliseconds; }

    /** The encoding the radio buttons select, tested in the order ANSI, UTF-8, UTF-16. */
    TextEncoding selectedEncoding() const;
    /** The CSV layout the last CSV entry chose. */
    CsvFlavor exportFlavor() const { return m_exportFlavor; }
    /**
     * The columns of the exports and the preview: All fields while the export menu's entry is
     * checked, else the fifteen columns. It starts as settings.ini holds it.
     */
    ColumnModel columnModel() const;
    /** The help page's address. */
    QString helpAddress() const;

Q_SIGNALS:
    /** A progress value was shown (after the progress bar took it). */
    void progressShown(int value);
    /** enableExportControls ran. */
    void exportControlsEnabled();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createMenus();
    void createExportMenu();
    void createTrayIcon();
    void nameControls();
    void updateEncodingTabStop();
    void translateCaptions();
    /** The width in pixels scaled from the screen's to the window's dots per inch. */
    int scaleDimension(int width) const;
    /** Widens a check box to its caption's width plus room for the box. */
    void fitCheckBoxToCaption(QCheckBox *checkBox);
    void onFirstShow();
    void updateLoadButtonCaption();
    /** Disables the controls that enableExportControls enables. */
    void disableExportControls();
    /** The radio button of an encoding. */
    QRadioButton *encodingRadio(TextEncoding encoding) const;

    void onLoadClicked();
    /** The File menu's export entry or Ctrl+E: the export menu, or a beep while the export button is off. */
    void onExportTriggered();
    /** F10: the File menu opens with its first entry selected. */
    void openFirstMenu();
    void openHelp();
    void onUpdateNotificationsTriggered();
    void openLanguageWindow();
    void openFeedbackWindow();
    void openAboutWindow();
    void onTrayIconClicked();
    /** A CSV entry of the export menu: the preset's changes to the controls, then the export. */
    void exportCsv(CsvPreset preset);
    /** Starts an export of the given type after asking for the path. */
    void startExport(ExportType fileType);
    /**
     * All fields was checked or cleared, in the export menu or the preview: both show it, the
     * Yahoo entry says that it keeps its fifteen columns, and settings.ini stores it (a failure
     * to write it is reported; the choice holds until the program ends all the same).
     */
    void setAllFields(bool on);

    /**
     * Enables the export controls again once an export's rows are finished, when files are
     * loaded; after "Clear" left nothing loaded they stay disabled.
     */
    void restoreExportControls();
    /** Headers, Sort and the encoding as the controls show them. */
    ExportOptions readExportOptions() const;
    /** Shows a message of an export: a box, a notification once the window is closed, or a line on standard error at the end. */
    void showJobMessage(const ExportMessage &message);
    void startRun(const ExportRequest &request);
    void onRunProgress(ExportRun *run, ExportStage stage, int percent);
    void onRunMessage(const ExportMessage &message);
    void onRunFinished(ExportRun *run);
    void settleWhenIdle();
    /** What the user wants when closing the window during an export. */
    enum class CloseAnswer { CloseWhenWritten, KeepOpen, StopExport };
    CloseAnswer askCloseDuringExport();
    void finishClosing();
    void quitAfterExports();
    void startUpdateCheck();
    void onUpdateCheckFinished(const CheckResults &results);

    // ---- controls ------------------------------------------------------------------------
    QMenuBar *m_mainMenuBar = nullptr;
    GlyphButton *m_loadButton = nullptr;
    QWidget *m_encodingPanel = nullptr;
    QLabel *m_encodingLabel = nullptr;
    QRadioButton *m_ansiRadio = nullptr;
    QRadioButton *m_utf8Radio = nullptr;
    QRadioButton *m_utf16Radio = nullptr;
    QButtonGroup *m_encodingGroup = nullptr; // the three encodings: Tab reaches the checked one
    QWidget *m_optionsPanel = nullptr;
    QLabel *m_optionsLabel = nullptr;
    QCheckBox *m_sortCheck = nullptr;
    QCheckBox *m_headersCheck = nullptr;
    GlyphButton *m_exportButton = nullptr;
    QWidget *m_buttonPanel = nullptr;
    QPushButton *m_feedbackButton = nullptr;
    QPushButton *m_aboutButton = nullptr;
    QProgressBar *m_progressBar = nullptr;

    // Menu bar
    QMenu *m_fileMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QAction *m_clearAction = nullptr;      // Clear
    QAction *m_loadAction = nullptr;       // Load vCards from VCF file...
    QAction *m_exportAction = nullptr;     // Export to File...
    QAction *m_previewAction = nullptr;    // Preview... (also in the export menu)
    QAction *m_stopExportAction = nullptr; // Stop Export (also in the export menu), Esc
    QAction *m_exitAction = nullptr;       // Exit
    QAction *m_helpAction = nullptr;       // Online Help
    QAction *m_updateNotificationsAction = nullptr;
    QAction *m_languageAction = nullptr;
    QAction *m_feedbackAction = nullptr; // Send Feedback...
    QAction *m_aboutAction = nullptr;    // About

    // Tray menu; the tray icon exists only where the desktop has a tray.
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_trayHelpAction = nullptr;
    QAction *m_trayLanguageAction = nullptr;
    QAction *m_trayFeedbackAction = nullptr;
    QAction *m_trayAboutAction = nullptr;
    QAction *m_trayExitAction = nullptr;

    // Load button menu
    QMenu *m_loadMenu = nullptr;
    QAction *m_loadMenuClearAction = nullptr;

    // Export menu
    QMenu *m_exportMenu = nullptr;
    QMenu *m_csvMenu = nullptr;
    QAction *m_defaultCsvAction = nullptr;
    QAction *m_excelCsvAction = nullptr;
    QAction *m_googleCsvAction = nullptr;
    QAction *m_outlookCsvAction = nullptr;
    QAction *m_yahooCsvAction = nullptr;
    QAction *m_xlsAction = nullptr;
    QAction *m_txtAction = nullptr;
    QAction *m_allFieldsAction = nullptr; // checkable: the column model, shared with the preview

    QTimer *m_updateCheckTimer = nullptr; // once, a second after the start: the update check begins

    // ---- state ---------------------------------------------------------------------------
    QStringList m_arguments;
    bool m_shownOnce = false;
    bool m_closing = false;
    bool m_closeWhenWritten = false;
    int m_notificationMs = 10000;
    QTimer *m_quitTimer = nullptr; // ends the program once the result's notification was shown
    // A file was loaded since the start or the last "Clear".
    bool m_filesLoaded = false;
    std::vector<ExportRun *> m_runs;        // the running exports, oldest first; children of the window
    std::vector<ExportRun *> m_writing;     // those that have reached their writing stage
    QList<ExportMessage> m_pendingMessages; // messages that wait for the box before them to close
    bool m_showingMessages = false;
    std::shared_ptr<OptionsSnapshot> m_options; // the options, for the exports' threads to read
    ExportRun::Observer m_exportObserver;
    int m_pendingSnapshots = 0;
    QSemaphore m_snapshotsTaken;
    UpdateCheckRun *m_updateCheck = nullptr; // while the update check runs
    QPointer<PreviewWindow> m_previewWindow; // while it is open

    QString m_loadCaption;
    QString m_openFilter;
    QStringList m_saveFilters;
    int m_saveFilterIndex = 1;
    QString m_lastSavePath;
    CsvFlavor m_exportFlavor = CsvFlavor::Plain;

    // The export button's menu: the last button and menu shown, and when that menu closed.
    MenuUnderButton m_menuUnderButton;
    // The File menu's export entry was just released on with the mouse (not chosen by a key).
    bool m_exportChosenWithMouse = false;
};
