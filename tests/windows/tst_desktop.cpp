// The main window as a desktop user meets it (offscreen): Qt's own dialogs in the window's
// language, the save dialog's suggested name, closing and "Clear" while an export runs, and
// the keyboard.

#include "windowtesting.h"

#include "core/startup.h"
#include "i18n/languagechoice.h"
#include "i18n/qttranslations.h"
#include "i18n/translate.h"
#include "windows/feedbackwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace WindowTesting;

namespace {

const QString kResourcesDir = QDir::cleanPath(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources"));

/* Makes a shipped language file active, with Qt's catalogue for it. */
bool useLanguage(const QString &fileName)
{
    if (!loadLanguageFrom(fileName, kResourcesDir, 0))
        return false;
    return installQtTranslations();
}

QStringList buttonTexts(const QList<QAbstractButton *> &buttons)
{
    QStringList texts;
    for (const QAbstractButton *button : buttons)
        texts.append(button->text());
    texts.sort();
    return texts;
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void saveDialogSpeaksTheWindowsLanguage_data();
    void saveDialogSpeaksTheWindowsLanguage();
    void suggestedNameFollowsTheType_data();
    void suggestedNameFollowsTheType();
    void enterSavesUnderTheSuggestedName();
    void clearDuringAnExport_data();
    void clearDuringAnExport();
    void closingDuringAnExportWithoutTray_data();
    void closingDuringAnExportWithoutTray();

    void shortcuts();
    void tabReachesTheCheckedEncoding();
    void feedbackChoicesByKeyboard();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestDesktop::initTestCase()
{
    QVERIFY(m_dir.isValid());
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
    installQtTranslations();
}

void TestDesktop::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestDesktop::cleanup()
{
    clearActiveLanguage();
    installQtTranslations();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

// ---- Qt's dialogs in the window's language ------------------------------------------------------

void TestDesktop::saveDialogSpeaksTheWindowsLanguage_data()
{
    QTest::addColumn<QString>("languageFile");
    QTest::addColumn<QString>("exportCaption"); // the window's own caption, for comparison
    QTest::addColumn<QStringList>("labels");    // look in, file name, file type
    QTest::addColumn<QStringList>("buttons");   // the dialog's buttons, sorted
    QTest::addColumn<QString>("question");      // the overwrite question, %1 for the file name
    QTest::addColumn<QStringList>("answers");   // its buttons, sorted
    QTest::newRow("German") << u"German.lang.txt"_qs << u"In Datei &exportieren..."_qs
                            << QStringList{u"Suchen in:"_qs, u"Datei&name:"_qs, u"Dateien des Typs:"_qs}
                            << QStringList{u"Abbrechen"_qs, u"S&peichern"_qs}
                            << u"Die Datei %1 existiert bereits.\nSoll sie überschrieben werden?"_qs
                            << QStringList{u"&Ja"_qs, u"&Nein"_qs};
    QTest::newRow("Russian") << u"Russian.lang.txt"_qs << u"&Экспорт в файл..."_qs
                             << QStringList{u"Перейти к:"_qs, u"&Имя файла:"_qs, u"Типы файлов:"_qs}
                             << QStringList{u"&Сохранить"_qs, u"Отмена"_qs} << u"%1 уже существует.\nЗаменить его?"_qs
                             << QStringList{u"&Да"_qs, u"&Нет"_qs};
    QTest::newRow("English") << QString() << u"&Export to File..."_qs
                             << QStringList{u"Look in:"_qs, u"File &name:"_qs, u"Files of type:"_qs}
                             << QStringList{u"&Save"_qs, u"Cancel"_qs}
                             << u"%1 already exists.\nDo you want to replace it?"_qs
                             << QStringList{u"&No"_qs, u"&Yes"_qs};
}

void TestDesktop::saveDialogSpeaksTheWindowsLanguage()
{
    QFETCH(QString, languageFile);
    QFETCH(QString, exportCaption);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, buttons);
    QFETCH(QString, question);
    QFETCH(QStringList, answers);
    if (!languageFile.isEmpty())
        QVERIFY(useLanguage(languageFile));
    MainWindow form;
    QCOMPARE(control<GlyphButton>(form, "exportButton")->text(), exportCaption);
    form.loadFile(writeFile(path(u"speak.vcf"_qs), makeCards(2, u"Speak"_qs)));
    const QString existing = writeFile(path(u"there.csv"_qs), "old");
    Dialogs::setAnsweringMode(false);

    // The dialog as it opens, then the question after Enter on a file that exists.
    QStringList seenLabels;
    QStringList seenButtons;
    QString seenQuestion;
    QStringList seenAnswers;
    whenModal<QFileDialog>(this, [&](QFileDialog *dialog) {
        for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
            const auto *label = dialog->findChild<QLabel *>(QLatin1String(name));
            seenLabels.append(label ? label->text() : u"<none>"_qs);
        }
        if (const auto *box = dialog->findChild<QDialogButtonBox *>(u"buttonBox"_qs))
            seenButtons = buttonTexts(box->buttons());
        whenModal<QMessageBox>(this, [&, dialog](QMessageBox *box) {
            seenQuestion = box->text();
            seenAnswers = buttonTexts(box->buttons());
            box->button(QMessageBox::No)->click();
            // Refused: the dialog stays open, and is cancelled.
            QTimer::singleShot(50, dialog, &QDialog::reject);
        });
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_qs);
        QVERIFY(name);
        dialog->setDirectory(m_dir.path());
        name->setText(u"there.csv"_qs);
        QTest::keyClick(name, Qt::Key_Return);
    });
    form.exportDefaultCsv();

    QCOMPARE(seenLabels, labels);
    QCOMPARE(seenButtons, buttons);
    QCOMPARE(seenQuestion, question.arg(u"there.csv"_qs));
    QCOMPARE(seenAnswers, answers);
    QCOMPARE(form.runningJobs(), 0);
    QCOMPARE(readFile(existing), QByteArray("old"));
}

// ---- the save dialog's suggested name ---------------------------------------------------------

void TestDesktop::suggestedNameFollowsTheType_data()
{
    QTest::addColumn<QString>("first");     // the export menu's entry used first
    QTest::addColumn<QString>("firstName"); // the name chosen for it (with the type index chosen)
    QTest::addColumn<int>("firstIndex");
    QTest::addColumn<QString>("second");    // the entry used next
    QTest::addColumn<QString>("suggested"); // the name the dialog suggests for it
    QTest::addColumn<int>("suggestedIndex");
    QTest::newRow("TXT, then Google CSV")
        << u"txt"_qs << u"plain1.txt"_qs << 4 << u"google"_qs << u"plain1.csv"_qs << 3;
    QTest::newRow("CSV, then XLS") << u"default"_qs << u"list.csv"_qs << 3 << u"xls"_qs << u"list.xls"_qs << 1;
    QTest::newRow("xlsx, then TXT") << u"xls"_qs << u"book.XLSX"_qs << 2 << u"txt"_qs << u"book.txt"_qs << 4;
    QTest::newRow("XLS, then XLS") << u"xls"_qs << u"book.xlsx"_qs << 2 << u"xls"_qs << u"book.xls"_qs << 1;
    QTest::newRow("other extension kept")
        << u"txt"_qs << u"notes.backup"_qs << 4 << u"outlook"_qs << u"notes.backup.csv"_qs << 3;
    QTest::newRow("dotted folder") << u"txt"_qs << u"v1.2/names"_qs << 4 << u"yahoo"_qs << u"v1.2/names.csv"_qs << 3;
}

void TestDesktop::suggestedNameFollowsTheType()
{
    QFETCH(QString, first);
    QFETCH(QString, firstName);
    QFETCH(int, firstIndex);
    QFETCH(QString, second);
    QFETCH(QString, suggested);
    QFETCH(int, suggestedIndex);
    MainWindow form;
    form.loadFile(writeFile(path(u"suggest.vcf"_qs), makeCards(2, u"Suggest"_qs)));
    const QHash<QString, void (MainWindow::*)()> entries{{u"default"_qs, &MainWindow::exportDefaultCsv},
                                                         {u"google"_qs, &MainWindow::exportGoogleCsv},
                                                         {u"outlook"_qs, &MainWindow::exportOutlookCsv},
                                                         {u"yahoo"_qs, &MainWindow::exportYahooCsv},
                                                         {u"xls"_qs, &MainWindow::exportXls},
                                                         {u"txt"_qs, &MainWindow::exportTxt}};
    QDir().mkpath(QFileInfo(path(firstName)).absolutePath());
    answerSave(path(firstName), firstIndex);
    (form.*entries.value(first))();
    QVERIFY(waitForJobs(form));
    QCOMPARE(Dialogs::takeSaveRequests().size(), 1);

    (form.*entries.value(second))(); // cancelled: no answer is queued
    const QList<Dialogs::SaveRequest> requests = Dialogs::takeSaveRequests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).initialPath, path(suggested));
    QCOMPARE(requests.at(0).filterIndex, suggestedIndex);
}

void TestDesktop::enterSavesUnderTheSuggestedName()
{
    MainWindow form;
    form.loadFile(writeFile(path(u"enter.vcf"_qs), makeCards(3, u"Enter"_qs)));
    const QString text = path(u"plain1.txt"_qs);
    answerSave(text, 4);
    form.exportTxt();
    QVERIFY(waitForJobs(form));
    const QByteArray textLayout = readFile(text);
    QVERIFY(textLayout.contains("Enter 3"));

    // The real dialog: Enter takes the suggestion as it stands.
    Dialogs::setAnsweringMode(false);
    QString shownName;
    QString shownType;
    bool questionAsked = false;
    whenModal<QFileDialog>(this, [&](QFileDialog *dialog) {
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_qs);
        QVERIFY(name);
        shownName = name->text();
        shownType = dialog->selectedNameFilter();
        whenModal<QMessageBox>(this, [&](QMessageBox *box) {
            questionAsked = true;
            box->button(QMessageBox::No)->click();
            QTimer::singleShot(50, dialog, &QDialog::reject);
        });
        QTest::keyClick(name, Qt::Key_Return);
    });
    form.exportGoogleCsv();
    Dialogs::setAnsweringMode(true);
    QVERIFY(waitForJobs(form));

    QCOMPARE(shownName, u"plain1.csv"_qs);
    QCOMPARE(shownType, u"CSV File (*.csv)"_qs);
    QVERIFY(!questionAsked);
    QCOMPARE(readFile(text), textLayout); // the text export stays as it was
    const QByteArray google = readFile(path(u"plain1.csv"_qs));
    QVERIFY2(google.contains("Phone 1 - Value") && google.contains("Enter 3"), google.constData());
}

// ---- "Clear" while an export runs ------------------------------------------------------------------

void TestDesktop::clearDuringAnExport_data()
{
    QTest::addColumn<bool>("loadAfterClear");
    QTest::addColumn<bool>("enabledAtTheEnd");
    QTest::newRow("Clear") << false << false;
    QTest::newRow("Clear, then load") << true << true;
}

void TestDesktop::clearDuringAnExport()
{
    QFETCH(bool, loadAfterClear);
    QFETCH(bool, enabledAtTheEnd);
    MainWindow form;
    form.loadFile(writeFile(path(u"running.vcf"_qs), makeCards(3000, u"Running"_qs)));
    const QString later = writeFile(path(u"later.vcf"_qs), makeCards(1, u"Later"_qs));
    const QString target = path(u"running.csv"_qs);
    const QList<QWidget *> controls{static_cast<QWidget *>(control<GlyphButton>(form, "exportButton")),
                                    control<QRadioButton>(form, "ansiRadio"),
                                    control<QRadioButton>(form, "utf8Radio"),
                                    control<QRadioButton>(form, "utf16Radio"),
                                    control<QCheckBox>(form, "headersCheck"),
                                    control<QCheckBox>(form, "sortCheck"),
                                    control<QLabel>(form, "encodingLabel"),
                                    control<QLabel>(form, "optionsLabel")};

    // While the job builds its rows (its export button is disabled then).
    bool cleared = false;
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (cleared || value < 20 || value >= 80)
            return;
        cleared = true;
        form.clearLoaded();
        if (loadAfterClear)
            form.loadFile(later);
    });
    answerSave(target);
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    QVERIFY(cleared);

    // The job finished its own file and told so.
    QCOMPARE(readFile(target).count("\"Running "), 3000);
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).caption, u"SUCCESS"_qs);
    // The controls are as the loaded files have them.
    for (QWidget *control : controls)
        QVERIFY2(control->isEnabled() == enabledAtTheEnd, control->metaObject()->className());
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(),
             u"&Load vCards from VCF file..."_qs + (loadAfterClear ? u" [1]"_qs : QString()));
    if (!enabledAtTheEnd) {
        // Nothing loaded: the File menu's export only beeps, no save dialog, no "No data found!".
        const int beeps = Dialogs::beepCount();
        control<QAction>(form, "exportAction")->trigger();
        QCOMPARE(Dialogs::beepCount() - beeps, 1);
        QVERIFY(Dialogs::takeSaveRequests().size() == 1); // the one of the export above
    }
}

// ---- closing while an export runs ------------------------------------------------------------------

void TestDesktop::closingDuringAnExportWithoutTray_data()
{
    QTest::addColumn<bool>("throughExit"); // the File menu's Exit (Ctrl+Q) instead of the close box
    QTest::addColumn<int>("answer");       // Yes: close when written, No: keep the window, Abort: stop
    QTest::newRow("close box, keep the window") << false << int(QMessageBox::No);
    QTest::newRow("close box, close when written") << false << int(QMessageBox::Yes);
    QTest::newRow("Exit, close when written") << true << int(QMessageBox::Yes);
    QTest::newRow("close box, stop the export") << false << int(QMessageBox::Abort);
}

void TestDesktop::closingDuringAnExportWithoutTray()
{
    QFETCH(bool, throughExit);
    QFETCH(int, answer);
    const bool closeWhenWritten = answer == QMessageBox::Yes;
    const bool stop = answer == QMessageBox::Abort;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a notification area (tst_desktoptray covers it)");
    MainWindow form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.loadFile(writeFile(path(u"closing.vcf"_qs), makeCards(20000, u"Closing"_qs)));
    const QString target = path(u"closing-%1-%2.csv"_qs.arg(answer).arg(throughExit));

    // Once the job builds its rows, the user closes the window; the later reports see whether
    // it is still shown.
    std::atomic<bool> asked = false;
    bool shownWhileWriting = true;
    // The export waits while the rows are built until the user has been asked.
    form.setExportObserver([&](ExportStage, int value) {
        if (value >= 20)
            holdUntil(asked);
    });
    connect(&form, &MainWindow::progressShown, &form, [&](int value) {
        if (asked) {
            shownWhileWriting = shownWhileWriting && (value == 0 || form.isVisible());
            return;
        }
        if (value < 20)
            return;
        asked = true;
        Dialogs::setNextDialogAnswer(QMessageBox::StandardButton(answer));
        if (throughExit)
            control<QAction>(form, "exitAction")->trigger(); // queued: the window closes right after this report
        else
            form.close();
    });
    // The program ends through the event loop; the safety exit fails the test instead of hanging it.
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    safety.start(60000);
    answerSave(target);
    form.exportDefaultCsv();
    if (closeWhenWritten || stop) {
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(form.runningJobs(), 0); // ended once the file was written, or at once when stopped
    } else {
        QVERIFY(waitForJobs(form));
    }
    QVERIFY(asked);
    const QList<Dialogs::AskedDialog> questions = Dialogs::takeAskedDialogs();
    QCOMPARE(questions.size(), 1);
    QCOMPARE(questions.at(0).caption, appIdentity().appCaption);
    QCOMPARE(questions.at(0).text, u"A file is still being exported.\r\rClose the program when the file is written, "
                                   u"or keep the window open?"_qs);
    QCOMPARE(questions.at(0).buttonTexts,
             (QStringList{u"&Close When Written"_qs, u"&Keep Window Open"_qs, u"&Stop Export"_qs}));
    if (stop) {
        // The window closes at once; the export left nothing, and its message went to standard error.
        QVERIFY(!form.isVisible());
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(QDir(path(QString())).entryList({u".tessaly*"_qs}, QDir::AllEntries | QDir::Hidden), QStringList());
        QVERIFY(Dialogs::takeShownMessages().isEmpty());
        return;
    }

    // Without a tray the window stays until the file is written, then closes if asked to.
    QVERIFY(shownWhileWriting);
    QCOMPARE(form.isVisible(), !closeWhenWritten);
    QCOMPARE(form.closesWhenWritten(), false);
    QCOMPARE(readFile(target).count("\"Closing "), 20000);
    // The result was shown in the window all the same.
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).text, u"Process completed!\r\rFilename: "_qs + target
                                      + u"\r\r20000 rows from 20000 contacts (0 duplicates dropped)"_qs);
}

// ---- the keyboard ------------------------------------------------------------------------------

namespace {

/* Receives the addresses the window asks the desktop to open. */
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

void TestDesktop::shortcuts()
{
    MainWindow form;
    // In the menus, where Qt shows them beside the entries.
    QCOMPARE(control<QMenu>(form, "fileMenu")->actions().at(1), control<QAction>(form, "loadAction"));
    QCOMPARE(control<QAction>(form, "loadAction")->shortcut(), QKeySequence(u"Ctrl+O"_qs));
    QCOMPARE(control<QAction>(form, "exportAction")->shortcut(), QKeySequence(u"Ctrl+E"_qs));
    QCOMPARE(control<QAction>(form, "exitAction")->shortcut(), QKeySequence(u"Ctrl+Q"_qs));
    QCOMPARE(control<QAction>(form, "helpAction")->shortcut(), QKeySequence(u"F1"_qs));
    for (QAction *action : {control<QAction>(form, "loadAction"), control<QAction>(form, "exportAction"),
                            control<QAction>(form, "exitAction")})
        QVERIFY(control<QMenu>(form, "fileMenu")->actions().contains(action));
    QVERIFY(control<QMenu>(form, "helpMenu")->actions().contains(control<QAction>(form, "helpAction")));
    QVERIFY(activate(form));

    // Ctrl+O: the open dialog.
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Dialogs::openDialogCount(), 1);

    // Ctrl+E: a beep while nothing is loaded, then the export menu, under its button when the
    // mouse is elsewhere.
    QTest::keyClick(&form, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(Dialogs::beepCount(), 1);
    form.loadFile(writeFile(path(u"keys.vcf"_qs), makeCards(1, u"Keys"_qs)));
    QCursor::setPos(form.frameGeometry().bottomRight() + QPoint(50, 50));
    QPoint menuAt;
    connect(control<QMenu>(form, "exportMenu"), &QMenu::aboutToShow, &form, [&] {
        QTimer::singleShot(0, control<QMenu>(form, "exportMenu"), [&] {
            menuAt = control<QMenu>(form, "exportMenu")->pos();
            control<QMenu>(form, "exportMenu")->close();
        });
    });
    QTest::keyClick(&form, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(menuAt, control<GlyphButton>(form, "exportButton")
                         ->mapToGlobal(QPoint(0, control<GlyphButton>(form, "exportButton")->height())));

    // F1: the help page.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"http"_qs, &catcher, "open");
    QTest::keyClick(&form, Qt::Key_F1);
    QDesktopServices::unsetUrlHandler(u"http"_qs);
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(form.helpAddress())});

    // Ctrl+Q: the window closes (no export runs, so nothing is asked). A window of its own, as
    // the offscreen platform leaves the closed menu the active window.
    MainWindow other;
    QVERIFY(activate(other));
    QTest::keyClick(&other, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!other.isVisible());
    QVERIFY(Dialogs::takeAskedDialogs().isEmpty());
}

void TestDesktop::tabReachesTheCheckedEncoding()
{
    MainWindow form;
    QVERIFY(activate(form));
    form.loadFile(writeFile(path(u"tab.vcf"_qs), makeCards(1, u"Tab"_qs)));
    QVERIFY(control<QButtonGroup>(form, "encodingGroup")->exclusive());
    QCOMPARE(
        control<QButtonGroup>(form, "encodingGroup")->buttons(),
        (QList<QAbstractButton *>{control<QRadioButton>(form, "ansiRadio"), control<QRadioButton>(form, "utf8Radio"),
                                  control<QRadioButton>(form, "utf16Radio")}));

    // Into the row from the load button: the checked encoding, which Space leaves as it is.
    control<GlyphButton>(form, "loadButton")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(form, "utf8Radio"));
    QTest::keyClick(control<QRadioButton>(form, "utf8Radio"), Qt::Key_Space);
    QCOMPARE(form.selectedEncoding(), TextEncoding::Utf8);
    // Out of the row with one Tab, and back with one Shift+Tab.
    QTest::keyClick(control<QRadioButton>(form, "utf8Radio"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QCheckBox>(form, "sortCheck"));
    QTest::keyClick(control<QCheckBox>(form, "sortCheck"), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(form, "utf8Radio"));
    // The arrow keys move the choice.
    QTest::keyClick(control<QRadioButton>(form, "utf8Radio"), Qt::Key_Right);
    QCOMPARE(form.selectedEncoding(), TextEncoding::Utf16);
    QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(form, "utf16Radio"));

    // A preset that changes the encoding moves the stop with it.
    form.exportOutlookCsv(); // ANSI; the save dialog is cancelled
    control<GlyphButton>(form, "loadButton")->setFocus();
    QTest::keyClick(control<GlyphButton>(form, "loadButton"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(form, "ansiRadio"));
}

void TestDesktop::feedbackChoicesByKeyboard()
{
    FeedbackWindow window({u"Tessaly"_qs, appIdentity().appCaption, u"2.3"_qs});
    QVERIFY(activate(window));
    QCOMPARE(QApplication::focusWidget(), control<QPlainTextEdit>(window, "feedbackEdit"));
    // Back from the comment: "I dislike it!", then "I like it!"; Space chooses.
    QTest::keyClick(control<QPlainTextEdit>(window, "feedbackEdit"), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), control<QFrame>(window, "dislikePanel"));
    QTest::keyClick(control<QFrame>(window, "dislikePanel"), Qt::Key_Space);
    QVERIFY(window.isChosen(control<QFrame>(window, "dislikePanel"))
            && !window.isChosen(control<QFrame>(window, "likePanel")));
    QTest::keyClick(control<QFrame>(window, "dislikePanel"), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), control<QFrame>(window, "likePanel"));
    QTest::keyClick(control<QFrame>(window, "likePanel"), Qt::Key_Space);
    QVERIFY(window.isChosen(control<QFrame>(window, "likePanel"))
            && !window.isChosen(control<QFrame>(window, "dislikePanel")));
    QVERIFY(window.feedbackText().startsWith(u"I like it!\r"_qs));
    // Onwards to the comment, the address and Send.
    for (QWidget *next : std::initializer_list<QWidget *>{
             control<QFrame>(window, "dislikePanel"), control<QPlainTextEdit>(window, "feedbackEdit"),
             control<QLineEdit>(window, "emailEdit"), control<QPushButton>(window, "sendButton")}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
