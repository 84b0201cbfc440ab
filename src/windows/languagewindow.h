#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QPainter;
class QPlainTextEdit;
class QPushButton;

/**
 * The language window: lists the built-in "English" and every language file found at
 * start-up, each with its flag, shows who translated the selected language, and when the user
 * confirms another language, stores the choice, writes the restart script, starts it and ends
 * the program, so that the script starts it again in the new language.
 *
 * Each opening creates a new window, shown modally. Each control's object name is its role
 * ("languageCombo", "okButton"), by which tests find it.
 */
class LanguageWindow : public QDialog
{
    Q_OBJECT

public:
    /** Stores the chosen language file's name in the settings; false with the reason on failure. */
    using LanguageFileSetter = std::function<bool(const QString &fileName, QString *error)>;

    /** Starts the restart script as a process of its own; false when it could not be started. */
    using ScriptStarter
        = std::function<bool(const QString &program, const QStringList &arguments, const QString &workingFolder)>;

    /**
     * Builds the window from the active language and the listed language files.
     * setLanguageFile stores a confirmed choice; dataDir is the folder that receives the
     * restart script.
     */
    LanguageWindow(LanguageFileSetter setLanguageFile, const QString &dataDir, QWidget *parent = nullptr);

    /** The text of the entry that was selected when the window was created. */
    QString initialLanguage() const { return m_initialLanguage; }

    /**
     * The name of the flag image of a list entry, one of flagImageNames(): the entry's
     * country code for the 27 known language names, "flag" for "English", "xx" (the neutral
     * image) for any other text. The comparison is exact.
     */
    static QString flagImageName(const QString &entry);
    /** The 29 flag images by name, in their fixed order; "xx" first. */
    static const QStringList &flagImageNames();
    /** A flag image by name: 16 by 16 pixels, a 16 by 11 flag centred vertically. */
    static QPixmap flagImage(const QString &name);

    /** The address of the maker's translation page. */
    static QString translationPageAddress();

    /** How the restart script is started (replaceable by tests): startDetached by default. */
    static ScriptStarter startScript;

    /** Draws one entry: its flag at the rectangle's top-left corner, its text 16 pixels to the right. */
    void drawLanguageItem(QPainter &painter, int index, const QRect &rect);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /** Fills the translators box for the selected entry. */
    void onLanguageChanged();
    /** OK: closes when the selection is unchanged, else asks and restarts on Yes. */
    void onOkClicked();
    /** Cancel: closes the window. */
    void onCancelClicked();
    /** Opens the translation page in the browser. */
    void onContributeClicked();
    void nameControls();
    void createControls();
    void fillLanguageList();
    void addSorted(const QString &entry);
    void restartInLanguage(const QString &entry);

    LanguageFileSetter m_setLanguageFile;
    QString m_dataDir;
    QString m_initialLanguage;

    // ---- controls ------------------------------------------------------------------------
    QLabel *m_languageLabel = nullptr;
    QComboBox *m_languageCombo = nullptr;
    QLabel *m_translatorsLabel = nullptr;
    QPlainTextEdit *m_translatorsText = nullptr;
    QFrame *m_bottomLine = nullptr;
    QWidget *m_buttonPanel = nullptr;
    QLabel *m_contributeLink = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
