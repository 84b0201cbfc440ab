// The Alt letters (mnemonics) of the real windows, offscreen, in English and in every shipped
// language: each caption of a menu, a window's buttons and labelled controls has exactly one,
// no two in one menu or window share a letter, and they work from the keyboard; where a
// translated text is data (a file, a message, a title, a tooltip) no "&" shows.

#include "windowtesting.h"

#include "core/startup.h"
#include "i18n/languagechoice.h"
#include "i18n/translate.h"
#include "windows/aboutwindow.h"
#include "windows/feedbackwindow.h"
#include "windows/languagewindow.h"
#include "windows/previewwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include <functional>

using namespace WindowTesting;

namespace {

const QString kResourcesDir = QDir::cleanPath(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources"));

/*
 * An entry another part of the program puts into the File menu and the export menu; its letter
 * is kept free in both, in every language, until the menus hold it themselves.
 */
const QString kPreviewCaption = QStringLiteral("&Preview...");

/* Makes a language active by its file name as the program loads it; empty for English. */
bool useLanguage(const QString &fileName)
{
    return loadLanguageFrom(fileName, kResourcesDir, 0) && languageName() == fileName.section(u'.', 0, 0);
}

/* One row for English and one for each language file that ships, so a new language is checked too. */
void addLanguageRows()
{
    QTest::addColumn<QString>("languageFile");
    QTest::newRow("English") << QString();
    for (const QString &file : QDir(kResourcesDir + u"/Languages"_qs).entryList({u"*.lang.txt"_qs}, QDir::Files))
        QTest::newRow(qPrintable(file.section(u'.', 0, 0))) << file;
}

/* The letters a caption marks as its mnemonic ("&&" is a literal "&"), in lower case. */
QString markedLetters(const QString &caption)
{
    QString letters;
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            letters += caption[i + 1].toLower();
        ++i;
    }
    return letters;
}

/* Captions whose Alt letters must differ: one menu, or the controls of one window. */
struct CaptionGroup {
    QString name;
    QStringList captions;
};

/* What is wrong with the groups' mnemonics, one problem a line. */
QStringList mnemonicProblems(const QList<CaptionGroup> &groups)
{
    QStringList problems;
    for (const CaptionGroup &group : groups) {
        QMap<QChar, QString> owner;
        for (const QString &caption : group.captions) {
            const QString letters = markedLetters(caption);
            if (letters.size() != 1) {
                problems << u"%1: \"%2\" has %3 mnemonics"_qs.arg(group.name, caption).arg(letters.size());
                continue;
            }
            if (owner.contains(letters[0]))
                problems << u"%1: \"%2\" and \"%3\" share the letter %4"_qs.arg(group.name, owner[letters[0]], caption,
                                                                                letters);
            else
                owner.insert(letters[0], caption);
        }
    }
    return problems;
}

/* The captions of a menu's entries (a submenu's title among them), separators left out. */
QStringList menuCaptions(const QMenu *menu)
{
    QStringList captions;
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            captions.append(action->text());
    }
    return captions;
}

/* Every menu of window with its entries. */
QList<CaptionGroup> menuGroups(const QWidget &window)
{
    QList<CaptionGroup> groups;
    for (const QMenu *menu : window.findChildren<QMenu *>()) {
        CaptionGroup group{menu->objectName(), menuCaptions(menu)};
        if (group.captions.isEmpty()) // the menu bar's overflow menu, filled only when needed
            continue;
        groups.append(group);
    }
    return groups;
}

/*
 * The controls of window that take the keyboard by their Alt letter: captioned buttons, check
 * boxes and radio buttons, labels that lead to a control, and the menu bar's titles.
 */
CaptionGroup controlGroup(const QWidget &window)
{
    CaptionGroup group{QString::fromLatin1(window.metaObject()->className()), {}};
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (!button->text().isEmpty()) // icon-only buttons have no caption
            group.captions.append(button->text());
    }
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (label->buddy())
            group.captions.append(label->text());
    }
    if (const auto *bar = window.findChild<QMenuBar *>()) {
        for (const QAction *title : bar->actions())
            group.captions.append(title->text());
    }
    return group;
}

/* The key of a caption's mnemonic, as Qt's shortcut for it. */
QKeyCombination mnemonicKey(const QString &caption)
{
    return QKeySequence::mnemonic(caption)[0];
}

/* Types key on widget; a letter of any script is typed with its text, as a keyboard sends it. */
void typeKey(QWidget *widget, QKeyCombination key)
{
    const bool character = key.key() < Qt::Key_Escape;
    const QString text = character ? QString(QChar(char16_t(key.key()))).toLower() : QString();
    QTest::sendKeyEvent(QTest::Click, widget, key.key(), text, key.keyboardModifiers());
}

/* The texts of window and its children that are shown as they are: its title and every tooltip. */
QStringList plainTexts(const QWidget &window)
{
    QStringList texts{window.windowTitle(), window.toolTip()};
    for (const QWidget *child : window.findChildren<QWidget *>())
        texts << child->toolTip() << child->windowTitle();
    return texts;
}

} // namespace

class TestMnemonics : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        runStartup(QCoreApplication::applicationFilePath());
    }

    void init()
    {
        loadedCards().clearLoaded();
        Dialogs::setAnsweringMode(true);
    }

    void cleanup()
    {
        clearActiveLanguage();
        Dialogs::setAnsweringMode(false);
    }

    void everyWindowHasUniqueMnemonics_data() { addLanguageRows(); }

    void everyWindowHasUniqueMnemonics()
    {
        QFETCH(QString, languageFile);
        QVERIFY(useLanguage(languageFile));
        QList<CaptionGroup> groups;

        MainWindow form;
        groups << controlGroup(form) << menuGroups(form);
        QCOMPARE(form.findChild<QMenuBar *>()->actions().size(), 2);
        QVERIFY(form.findChildren<QMenu *>().size() >= 6); // File, Help, tray, load, export, CSV

        // The question when the window is closed during an export, as the program asks it.
        std::atomic<bool> released = false;
        form.setExportObserver([&](ExportStage, int) { holdUntil(released); });
        form.loadFile(writeFile(m_dir.filePath(u"cards.vcf"_qs), makeCards(3, u"Ask"_qs)));
        answerSave(m_dir.filePath(u"asked.csv"_qs));
        form.exportDefaultCsv();
        form.close(); // no answer queued: the window stays open
        released = true;
        QVERIFY(waitForJobs(form));
        const QList<Dialogs::AskedDialog> closeQuestion = Dialogs::takeAskedDialogs();
        QCOMPARE(closeQuestion.size(), 1);
        QCOMPARE(closeQuestion.at(0).buttonTexts.size(), 3);
        groups << CaptionGroup{u"close question"_qs, closeQuestion.at(0).buttonTexts};

        LanguageWindow language([](const QString &, QString *) { return false; }, m_dir.path());
        groups << controlGroup(language);
        // The restart question, for another language than the active one.
        auto *combo = control<QComboBox>(language, "languageCombo");
        combo->setCurrentIndex(combo->currentIndex() == 0 ? 1 : 0);
        control<QPushButton>(language, "okButton")->click();
        const QList<Dialogs::AskedDialog> restartQuestion = Dialogs::takeAskedDialogs();
        QCOMPARE(restartQuestion.size(), 1);
        QCOMPARE(restartQuestion.at(0).buttonTexts.size(), 2);
        groups << CaptionGroup{u"restart question"_qs, restartQuestion.at(0).buttonTexts};

        AboutWindow about(u"Tessaly"_qs, u"2.3"_qs);
        groups << controlGroup(about) << menuGroups(about);
        FeedbackWindow feedback({u"Tessaly"_qs, appIdentity().appCaption, u"2.3"_qs});
        groups << controlGroup(feedback);
        PreviewWindow preview;
        groups << controlGroup(preview);

        // Every menu and window was reached, with its captions.
        QStringList reached;
        for (const CaptionGroup &group : groups) {
            QVERIFY2(!group.captions.isEmpty(), qPrintable(group.name));
            reached << group.name;
        }
        for (const char *name : {"MainWindow", "fileMenu", "helpMenu", "trayMenu", "loadMenu", "exportMenu", "csvMenu",
                                 "LanguageWindow", "AboutWindow", "infoMenu", "FeedbackWindow", "PreviewWindow"})
            QVERIFY2(reached.contains(QLatin1String(name)), name);
        const QStringList problems = mnemonicProblems(groups);
        QVERIFY2(problems.isEmpty(), qPrintable(u"\n  "_qs + problems.join(u"\n  "_qs)));
    }

    // The Preview entry is translated in every shipped language, with one letter of its own.
    void reservedEntryIsTranslated_data() { addLanguageRows(); }

    void reservedEntryIsTranslated()
    {
        QFETCH(QString, languageFile);
        QVERIFY(useLanguage(languageFile));
        QVERIFY(languageFile.isEmpty()
                || translate(withoutMnemonic(kPreviewCaption)) != withoutMnemonic(kPreviewCaption));
        QCOMPARE(markedLetters(translateCaption(kPreviewCaption)).size(), 1);
    }

    void altLetterAnswersTheRestartQuestion_data()
    {
        QTest::addColumn<QString>("languageFile");
        QTest::addColumn<QMessageBox::StandardButton>("button");
        QTest::newRow("English, Yes") << QString() << QMessageBox::Yes;
        QTest::newRow("English, No") << QString() << QMessageBox::No;
        QTest::newRow("German, Yes") << u"German.lang.txt"_qs << QMessageBox::Yes;
        QTest::newRow("Russian, Yes") << u"Russian.lang.txt"_qs << QMessageBox::Yes;
        QTest::newRow("Turkish, No") << u"Turkish.lang.txt"_qs << QMessageBox::No;
    }

    void altLetterAnswersTheRestartQuestion()
    {
        QFETCH(QString, languageFile);
        QFETCH(QMessageBox::StandardButton, button);
        QVERIFY(useLanguage(languageFile));
        Dialogs::setAnsweringMode(false);
        QStringList languagesSet;
        LanguageWindow form(
            [&](const QString &file, QString *error) {
                languagesSet << file;
                *error = u"stored nowhere"_qs;
                return false;
            },
            m_dir.path());
        QVERIFY(activate(form));
        auto *combo = control<QComboBox>(form, "languageCombo");
        combo->setCurrentIndex(combo->findText(languageFile.isEmpty() ? u"German"_qs : u"English"_qs));

        QString caption;
        QStringList plain;
        whenModal<QMessageBox>(this, [&](QMessageBox *box) {
            QVERIFY(QTest::qWaitForWindowActive(box)); // the letter goes through the box's shortcuts
            caption = box->button(button)->text();
            plain << box->windowTitle() << box->text();
            // After Yes the program reports that the choice could not be stored.
            connect(box, &QDialog::finished, this, [&] {
                if (button == QMessageBox::Yes)
                    whenModal<QMessageBox>(this, [](QMessageBox *error) { error->close(); });
            });
            typeKey(box, mnemonicKey(caption));
        });
        control<QPushButton>(form, "okButton")->click();
        QTRY_VERIFY(!QApplication::activeModalWidget());

        QCOMPARE(markedLetters(caption).size(), 1);
        QCOMPARE(languagesSet,
                 button == QMessageBox::Yes ? QStringList{combo->currentText() + u".lang.txt"_qs} : QStringList());
        QVERIFY2(!plain.join(u' ').contains(u'&'), qPrintable(plain.join(u'|')));
    }

    void menuBarOpensFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("languageFile");
        QTest::addColumn<bool>("f10"); // F10, or the File menu's Alt letter
        QTest::newRow("English, F10") << QString() << true;
        QTest::newRow("English, Alt letter") << QString() << false;
        QTest::newRow("German, Alt letter") << u"German.lang.txt"_qs << false;
        QTest::newRow("Russian, Alt letter") << u"Russian.lang.txt"_qs << false;
        QTest::newRow("Russian, F10") << u"Russian.lang.txt"_qs << true;
    }

    void menuBarOpensFromTheKeyboard()
    {
        QFETCH(QString, languageFile);
        QFETCH(bool, f10);
        QVERIFY(useLanguage(languageFile));
        MainWindow form;
        QVERIFY(activate(form));
        auto *fileMenu = control<QMenu>(form, "fileMenu");
        const QKeyCombination key = f10 ? QKeyCombination(Qt::Key_F10) : mnemonicKey(fileMenu->title());
        typeKey(&form, key);
        QTRY_VERIFY(fileMenu->isVisible());
        // Ready for the arrow keys and the entries' letters: the first entry is selected.
        QCOMPARE(fileMenu->activeAction(), fileMenu->actions().constFirst());
        QVERIFY(!control<QMenu>(form, "helpMenu")->isVisible());
        fileMenu->close();
    }

    void exportMenuPlacement_data()
    {
        QTest::addColumn<bool>("fromKeyboard"); // Ctrl+E, or a click on the File menu's entry
        QTest::newRow("Ctrl+E with the mouse over the window") << true;
        QTest::newRow("File menu entry clicked") << false;
    }

    void exportMenuPlacement()
    {
        QFETCH(bool, fromKeyboard);
        MainWindow form;
        QVERIFY(activate(form));
        form.loadFile(writeFile(m_dir.filePath(u"placed.vcf"_qs), makeCards(1, u"Placed"_qs)));
        auto *exportButton = control<GlyphButton>(form, "exportButton");
        auto *fileMenu = control<QMenu>(form, "fileMenu");
        auto *exportAction = control<QAction>(form, "exportAction");
        MenuWatch watch(control<QMenu>(form, "exportMenu"));
        // The pointer rests over the window, away from the button, where the menu fits beside it.
        const QPoint pointer = form.mapToGlobal(QPoint(10, 60));
        QCursor::setPos(pointer);
        QPoint clickedAt;
        if (fromKeyboard) {
            QTest::keyClick(&form, Qt::Key_E, Qt::ControlModifier);
        } else {
            fileMenu->popup(pointer);
            QVERIFY(QTest::qWaitForWindowExposed(fileMenu));
            const QPoint entry = fileMenu->actionGeometry(exportAction).topLeft() + QPoint(20, 5);
            clickedAt = fileMenu->mapToGlobal(entry);
            QCursor::setPos(clickedAt);
            QTest::mouseClick(fileMenu, Qt::LeftButton, {}, entry);
        }
        QTRY_COMPARE(watch.shown, 1);
        QTRY_VERIFY(!control<QMenu>(form, "exportMenu")->isVisible());
        QCOMPARE(watch.lastPos,
                 fromKeyboard ? exportButton->mapToGlobal(QPoint(0, exportButton->height())) : clickedAt);
    }

    // Alt letters choose the feedback window's panels and reach its address field.
    void feedbackChoicesByAltLetter()
    {
        QVERIFY(useLanguage(u"German.lang.txt"_qs));
        FeedbackWindow window({u"Tessaly"_qs, appIdentity().appCaption, u"2.3"_qs});
        QVERIFY(activate(window));
        const QString dislike = control<QFrame>(window, "dislikePanel")->findChild<QLabel *>(u"caption"_qs)->text();
        typeKey(&window, mnemonicKey(dislike));
        QVERIFY(window.isChosen(control<QFrame>(window, "dislikePanel")));
        QCOMPARE(QApplication::focusWidget(), control<QFrame>(window, "dislikePanel"));
        const QString like = control<QFrame>(window, "likePanel")->findChild<QLabel *>(u"caption"_qs)->text();
        typeKey(&window, mnemonicKey(like));
        QVERIFY(window.isChosen(control<QFrame>(window, "likePanel"))
                && !window.isChosen(control<QFrame>(window, "dislikePanel")));
        typeKey(&window, mnemonicKey(control<QLabel>(window, "emailLabel")->text()));
        QCOMPARE(QApplication::focusWidget(), control<QLineEdit>(window, "emailEdit"));
        // The phrase sent is the caption as text.
        QCOMPARE(window.feedbackText(), u"I like it! (Gefällt mir!)\r"_qs);
    }

    // Where the translated texts are data, the captions' marks stay out: a whole export in
    // each language, its file and its message, the windows' titles and tooltips.
    void noMarkOutsideCaptions_data() { addLanguageRows(); }

    void noMarkOutsideCaptions()
    {
        QFETCH(QString, languageFile);
        QVERIFY(useLanguage(languageFile));
        MainWindow form;
        form.loadFile(writeFile(m_dir.filePath(u"data.vcf"_qs), makeCards(2, u"Data"_qs)));
        const QString target = m_dir.filePath(u"data.csv"_qs);
        QFile::remove(target);
        answerSave(target);
        control<QAction>(form, "outlookCsvAction")->trigger(); // the headers on
        QTRY_VERIFY(form.runningJobs() > 0 || QFileInfo::exists(target));
        QVERIFY(waitForJobs(form));
        const QByteArray written = readFile(target);
        QVERIFY(written.contains("First Name"));

        QStringList shown;
        for (const Dialogs::ShownMessage &message : Dialogs::takeShownMessages())
            shown << message.caption << message.text;
        QCOMPARE(shown.size(), 2); // the success message
        AboutWindow about(u"Tessaly"_qs, u"2.3"_qs);
        FeedbackWindow feedback({u"Tessaly"_qs, appIdentity().appCaption, u"2.3"_qs});
        LanguageWindow language([](const QString &, QString *) { return false; }, m_dir.path());
        for (const QWidget *window : std::initializer_list<const QWidget *>{&form, &about, &feedback, &language})
            shown << plainTexts(*window);
        QVERIFY2(!written.contains('&'), written.constData());
        QVERIFY2(!shown.join(u'|').contains(u'&'), qPrintable(shown.join(u'|')));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMnemonics)
#include "tst_mnemonics.moc"
