// The language window, offscreen: a real start-up in a temporary program folder (its
// Languages folder and settings.ini), message boxes answered by the test, and the restart
// script's start taken by a recorder, except where the test runs the real script.

#include "core/restartscript.h"
#include "core/startup.h"
#include "i18n/translate.h"
#include "platform/detachedstart.h"
#include "widgets/dialogs.h"
#include "widgets/icons.h"
#include "windows/languagewindow.h"
#include "windowtesting.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using Files = QList<std::pair<QString, QByteArray>>;
Q_DECLARE_METATYPE(Files)

namespace {

const QByteArray kGermanFile = "\xEF\xBB\xBF{INFO:Translated By}Ana, Ben ,Cem\r\n"
                               "{Language}Sprache\r\n{User Interface Language:}Sprache der Benutzeroberfl\xC3\xA4"
                               "che:\r\n"
                               "{Contribute to Translation}An der \xC3\x9C"
                               "bersetzung mitwirken\r\n{OK}OK\r\n{Cancel}Abbrechen\r\n"
                               "{Restart Application?}Programm neu starten?\r\n{Confirmation}Best\xC3\xA4tigung\r\n"
                               "{Yes}Ja\r\n{No}Nein\r\n{ERROR}FEHLER\r\n";
const QByteArray kTurkishFile = "{INFO:Translated By}Can\r\n{OK}Tamam\r\n";
const QByteArray kGermanSetting = "[Settings]\r\nLanguageFile=German.lang.txt\r\n";

/*
 * A program folder of its own, with the given language files in its Languages folder (none:
 * no Languages folder) and the given settings.ini, after the real start-up ran on it. Its
 * folder is writable, so it is the data folder too.
 */
struct ProgramFolder {
    QTemporaryDir dir;

    explicit ProgramFolder(const Files &languageFiles, const QByteArray &settings = {})
    {
        if (!languageFiles.isEmpty())
            QDir().mkpath(dir.filePath(QStringLiteral("Languages")));
        for (const auto &[name, bytes] : languageFiles)
            writeTestFile(dir.filePath(QStringLiteral("Languages/") + name), bytes);
        if (!settings.isEmpty())
            writeTestFile(path(QStringLiteral("settings.ini")), settings);
        runStartup(dir.filePath(QStringLiteral("tessaly")), 1033);
    }

    QString path(const QString &name) const { return dir.filePath(name); }
};

/* The start of the restart script, recorded instead of run. */
struct StartRecord {
    QString program;
    QStringList arguments;
    QString workingFolder;
};

QList<StartRecord> &startsRecorded()
{
    static QList<StartRecord> starts;
    return starts;
}

bool recordStart(const QString &program, const QStringList &arguments, const QString &workingFolder)
{
    startsRecorded().append(StartRecord{program, arguments, workingFolder});
    return true;
}

QStringList entries(const QComboBox *box)
{
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries.append(box->itemText(i));
    return entries;
}

QStringList boxLines(const QPlainTextEdit *box)
{
    const QString text = box->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void selectEntry(LanguageWindow &form, const QString &entry)
{
    const int index = WindowTesting::control<QComboBox>(form, "languageCombo")
                          ->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(index >= 0, qPrintable(entry));
    WindowTesting::control<QComboBox>(form, "languageCombo")->setCurrentIndex(index);
}

/*
 * Runs action inside the application's event loop, as a click runs in the real program.
 * Returns 0 when the program was asked to end, 1 when it was still running a moment later.
 */
int runInEventLoop(const std::function<void()> &action)
{
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    QObject::connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    stillRunning.start(500);
    QTimer::singleShot(0, action);
    return QCoreApplication::exec();
}

/* How an entry of the list is drawn, at 120 by 18 pixels, not selected. */
QImage drawnEntry(const LanguageWindow &form, int index)
{
    QImage image(120, 18, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.initFrom(WindowTesting::control<QComboBox>(form, "languageCombo")->view());
    option.rect = image.rect();
    option.state &= ~QStyle::State_Selected;
    WindowTesting::control<QComboBox>(form, "languageCombo")
        ->itemDelegate()
        ->paint(&painter, option, WindowTesting::control<QComboBox>(form, "languageCombo")->model()->index(index, 0));
    return image;
}

/* The 16 by 16 image a flag should show as: the icon, or the 16 by 11 flag centred on base. */
QImage expectedCell(const QString &file, const QColor &base)
{
    QImage cell(16, 16, QImage::Format_ARGB32);
    cell.fill(base);
    QPainter painter(&cell);
    const QImage picture(file);
    painter.drawImage(0, (16 - picture.height()) / 2, picture);
    return cell;
}

/* Whether two images of the same size differ in no colour channel by more than rounding. */
bool looksAlike(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            if (std::abs(qRed(a) - qRed(e)) > 2 || std::abs(qGreen(a) - qGreen(e)) > 2
                || std::abs(qBlue(a) - qBlue(e)) > 2 || std::abs(qAlpha(a) - qAlpha(e)) > 2) {
                qWarning("pixel %d,%d is %08x, expected %08x", x, y, a, e);
                return false;
            }
        }
    }
    return true;
}

/* Records the addresses the desktop would open. */
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

class TestLanguageWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initIconResources();
        LanguageWindow::startScript = recordStart;
    }

    void init()
    {
        Dialogs::setAnsweringMode(true);
        startsRecorded().clear();
    }

    void cleanup()
    {
        Dialogs::setAnsweringMode(false);
        clearActiveLanguage();
        m_webHost.restore();
        QDesktopServices::unsetUrlHandler(u"https"_qs);
    }

    void listsTheLanguagesSorted_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selected");
        QTest::newRow("no Languages folder") << Files() << QByteArray() << QStringList{u"English"_qs} << u"English"_qs;
        QTest::newRow("German active") << Files{{u"Turkish.lang.txt"_qs, kTurkishFile},
                                                {u"German.lang.txt"_qs, kGermanFile}}
                                       << kGermanSetting << QStringList{u"English"_qs, u"German"_qs, u"Turkish"_qs}
                                       << u"German"_qs;
        QTest::newRow("letter case ignored, English stays selected")
            << Files{{u"turkish.lang.txt"_qs, kTurkishFile}, {u"Albanian.lang.txt"_qs, kTurkishFile}} << QByteArray()
            << QStringList{u"Albanian"_qs, u"English"_qs, u"turkish"_qs} << u"English"_qs;
        // No language is active, so the empty entry matches the empty language name.
        QTest::newRow("a file named like mylang.txt adds an empty entry")
            << Files{{u"mylang.txt"_qs, kTurkishFile}, {u"German.lang.txt"_qs, kGermanFile}} << QByteArray()
            << QStringList{QString(), u"English"_qs, u"German"_qs} << QString();
        QTest::newRow("English.lang.txt beside the built-in entry")
            << Files{{u"English.lang.txt"_qs, kTurkishFile}}
            << QByteArray("[Settings]\r\nLanguageFile=English.lang.txt\r\n")
            << QStringList{u"English"_qs, u"English"_qs} << u"English"_qs;
    }

    void listsTheLanguagesSorted()
    {
        QFETCH(Files, files);
        QFETCH(QByteArray, settings);
        QFETCH(QString, selected);
        const ProgramFolder program(files, settings);
        LanguageWindow form(setLanguageFile, dataDir());
        QTEST(entries(WindowTesting::control<QComboBox>(form, "languageCombo")), "entries");
        QCOMPARE(WindowTesting::control<QComboBox>(form, "languageCombo")->currentText(), selected);
        QCOMPARE(form.initialLanguage(), selected);
    }

    void translatesItsTexts()
    {
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}}, kGermanSetting);
        LanguageWindow form(setLanguageFile, dataDir());
        QCOMPARE(form.windowTitle(), u"Sprache"_qs);
        QCOMPARE(WindowTesting::control<QPushButton>(form, "cancelButton")->text(), u"Abbrechen"_qs);
        QCOMPARE(WindowTesting::control<QLabel>(form, "translatorsLabel")->text(),
                 u"Translated by:"_qs); // not in this file
        // The long label ends before the list, the link before the OK button.
        QCOMPARE(WindowTesting::control<QLabel>(form, "languageLabel")->text(), u"Sprache der Benutzeroberfläche:"_qs);
        QVERIFY(WindowTesting::control<QLabel>(form, "languageLabel")->geometry().right()
                < WindowTesting::control<QComboBox>(form, "languageCombo")->x());
        QVERIFY(WindowTesting::control<QLabel>(form, "languageLabel")
                    ->fontMetrics()
                    .horizontalAdvance(WindowTesting::control<QLabel>(form, "languageLabel")->text())
                <= WindowTesting::control<QLabel>(form, "languageLabel")->width());
        QVERIFY(WindowTesting::control<QLabel>(form, "contributeLink")->geometry().right()
                < WindowTesting::control<QPushButton>(form, "okButton")->x());
    }

    void drawsEachEntryWithItsFlag_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("image"); // the file the entry's image is made from
        QTest::newRow("German") << u"German"_qs << u":/flags/de.png"_qs;
        QTest::newRow("Latin: the neutral image") << u"Latin"_qs << u":/icons/16/world.png"_qs;
        QTest::newRow("the empty entry: the neutral image") << QString() << u":/icons/16/world.png"_qs;
        QTest::newRow("english in small letters: the neutral image") << u"english"_qs << u":/icons/16/world.png"_qs;
        QTest::newRow("English") << u"English"_qs << u":/icons/16/flag.png"_qs;
    }

    void drawsEachEntryWithItsFlag()
    {
        QFETCH(QString, entry);
        QFETCH(QString, image);
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile},
                                     {u"Latin.lang.txt"_qs, kTurkishFile},
                                     {u"mylang.txt"_qs, kTurkishFile},
                                     {u"english.lang.txt"_qs, kTurkishFile}});
        LanguageWindow form(setLanguageFile, dataDir());
        const int index = WindowTesting::control<QComboBox>(form, "languageCombo")
                              ->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
        QVERIFY(index >= 0);

        const QImage drawn = drawnEntry(form, index);
        const QColor base
            = WindowTesting::control<QComboBox>(form, "languageCombo")->view()->palette().color(QPalette::Base);
        QVERIFY(looksAlike(drawn.copy(0, 0, 16, 16), expectedCell(image, base)));
        // The text starts right of the image.
        bool textDrawn = false;
        for (int x = 16; x < drawn.width() && !textDrawn; ++x) {
            for (int y = 0; y < drawn.height() && !textDrawn; ++y)
                textDrawn = drawn.pixelColor(x, y) != base;
        }
        QCOMPARE(textDrawn, !entry.isEmpty());
    }

    void bundlesEveryFlagImage()
    {
        const QStringList names = LanguageWindow::flagImageNames();
        QCOMPARE(names.size(), 29);
        QCOMPARE(names.constFirst(), u"xx"_qs);
        for (const QString &name : names) {
            const QPixmap image = LanguageWindow::flagImage(name);
            QVERIFY2(!image.isNull() && image.size() == QSize(16, 16), qPrintable(name));
            QVERIFY2(image.toImage().pixelColor(8, 8).alpha() > 0, qPrintable(name)); // a picture was found
        }
    }

    void showsTheTranslators_data()
    {
        QTest::addColumn<QByteArray>("content"); // of German.lang.txt
        QTest::addColumn<QString>("select");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("names split at commas and trimmed")
            << QByteArray("{INFO:Translated By}Ana, Ben ,Cem\r\n") << u"German"_qs
            << QStringList{u"Ana"_qs, u"Ben"_qs, u"Cem"_qs};
        QTest::newRow("a trailing comma gives an empty line")
            << QByteArray("{INFO:Translated By}Ana,\r\n") << u"German"_qs << QStringList{u"Ana"_qs, QString()};
        QTest::newRow("no information entry shows its key")
            << QByteArray("{OK}Gut\r\n") << u"German"_qs << QStringList{u"INFO:Translated By"_qs};
        QTest::newRow("an empty information entry shows nothing")
            << QByteArray("{INFO:Translated By}\r\n") << u"German"_qs << QStringList();
        QTest::newRow("a file that is not UTF-8 shows nothing")
            << QByteArray("{INFO:Translated By}Ana \xC3(\r\n") << u"German"_qs << QStringList();
        QTest::newRow("English shows the maker")
            << QByteArray("{INFO:Translated By}Ana\r\n") << u"English"_qs << QStringList{u"Orvanta"_qs};
    }

    void showsTheTranslators()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, select);
        // The other entry is the active one, so selecting is a change.
        const ProgramFolder program({{u"German.lang.txt"_qs, content}},
                                    select == u"English"_qs ? kGermanSetting : QByteArray());
        LanguageWindow form(setLanguageFile, dataDir());
        QVERIFY(WindowTesting::control<QComboBox>(form, "languageCombo")->currentText() != select);
        selectEntry(form, select);
        QTEST(boxLines(WindowTesting::control<QPlainTextEdit>(form, "translatorsText")), "lines");
    }

    void theTranslatorsOfTheActiveLanguageShowAtOnce()
    {
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}}, kGermanSetting);
        LanguageWindow form(setLanguageFile, dataDir());
        QCOMPARE(boxLines(WindowTesting::control<QPlainTextEdit>(form, "translatorsText")),
                 (QStringList{u"Ana"_qs, u"Ben"_qs, u"Cem"_qs}));
    }

    void okWithTheSameLanguageOnlyCloses()
    {
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}, {u"Turkish.lang.txt"_qs, kTurkishFile}},
                                    kGermanSetting);
        LanguageWindow form(setLanguageFile, dataDir());
        form.show();
        selectEntry(form, u"Turkish"_qs);
        selectEntry(form, u"German"_qs); // back to where it started
        QTest::mouseClick(WindowTesting::control<QPushButton>(form, "okButton"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QVERIFY(Dialogs::takeAskedDialogs().isEmpty());
        QCOMPARE(readTestFile(program.path(u"settings.ini"_qs)), kGermanSetting);
        QVERIFY(!QFileInfo::exists(program.path(u"start.sh"_qs)));
    }

    void noKeepsTheWindowAndOkAsksAgain()
    {
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}, {u"Turkish.lang.txt"_qs, kTurkishFile}},
                                    kGermanSetting);
        LanguageWindow form(setLanguageFile, dataDir());
        form.show();
        selectEntry(form, u"Turkish"_qs);
        for (int round = 1; round <= 2; ++round) {
            Dialogs::setNextDialogAnswer(QMessageBox::No);
            QCOMPARE(runInEventLoop([&form] {
                         QTest::mouseClick(WindowTesting::control<QPushButton>(form, "okButton"), Qt::LeftButton);
                     }),
                     1);
            const QList<Dialogs::AskedDialog> asked = Dialogs::takeAskedDialogs();
            QCOMPARE(asked.size(), 1);
            QCOMPARE(asked.at(0).kind, QMessageBox::Question);
            QCOMPARE(asked.at(0).caption, u"Bestätigung"_qs);
            QCOMPARE(asked.at(0).text, u"Programm neu starten?"_qs);
            QCOMPARE(asked.at(0).buttonTexts, (QStringList{u"Ja"_qs, u"Nein"_qs}));
            QVERIFY(form.isVisible());
            QCOMPARE(WindowTesting::control<QComboBox>(form, "languageCombo")->currentText(), u"Turkish"_qs);
        }
        QCOMPARE(readTestFile(program.path(u"settings.ini"_qs)), kGermanSetting);
        QVERIFY(!QFileInfo::exists(program.path(u"start.sh"_qs)));
        QVERIFY(startsRecorded().isEmpty());
    }

    void yesStoresTheChoiceWritesTheScriptAndEnds()
    {
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}}, kGermanSetting);
        const QString script
            = writeTestFile(program.path(u"start.sh"_qs), "an earlier script, longer than the new one\n"
                                                          "an earlier script, longer than the new one\n"
                                                          "an earlier script, longer than the new one\n"
                                                          "an earlier script, longer than the new one\n"
                                                          "an earlier script, longer than the new one\n");
        LanguageWindow form(setLanguageFile, dataDir());
        form.show();
        selectEntry(form, u"English"_qs);
        Dialogs::setNextDialogAnswer(QMessageBox::Yes);
        QCOMPARE(runInEventLoop([&form] {
                     QTest::mouseClick(WindowTesting::control<QPushButton>(form, "okButton"), Qt::LeftButton);
                 }),
                 0);

        QCOMPARE(Dialogs::takeAskedDialogs().size(), 1);
        QVERIFY(Dialogs::takeShownMessages().isEmpty());
        QVERIFY(readTestFile(program.path(u"settings.ini"_qs)).contains("LanguageFile=English.lang.txt\r\n"));
        const QString programFile = QCoreApplication::applicationFilePath();
        QVERIFY(!programFile.contains(u'\''));
        QCOMPARE(readTestFile(script), "#!/bin/sh\n"
                                       "# This file was created automatically to restart the program.\n"
                                       "# It is safe to delete this file.\n"
                                       "sleep 1\n"
                                       "exec '"
                                           + QFile::encodeName(programFile) + "'\n");
        QVERIFY(QFileInfo(script).isExecutable());
        QCOMPARE(startsRecorded().size(), 1);
        QCOMPARE(startsRecorded().at(0).program, u"/bin/sh"_qs);
        QCOMPARE(startsRecorded().at(0).arguments, QStringList{script});
        QCOMPARE(startsRecorded().at(0).workingFolder, dataDir());
    }

    void aFailedStepIsShownAndTheProgramRuns_data()
    {
        QTest::addColumn<QString>("blocked"); // a folder where the file should go
        QTest::addColumn<QByteArray>("settingsAfter");
        QTest::newRow("settings.ini cannot be written") << u"settings.ini"_qs << QByteArray("<missing>");
        QTest::newRow("start.sh cannot be written")
            << u"start.sh"_qs << QByteArray("\xEF\xBB\xBF[Settings]\r\nLanguageFile=Turkish.lang.txt\r\n\r\n");
    }

    void aFailedStepIsShownAndTheProgramRuns()
    {
        QFETCH(QString, blocked);
        const ProgramFolder program({{u"German.lang.txt"_qs, kGermanFile}, {u"Turkish.lang.txt"_qs, kTurkishFile}});
        QVERIFY(QDir().mkpath(program.path(blocked + u"/inside"_qs)));
        LanguageWindow form(setLanguageFile, dataDir());
        form.show();
        selectEntry(form, u"Turkish"_qs);
        Dialogs::setNextDialogAnswer(QMessageBox::Yes);
        QCOMPARE(runInEventLoop([&form] {
                     QTest::mouseClick(WindowTesting::control<QPushButton>(form, "okButton"), Qt::LeftButton);
                 }),
                 1);

        QVERIFY(form.isVisible());
        const QList<Dialogs::ShownMessage> shown = Dialogs::takeShownMessages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).icon, MessageIcon::Error);
        QCOMPARE(shown.at(0).caption, u"ERROR"_qs);
        QVERIFY2(shown.at(0).text.contains(program.path(blocked)), qPrintable(shown.at(0).text));
        QTEST(readTestFile(program.path(u"settings.ini"_qs)), "settingsAfter");
        QVERIFY(!QFileInfo(program.path(u"start.sh"_qs)).isFile());
        QVERIFY(startsRecorded().isEmpty());
    }

    void theScriptStartsTheProgramInTheDataFolder()
    {
        // The real script started the real way, for a program whose path needs quoting.
        QTemporaryDir dir;
        const QString dataDir = dir.filePath(u"data"_qs) + u'/';
        const QString programFolder = dir.filePath(u"it's a \"program\" $HOME `true`"_qs);
        const QString report = dir.filePath(u"report.txt"_qs);
        QVERIFY(QDir().mkpath(dataDir) && QDir().mkpath(programFolder));
        // The program reports its folder, its standard input and its session, then renames
        // the report into place so that it is never read half-written.
        const QString program = writeTestFile(
            programFolder + u"/program"_qs,
            "#!/bin/sh\n{ pwd; readlink /proc/$$/fd/0; cut -d' ' -f6 /proc/$$/stat; } > '" + QFile::encodeName(report)
                + ".part' && mv '" + QFile::encodeName(report) + ".part' '" + QFile::encodeName(report) + "'\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QString error;
        const QString script = writeRestartScript(dataDir, program, &error);
        QCOMPARE(script, dataDir + u"start.sh"_qs);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(startDetached(u"/bin/sh"_qs, {script}, dataDir));
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(report); }, 10000));
        QVERIFY2(clock.elapsed() >= 900, "the script waits about one second");

        const QList<QByteArray> lines = readTestFile(report).trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(QString::fromLocal8Bit(lines.at(0)), QDir(dataDir).canonicalPath());
        QCOMPARE(lines.at(1), QByteArray("/dev/null"));
        QVERIFY2(lines.at(2).toLongLong() != getsid(0), "a session of its own, without a terminal");
    }

    void theLinkOpensTheTranslationPage()
    {
        qputenv("TESSALY_WEB_HOST", "translations.test:8443");
        const ProgramFolder program({});
        LanguageWindow form(setLanguageFile, dataDir());
        form.show();
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(u"https"_qs, &recorder, "open");
        QTest::mouseClick(WindowTesting::control<QLabel>(form, "contributeLink"), Qt::LeftButton, {},
                          WindowTesting::control<QLabel>(form, "contributeLink")->rect().center());
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl(u"https://translations.test:8443/translation/"_qs)});
        QCOMPARE(WindowTesting::control<QLabel>(form, "contributeLink")->toolTip(),
                 u"https://translations.test:8443/translation/"_qs);
        QCOMPARE(WindowTesting::control<QLabel>(form, "contributeLink")->text(), u"Contribute to Translation"_qs);
    }

private:
    // As the program found it; cleanup() puts it back.
    const WindowTesting::SavedVariable m_webHost{"TESSALY_WEB_HOST"};
};

QTEST_MAIN(TestLanguageWindow)
#include "tst_languagewindow.moc"
