// The main window driven as a user drives it: its state at the start, captions and layout,
// loading by button, menu, drop and command line, Clear, load warnings, a language file gone
// after the start and the help address (offscreen platform). The export menu, export jobs,
// the update check and the dialog wrapper have test programs of their own.

#include "windowtesting.h"

#include "testserver.h"

#include "core/startup.h"
#include "i18n/languagechoice.h"
#include "i18n/translate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QSystemTrayIcon>

using namespace WindowTesting;

namespace {

const QString kLoadCaption = QStringLiteral("&Load vCards from VCF file...");

QList<QWidget *> exportControls(const MainWindow &form)
{
    return {control<GlyphButton>(form, "exportButton"), control<QRadioButton>(form, "ansiRadio"),
            control<QRadioButton>(form, "utf8Radio"),   control<QRadioButton>(form, "utf16Radio"),
            control<QCheckBox>(form, "headersCheck"),   control<QCheckBox>(form, "sortCheck"),
            control<QLabel>(form, "encodingLabel"),     control<QLabel>(form, "optionsLabel")};
}

bool allEnabled(const QList<QWidget *> &controls, bool enabled)
{
    return std::all_of(controls.begin(), controls.end(), [enabled](QWidget *w) { return w->isEnabled() == enabled; });
}

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

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void stateAtStart();
    void layoutFitsAndNothingOverlaps();
    void withoutTrayTheWindowRunsOn();
    void longTranslatedCaptionsWiden_data();
    void longTranslatedCaptionsWiden();

    void loadOneThenTwo();
    void loadWarnings_data();
    void loadWarnings();
    void typedMissingFileLoadsNothing();
    void clearKeepsOptions_data();
    void clearKeepsOptions();
    void dropLoadsOnlyVcfFiles();
    void commandLine_data();
    void commandLine();

    void languageFileRemovedAfterStart();
    void testHelpAddress();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // What the cases change, as the program found it; cleanup() puts it back.
    const SavedVariable m_webHost{"TESSALY_WEB_HOST"};
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestWebServer::trustTestAuthority();
    runStartup(QCoreApplication::applicationFilePath());
    clearActiveLanguage();
}

void TestMainWindow::init()
{
    loadedCards().clearLoaded();
    Dialogs::setAnsweringMode(true);
}

void TestMainWindow::cleanup()
{
    m_webHost.restore();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    clearActiveLanguage();
    Dialogs::setAnsweringMode(true);
    QCOMPARE(QApplication::overrideCursor(), nullptr); // every busy cursor was restored
}

// ---- start ----------------------------------------------------------------------------------

void TestMainWindow::stateAtStart()
{
    MainWindow form;
    QVERIFY(allEnabled(exportControls(form), false));
    QVERIFY(control<GlyphButton>(form, "loadButton")->isEnabled()
            && control<QPushButton>(form, "feedbackButton")->isEnabled()
            && control<QPushButton>(form, "aboutButton")->isEnabled());
    QVERIFY(!control<QRadioButton>(form, "ansiRadio")->isChecked()
            && control<QRadioButton>(form, "utf8Radio")->isChecked()
            && !control<QRadioButton>(form, "utf16Radio")->isChecked());
    QVERIFY(control<QCheckBox>(form, "headersCheck")->isChecked()
            && control<QCheckBox>(form, "sortCheck")->isChecked());
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption);
    QCOMPARE(control<GlyphButton>(form, "exportButton")->text(), QStringLiteral("&Export to File..."));
    QCOMPARE(control<QPushButton>(form, "feedbackButton")->text(), QStringLiteral("Send Feed&back..."));
    QCOMPARE(control<QPushButton>(form, "aboutButton")->text(), QStringLiteral("&About..."));
    QCOMPARE(control<QLabel>(form, "encodingLabel")->text(), QStringLiteral("Encoding:"));
    QCOMPARE(control<QLabel>(form, "optionsLabel")->text(), QStringLiteral("Options:"));
    QCOMPARE(control<QCheckBox>(form, "headersCheck")->toolTip(),
             QStringLiteral("This is required for importing in Gmail and Outlook."));
    QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), 0);
    QCOMPARE(control<QProgressBar>(form, "progressBar")->maximum(), 100);
    QCOMPARE(form.windowTitle(), appIdentity().appCaption);
    QCOMPARE(form.exportFlavor(), CsvFlavor::Plain);

    // Fixed size, no maximise.
    QCOMPARE(form.size(), QSize(497, 308));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(form.acceptDrops());

    // Menus in order, with their icons.
    QCOMPARE(control<QMenu>(form, "fileMenu")->title(), QStringLiteral("&File"));
    QCOMPARE(actionTexts(control<QMenu>(form, "fileMenu")->actions()),
             QStringList({QStringLiteral("&Clear"), kLoadCaption, QStringLiteral("&Export to File..."),
                          QStringLiteral("&Preview..."), QStringLiteral("&Stop Export"), QStringLiteral("-"),
                          QStringLiteral("E&xit")}));
    QCOMPARE(control<QAction>(form, "stopExportAction")->shortcut(), QKeySequence(Qt::Key_Escape));
    QCOMPARE(control<QMenu>(form, "helpMenu")->title(), QStringLiteral("&Help"));
    QCOMPARE(actionTexts(control<QMenu>(form, "helpMenu")->actions()),
             QStringList({QStringLiteral("&Online Help"), QStringLiteral("-"), QStringLiteral("&Update Notifications"),
                          QStringLiteral("-"), QStringLiteral("&Language..."), QStringLiteral("Send Feed&back..."),
                          QStringLiteral("&About")}));
    QCOMPARE(control<QAction>(form, "helpAction")->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(actionTexts(control<QMenu>(form, "trayMenu")->actions()),
             QStringList({QStringLiteral("&Online Help"), QStringLiteral("-"), QStringLiteral("&Language..."),
                          QStringLiteral("Send Feed&back..."), QStringLiteral("&About"), QStringLiteral("-"),
                          QStringLiteral("E&xit")}));
    QCOMPARE(actionTexts(control<QMenu>(form, "loadMenu")->actions()), QStringList({QStringLiteral("&Clear")}));
    for (QMenu *menu :
         {control<QMenu>(form, "fileMenu"), control<QMenu>(form, "helpMenu"), control<QMenu>(form, "trayMenu")}) {
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator() && action != control<QAction>(form, "updateNotificationsAction"))
                QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        }
    }
    for (QPushButton *button :
         {static_cast<QPushButton *>(control<GlyphButton>(form, "loadButton")),
          static_cast<QPushButton *>(control<GlyphButton>(form, "exportButton")),
          control<QPushButton>(form, "feedbackButton"), control<QPushButton>(form, "aboutButton")})
        QVERIFY2(!button->icon().pixmap(32).isNull(), qPrintable(button->text()));
}

void TestMainWindow::layoutFitsAndNothingOverlaps()
{
    MainWindow form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The longest load caption the window shows in ordinary use.
    loadedCards().loadedFileCount = 99;
    form.loadFile(writeFile(path(QStringLiteral("fit.vcf")), makeCards(1, QStringLiteral("Fit"))));

    QCOMPARE(control<QLabel>(form, "encodingLabel")->width(), control<QLabel>(form, "optionsLabel")->width());
    QCOMPARE(control<QRadioButton>(form, "ansiRadio")->mapTo(&form, QPoint()).x(),
             control<QCheckBox>(form, "sortCheck")->mapTo(&form, QPoint()).x());
    const QList<QWidget *> controls{
        control<QMenuBar>(form, "mainMenuBar"),       control<GlyphButton>(form, "loadButton"),
        control<QLabel>(form, "encodingLabel"),       control<QRadioButton>(form, "ansiRadio"),
        control<QRadioButton>(form, "utf8Radio"),     control<QRadioButton>(form, "utf16Radio"),
        control<QLabel>(form, "optionsLabel"),        control<QCheckBox>(form, "sortCheck"),
        control<QCheckBox>(form, "headersCheck"),     control<GlyphButton>(form, "exportButton"),
        control<QPushButton>(form, "feedbackButton"), control<QPushButton>(form, "aboutButton"),
        control<QProgressBar>(form, "progressBar")};
    QList<QRect> rects;
    for (QWidget *widget : controls) {
        const QRect rect(widget->mapTo(&form, QPoint()), widget->size());
        QVERIFY2(form.rect().contains(rect), widget->metaObject()->className());
        for (qsizetype i = 0; i < rects.size(); ++i)
            QVERIFY2(!rects.at(i).intersects(rect),
                     qPrintable(QStringLiteral("%1 overlaps control %2")
                                    .arg(QLatin1String(widget->metaObject()->className()))
                                    .arg(i)));
        rects.append(rect);
        // Captions are never cut.
        QVERIFY2(widget->width() >= widget->sizeHint().width() || widget == control<QProgressBar>(form, "progressBar")
                     || widget == control<QMenuBar>(form, "mainMenuBar"),
                 qPrintable(widget->objectName() + QString::number(widget->width())));
    }
    QCOMPARE(control<QMenuBar>(form, "mainMenuBar")->height(), 25);
    QCOMPARE(control<GlyphButton>(form, "loadButton")->height(), 50);
    QCOMPARE(control<GlyphButton>(form, "exportButton")->height(), 50);
    QCOMPARE(control<QWidget>(form, "encodingPanel")->height(), 40);
    QCOMPARE(control<QProgressBar>(form, "progressBar")->height(), 17);
    QCOMPARE(control<QPushButton>(form, "feedbackButton")->height(), 50);
    for (QPushButton *button : {static_cast<QPushButton *>(control<GlyphButton>(form, "loadButton")),
                                static_cast<QPushButton *>(control<GlyphButton>(form, "exportButton"))}) {
        const int needed = 10 + 32 + button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(needed < button->width(), qPrintable(button->text()));
    }
}

void TestMainWindow::withoutTrayTheWindowRunsOn()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a notification area");
    MainWindow form;
    QCOMPARE(form.findChild<QSystemTrayIcon *>(), nullptr);
    QVERIFY(control<QMenu>(form, "trayMenu") != nullptr); // the menu is still there for a tray that comes later
    form.show();
    form.loadFile(writeFile(path(QStringLiteral("tray.vcf")), makeCards(1, QStringLiteral("Tray"))));
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption + QStringLiteral(" [1]"));
}

void TestMainWindow::longTranslatedCaptionsWiden_data()
{
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("sort");
    QTest::newRow("German") << QStringLiteral("&Kopfzeile") << QStringLiteral("&Sortieren");
    QTest::newRow("long Headers") << QStringLiteral("&Kopfzeilen der Spalten schreiben")
                                  << QStringLiteral("&Sortieren");
}

void TestMainWindow::longTranslatedCaptionsWiden()
{
    QFETCH(QString, headers);
    QFETCH(QString, sort);
    int englishWidth = 0;
    {
        MainWindow english;
        englishWidth = control<QCheckBox>(english, "headersCheck")->width();
    }
    setActiveLanguage(path(QStringLiteral("Test.lang.txt")), QStringLiteral("Test"),
                      {QStringLiteral("{Headers}") + headers, QStringLiteral("{Sort}") + sort,
                       QStringLiteral("{Encoding:}Codierung:"), QStringLiteral("{Options:}Optionen der Ausgabe:")});
    MainWindow form;
    QCOMPARE(control<QCheckBox>(form, "headersCheck")->text(), headers);
    QCOMPARE(control<QCheckBox>(form, "sortCheck")->text(), sort);
    QCOMPARE(control<QLabel>(form, "optionsLabel")->text(), QStringLiteral("Optionen der Ausgabe:"));
    QCOMPARE(control<QRadioButton>(form, "ansiRadio")->text(), QStringLiteral("A&NSI")); // never translated
    QCOMPARE(form.windowTitle(), appIdentity().appCaption);
    for (QCheckBox *box : {control<QCheckBox>(form, "headersCheck"), control<QCheckBox>(form, "sortCheck")})
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(withoutMnemonic(box->text())) + 30);
    if (headers.size() > 10)
        QVERIFY(control<QCheckBox>(form, "headersCheck")->width() > englishWidth);
    // The wider label sets both widths.
    QCOMPARE(control<QLabel>(form, "encodingLabel")->width(), control<QLabel>(form, "optionsLabel")->width());
    QVERIFY(control<QLabel>(form, "encodingLabel")->width()
            >= control<QLabel>(form, "optionsLabel")
                   ->fontMetrics()
                   .horizontalAdvance(control<QLabel>(form, "optionsLabel")->text()));
}

// ---- loading ----------------------------------------------------------------------------------

void TestMainWindow::loadOneThenTwo()
{
    MainWindow form;
    const QString first = writeFile(path(QStringLiteral("first.vcf")), makeCards(2, QStringLiteral("First")));
    const QString second = writeFile(path(QStringLiteral("second.vcf")), makeCards(1, QStringLiteral("Second")));

    Dialogs::setNextOpenFileNames({first});
    control<GlyphButton>(form, "loadButton")->click();
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption + QStringLiteral(" [1]"));
    QVERIFY(allEnabled(exportControls(form), true));
    QCOMPARE(loadedCards().loadedFileCount, 1);

    // The File menu entry does what the button does; files load in the dialog's order.
    Dialogs::setNextOpenFileNames({second, first});
    control<QAction>(form, "loadAction")->trigger();
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption + QStringLiteral(" [3]"));
    QCOMPARE(loadedCards().loadedFileCount, 3);
    const QStringList lines = loadedCards().loadedLines.toStringList();
    QCOMPARE(lines.count(QString()), 3); // one empty line after each file
    QVERIFY(lines.indexOf(QStringLiteral("FN:Second 1")) < lines.lastIndexOf(QStringLiteral("FN:First 1")));
    QCOMPARE(lines.count(QStringLiteral("FN:First 2")), 2);
    QCOMPARE(Dialogs::openDialogCount(), 2);
    QVERIFY(Dialogs::takeShownMessages().isEmpty());

    // A cancelled dialog does nothing.
    control<GlyphButton>(form, "loadButton")->click();
    QCOMPARE(loadedCards().loadedFileCount, 3);
}

void TestMainWindow::loadWarnings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("textStart");
    QTest::addColumn<QString>("textEnd"); // after the file's name
    QTest::addColumn<int>("count");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("Warning")
                                << QStringLiteral("The file is empty!\r\rFilename: ")
                                << QStringLiteral("matches the format of the file.") << 1;
    QTest::newRow("not UTF-8") << QByteArray("BEGIN:VCARD\r\nFN:J\xf6rg\r\nEND:VCARD\r\n") << QStringLiteral("WARNING")
                               << QStringLiteral("No mapping for the Unicode character exists in the target multi-byte "
                                                 "code page\r\rFilename: ")
                               << QStringLiteral("\r\rThe file may be saved in another encoding: choose ANSI or UTF-16 "
                                                 "and load it again.")
                               << 0;
}

void TestMainWindow::loadWarnings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, caption);
    QFETCH(QString, textStart);
    QFETCH(QString, textEnd);
    QFETCH(int, count);
    MainWindow form;
    const QString file = writeFile(path(QStringLiteral("warn.vcf")), bytes);
    form.loadFile(file);
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).icon, MessageIcon::Warning);
    QCOMPARE(messages.at(0).caption, caption);
    // The file is named, so that a warning after a selection of many says which one it is.
    QVERIFY2(messages.at(0).text.startsWith(textStart + file), qPrintable(messages.at(0).text));
    QVERIFY2(messages.at(0).text.endsWith(textEnd), qPrintable(messages.at(0).text));
    QCOMPARE(loadedCards().loadedFileCount, count);
    // Even a failed load shows the count and enables the export controls.
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption + QStringLiteral(" [%1]").arg(count));
    QVERIFY(allEnabled(exportControls(form), true));
}

void TestMainWindow::typedMissingFileLoadsNothing()
{
    // A typed name where no file is, or a folder's: a warning names it, nothing else changes.
    MainWindow form;
    const QString missing = path(QStringLiteral("no such file.vcf"));
    Dialogs::setNextOpenFileNames({missing, m_dir.path()});
    control<GlyphButton>(form, "loadButton")->click();
    QCOMPARE(loadedCards().loadedFileCount, 0);
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption);
    QVERIFY(allEnabled(exportControls(form), false));
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).caption, QStringLiteral("WARNING"));
    QCOMPARE(Dialogs::displayText(messages.at(0).text),
             QStringLiteral("The file does not exist.\n\nFilename: ") + missing);
    QCOMPARE(Dialogs::displayText(messages.at(1).text),
             QStringLiteral("This is a folder, not a file.\n\nFilename: ") + m_dir.path());
}

void TestMainWindow::clearKeepsOptions_data()
{
    QTest::addColumn<bool>("fromLoadButtonMenu");
    QTest::newRow("File menu") << false;
    QTest::newRow("load button menu") << true;
}

void TestMainWindow::clearKeepsOptions()
{
    QFETCH(bool, fromLoadButtonMenu);
    MainWindow form;
    form.loadFile(writeFile(path(QStringLiteral("clear.vcf")), makeCards(3, QStringLiteral("Clear"))));
    form.exportOutlookCsv(); // dialog cancelled: ANSI, Headers, the Outlook flavour stay
    control<QCheckBox>(form, "headersCheck")->setChecked(false);
    control<QCheckBox>(form, "sortCheck")->setChecked(false);
    form.setProgress(55);

    (fromLoadButtonMenu ? control<QAction>(form, "loadMenuClearAction") : control<QAction>(form, "clearAction"))
        ->trigger();
    QVERIFY(loadedCards().loadedLines.isEmpty());
    QCOMPARE(loadedCards().loadedFileCount, 0);
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption);
    QVERIFY(allEnabled(exportControls(form), false));
    QCOMPARE(control<QProgressBar>(form, "progressBar")->value(), 0);
    QVERIFY(control<QRadioButton>(form, "ansiRadio")->isChecked());
    QVERIFY(!control<QCheckBox>(form, "headersCheck")->isChecked());
    QVERIFY(!control<QCheckBox>(form, "sortCheck")->isChecked());
    QCOMPARE(form.exportFlavor(), CsvFlavor::Outlook);

    // Clear with nothing loaded only disables the controls.
    form.enableExportControls();
    form.clearLoaded();
    QVERIFY(allEnabled(exportControls(form), false));
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption);
}

void TestMainWindow::dropLoadsOnlyVcfFiles()
{
    MainWindow form;
    form.show();
    const QString folder = path(QStringLiteral("folder.vcf"));
    QDir().mkpath(folder);
    const QString text = writeFile(path(QStringLiteral("notes.txt")), makeCards(1, QStringLiteral("Text")));
    const QString upper = writeFile(path(QStringLiteral("UPPER.VCF")), makeCards(1, QStringLiteral("Upper")));
    // A path longer than 255 characters is taken whole.
    QString deep = m_dir.path();
    while (deep.size() < 300)
        deep += QStringLiteral("/a-rather-long-folder-name");
    const QString longPath = writeFile(deep + QStringLiteral("/long.vcf"), makeCards(1, QStringLiteral("Long")));
    QVERIFY(longPath.size() > 255);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(text), QUrl::fromLocalFile(upper),
                  QUrl::fromLocalFile(longPath)});
    const QPoint at = form.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);

    QCOMPARE(loadedCards().loadedFileCount, 2);
    const QStringList lines = loadedCards().loadedLines.toStringList();
    QVERIFY(!lines.contains(QStringLiteral("FN:Text 1")));
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) >= 0);
    QVERIFY(lines.indexOf(QStringLiteral("FN:Upper 1")) < lines.indexOf(QStringLiteral("FN:Long 1")));
    QCOMPARE(control<GlyphButton>(form, "loadButton")->text(), kLoadCaption + QStringLiteral(" [2]"));
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("warnings"); // a path that names no file is named in a warning
    const QString spaced = path(QStringLiteral("my address book.vcf"));
    const QString plain = path(QStringLiteral("plain.vcf"));
    QTest::newRow("unquoted path with blanks") << spaced.split(u' ') << 1 << 0;
    QTest::newRow("quoted path with blanks") << QStringList{spaced} << 1 << 0;
    QTest::newRow("two files") << QStringList{plain, plain} << 0 << 1;
    QTest::newRow("missing file") << QStringList{path(QStringLiteral("missing.vcf"))} << 0 << 1;
    QTest::newRow("a folder") << QStringList{m_dir.path()} << 0 << 1;
    QTest::newRow("none") << QStringList() << 0 << 0;
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, count);
    writeFile(path(QStringLiteral("my address book.vcf")), makeCards(1, QStringLiteral("Spaced")));
    writeFile(path(QStringLiteral("plain.vcf")), makeCards(1, QStringLiteral("Plain")));
    MainWindow form(arguments);
    QCOMPARE(loadedCards().loadedFileCount, 0); // the file loads when the window shows
    form.show();
    QCOMPARE(loadedCards().loadedFileCount, count);
    QCOMPARE(allEnabled(exportControls(form), true), count > 0);
    form.hide();
    form.show(); // only the first showing loads
    QCOMPARE(loadedCards().loadedFileCount, count);
    QTEST(int(Dialogs::takeShownMessages().size()), "warnings");
}

// ---- language and help ---------------------------------------------------------------------------

void TestMainWindow::languageFileRemovedAfterStart()
{
    // A program folder of its own whose language file goes away once it is loaded.
    const QString program = path(QStringLiteral("program"));
    QDir().mkpath(program + QStringLiteral("/Languages"));
    QVERIFY(QFile::copy(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources/Languages/German.lang.txt"),
                        program + QStringLiteral("/Languages/German.lang.txt")));
    QVERIFY(loadLanguageFrom(QStringLiteral("German.lang.txt"), program, 1033));
    QVERIFY(QDir(program).removeRecursively());

    // The texts stay as loaded: in a new window and in an export's messages.
    MainWindow form;
    QCOMPARE(control<QAction>(form, "clearAction")->text(), QStringLiteral("Lee&ren"));
    form.loadFile(writeFile(path(QStringLiteral("german.vcf")), makeCards(1, QStringLiteral("Deutsch"))));
    answerSave(path(QStringLiteral("german.csv")));
    form.exportDefaultCsv();
    QVERIFY(waitForJobs(form));
    const QList<Dialogs::ShownMessage> messages = Dialogs::takeShownMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).caption, QStringLiteral("ERFOLG"));
    QCOMPARE(messages.at(0).text, QStringLiteral("Vorgang abgeschlossen!\r\rDateiname: ")
                                      + path(QStringLiteral("german.csv"))
                                      + QStringLiteral("\r\r1 Zeilen aus 1 Kontakten (0 Duplikate entfernt)"));
}

void TestMainWindow::testHelpAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    qputenv("TESSALY_WEB_HOST", "127.0.0.1:8080");
    MainWindow form;
    control<QAction>(form, "helpAction")->trigger();
    control<QAction>(form, "trayHelpAction")->trigger();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_F1);

    QString page = appIdentity().appDescription.toLower();
    page.replace(u' ', u'-');
    QVERIFY(!page.isEmpty());
    const QUrl expected(QStringLiteral("http://127.0.0.1:8080/help/") + page + u'/');
    QCOMPARE(catcher.urls, QList<QUrl>({expected, expected, expected}));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
