#pragma once

#include "engine/conversionjob.h"
#include "widgets/glyphbutton.h"
#include "widgets/menuunderbutton.h"

#include <QMainWindow>
#include <QPushButton>
#include <QSemaphore>

#include <functional>
#include <memory>

class CheckResults;
class QAction;
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
 * The controls keep their designer names and are public so that tests can drive them.
 */
class TAppForm : public QMainWindow
{
    Q_OBJECT

public:
    /**
     * Builds the window with every caption translated. arguments are the command-line
     * arguments after the program's own name; FormShow loads the file they name.
     */
    explicit TAppForm(const QStringList &arguments = {}, QWidget *parent = nullptr);
    /** Waits for the running exports (see FinishJobsQuietly). */
    ~TAppForm() override;

    // ---- operations of the window ----------------------------------------------------
    /** Loads one file: warnings, the count on BitBtn1 and EnabledYap; a missing path does nothing. */
    void Ekle(const QString &inputfile);
    /** Enables BitBtn2, the three radio buttons, CheckBox1, CheckBox2, Label1 and Label2. */
    void EnabledYap();
    /** Disables the same eight controls. */
    void DisabledYap();
    /** Empties what was loaded, resets BitBtn1's caption and the progress, disables the export controls. */
    void ClearNow();
    /** Starts an export of the given type ("XLS", "CSV" or "TXT") after asking for the path. */
    void Donustur(const QString &Filetype);
    /** Shows a progress value (0 to 100) on ProgressBar1 and on the launcher entry. */
    void ProgressDegistir(int value);
    /** X scaled from the screen's to the window's dots per inch. */
    int ScaleDimension(int X) const;
    /** Widens a check box to its caption's width plus room for the box. */
    void ResizeMyCheckbox(QCheckBox *MyCheckbox);
    /** Opens menu under button, unless the same menu closed by a click on it less than 100 ms ago. */
    void ShowMenuUnderButton(QPushButton *button, QMenu *menu);
    /** Loads the dropped paths: only files whose extension is ".vcf" in any letter case. */
    void HandleFileDrop(const QStringList &paths);

    // ---- what a running export asks of the window (on the window's thread) -----------
    void SetBusy(bool busy);
    void DisableExportButton();
    ExportOptions ReadExportOptions() const;
    void ShowJobMessage(MessageIcon icon, const QString &caption, const QString &text);

    /**
     * Lets every running export finish without the window: its message boxes are written to
     * standard error instead of being shown, and this returns once all have ended (their
     * files complete). Called when the program ends and when the window is destroyed.
     */
    void FinishJobsQuietly();
    /**
     * Waits until every job started has taken its snapshot of the loaded lines; called before
     * the loaded lines change. Jobs take it first thing, so this waits at most moments.
     */
    void WaitForSnapshots();
    /** How many exports are running. */
    int RunningJobs() const { return m_runningJobs; }

    /** The encoding the radio buttons select, tested in the order ANSI, UTF-8, UTF-16. */
    TextEncoding SelectedEncoding() const;
    /** The CSV layout the last CSV entry chose: "", "google", "outlook" or "yahoo". */
    QString ExportFlavor() const { return m_exportFlavor; }
    /** The help page's address. */
    QString HelpAddress() const;

    /** The millisecond tick counter ShowMenuUnderButton compares (replaceable by tests): MenuUnderButton's. */
    static std::function<quint32()> &TickCount;

    // ---- controls ------------------------------------------------------------------------
    QMenuBar *ActionMainMenuBar1 = nullptr;
    GlyphButton *BitBtn1 = nullptr;
    QWidget *Panel3 = nullptr;
    QLabel *Label1 = nullptr;
    QRadioButton *RadioButton1 = nullptr;
    QRadioButton *RadioButton2 = nullptr;
    QRadioButton *RadioButton3 = nullptr;
    QWidget *Panel1 = nullptr;
    QLabel *Label2 = nullptr;
    QCheckBox *CheckBox2 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    GlyphButton *BitBtn2 = nullptr;
    QWidget *Panel2 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;

    // Menu bar
    QMenu *FileMenu = nullptr;
    QMenu *HelpMenu = nullptr;
    QAction *Action8 = nullptr; // Clear
    QAction *Action7 = nullptr; // Load vCards from VCF file...
    QAction *Action3 = nullptr; // Export to File...
    QAction *Action1 = nullptr; // Exit
    QAction *Action2 = nullptr; // Online Help
    QAction *UpdateNotifications1 = nullptr;
    QAction *Language1 = nullptr;
    QAction *Action5 = nullptr; // Send Feedback...
    QAction *Action6 = nullptr; // About

    // Tray menu; the tray icon exists only where the desktop has a tray.
    QSystemTrayIcon *TrayIcon1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *Help1 = nullptr;
    QAction *Language2 = nullptr;
    QAction *SendFeedback1 = nullptr;
    QAction *About1 = nullptr;
    QAction *Exit1 = nullptr;

    // Load button menu
    QMenu *PopupMenu3 = nullptr;
    QAction *Clear1 = nullptr;

    // Export menu
    QMenu *PopupMenu2 = nullptr;
    QMenu *CommaseparatedvaluesCSV1 = nullptr;
    QAction *DefaultFormat1 = nullptr;
    QAction *ExcelCSVFormat1 = nullptr;
    QAction *GoogleCSVFormat1 = nullptr;
    QAction *OutlookCSVFormat1 = nullptr;
    QAction *YahooCSVFormat1 = nullptr;
    QAction *ExcelXLS1 = nullptr;
    QAction *extTXT1 = nullptr;

    QTimer *TimerChecker = nullptr;

    // ---- handlers --------------------------------------------------------------------------
    void BitBtn1Click();
    void BitBtn2Click();
    void Action3Execute();
    void Action2Execute();
    void UpdateNotifications1Execute();
    void Language1Execute();
    void Button1Click();
    void Button2Click();
    void TrayIcon1Click();
    void TimerCheckerTimer();
    void DefaultFormat1Click();
    void ExcelCSVFormat1Click();
    void GoogleCSVFormat1Click();
    void OutlookCSVFormat1Click();
    void YahooCSVFormat1Click();
    void ExcelXLS1Click();
    void extTXT1Click();

Q_SIGNALS:
    /** A progress value was shown (after ProgressBar1 took it). */
    void progressShown(int value);
    /** EnabledYap ran. */
    void exportControlsEnabled();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void CreateControls();
    void CreateMenus();
    void CreateExportMenu();
    void CreateTrayIcon();
    void TranslateCaptions();
    void FormShow();
    void SetLoadButtonCaption();
    void JobEnded();
    void StartUpdateCheck();
    void ShowNewVersionNotice();

    QStringList m_arguments;
    bool m_shownOnce = false;
    bool m_closing = false;
    int m_runningJobs = 0;
    int m_pendingSnapshots = 0;
    QSemaphore m_snapshotsTaken;
    bool m_checkerStarted = false;
    std::shared_ptr<const CheckResults> m_check; // the update check's results, shared with its thread

    QString m_loadCaption;
    QString m_openFilter;
    QStringList m_saveFilters;
    int m_saveFilterIndex = 1;
    QString m_lastSavePath;
    QString m_exportFlavor;

    // ShowMenuUnderButton: the last button and menu and when that menu closed.
    MenuUnderButton m_menuUnderButton;
};
