#include "core/inistore.h"
#include "core/startup.h"
#include "i18n/translate.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

/* A copy of a program with the Languages folder beside it, in a folder of its own. */
QString installProgram(const QString &folder, const QString &source)
{
    QDir().mkpath(folder + QStringLiteral("/Languages"));
    const QString program = folder + QStringLiteral("/tessaly");
    QFile::copy(source, program);
    const QDir languages(QStringLiteral(TESSALY_LANGUAGES_DIR));
    for (const QString &name : languages.entryList(QDir::Files))
        QFile::copy(languages.filePath(name), folder + QStringLiteral("/Languages/") + name);
    return program;
}

[[maybe_unused]] void openToAll(const QString &path) // used only where the program is built
{
    QFile::setPermissions(path, QFile::Permissions(0x7777));
}

/* Whether the process catches SIGTERM (bit 15 of the caught-signals mask): the program is up. */
[[maybe_unused]] bool catchesTerm(qint64 pid)
{
    QFile file(u"/proc/%1/status"_qs.arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
    }
    return false;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // Tests point XDG_CONFIG_HOME at folders of their own; each starts from what CTest set.
    void init() { m_configHome = qEnvironmentVariable("XDG_CONFIG_HOME"); }
    void cleanup()
    {
        if (m_configHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_configHome.toLocal8Bit());
    }

    void readsIni_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QByteArray("[Settings]\r\nLanguageFile=German.lang.txt\r\n") << u"Settings"_qs
                               << u"LanguageFile"_qs << u"German.lang.txt"_qs;
        QTest::newRow("mark, blanks, any case")
            << QByteArray("\xEF\xBB\xBF  [settings]  \n  languagefile =  Türkçe.lang.txt \n") << u"SETTINGS"_qs
            << u"LanguageFile"_qs << u"Türkçe.lang.txt"_qs;
        QTest::newRow("comment lines skipped") << QByteArray("[Settings]\n;LanguageFile=no\nLanguageFile=yes\n")
                                               << u"Settings"_qs << u"LanguageFile"_qs << u"yes"_qs;
        QTest::newRow("keys before a section dropped")
            << QByteArray("LanguageFile=lost\n[Settings]\n") << u"Settings"_qs << u"LanguageFile"_qs << u"-"_qs;
        QTest::newRow("value holding =") << QByteArray("[A]\nk=a=b\n") << u"A"_qs << u"k"_qs << u"a=b"_qs;
        QTest::newRow("key without value") << QByteArray("[A]\nflag\n") << u"A"_qs << u"flag"_qs << QString();
        QTest::newRow("first key wins") << QByteArray("[A]\nk=1\nK=2\n") << u"A"_qs << u"k"_qs << u"1"_qs;
        // The name between the brackets is taken as written: blanks inside them are part of it.
        QTest::newRow("blanks inside the brackets") << QByteArray("[ Settings ]\nLanguageFile=German.lang.txt\n")
                                                    << u" Settings "_qs << u"LanguageFile"_qs << u"German.lang.txt"_qs;
        QTest::newRow("blanks inside the brackets are not another section")
            << QByteArray("[ Settings ]\nLanguageFile=German.lang.txt\n") << u"Settings"_qs << u"LanguageFile"_qs
            << u"-"_qs;
    }

    void readsIni()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QTemporaryDir dir;
        IniStore store;
        QString error;
        QVERIFY(store.load(writeTestFile(dir.filePath(u"settings.ini"_qs), content), &error));
        QTEST(store.value(section, key, u"-"_qs), "expected");
    }

    void writesIniKeepingWhatWasThere()
    {
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(u"settings.ini"_qs),
                                           "[Other]\nkeep=1\n[settings]\nlanguagefile=old\nMore = x\n");
        IniStore store;
        QVERIFY(store.load(path, nullptr));
        store.setValue(u"Settings"_qs, u"LanguageFile"_qs, u"German.lang.txt"_qs);
        store.setValue(u"New"_qs, u"k"_qs, u"v"_qs);
        QVERIFY(store.save(path, nullptr));
        QCOMPARE(readTestFile(path),
                 QByteArray("\xEF\xBB\xBF[Other]\r\nkeep=1\r\n\r\n[settings]\r\nlanguagefile=German.lang.txt\r\n"
                            "More=x\r\n\r\n[New]\r\nk=v\r\n\r\n"));
    }

    void savedIniReadsBackUnchanged()
    {
        // Names that begin with U+FEFF (a byte-order mark inside the file) once lost one mark
        // at each read, until a key became a ";" comment and was gone.
        QTemporaryDir dir;
        const QString path
            = writeTestFile(dir.filePath(u"settings.ini"_qs), "[s]\n\xEF\xBB\xBF\xEF\xBB\xBF;S\n\xEF\xBB\xBFk=v\n");
        IniStore store;
        QVERIFY(store.load(path, nullptr));
        QVERIFY(store.save(path, nullptr));
        const QByteArray first = readTestFile(path);
        QCOMPARE(first, QByteArray("\xEF\xBB\xBF[s]\r\n\xEF\xBB\xBF\xEF\xBB\xBF;S=\r\n\xEF\xBB\xBFk=v\r\n\r\n"));
        QVERIFY(store.load(path, nullptr) && store.save(path, nullptr));
        QCOMPARE(readTestFile(path), first);
    }

    void manySectionsKeepTheirValuesAndOrder()
    {
        // Thousands of sections, some of them again later under another letter case: a later
        // section of the same name adds its keys to the first, whose values win, and writing
        // keeps the order of first appearance. Names that only look alike stay apart.
        QTemporaryDir dir;
        QByteArray content = "[Stra\xC3\x9F"
                             "e]\nk=sharp s\n[STRASSE]\nk=double s\n[\xF0\x90\x90\x80]\nk=deseret\n";
        QByteArray expected = "\xEF\xBB\xBF[Stra\xC3\x9F"
                              "e]\r\nk=sharp s\r\n\r\n[STRASSE]\r\nk=double s\r\n\r\n"
                              "[\xF0\x90\x90\x80]\r\nk=deseret\r\nk=small\r\n\r\n";
        for (int i = 0; i < 5000; ++i) {
            content += "[Section " + QByteArray::number(i) + "]\nk=" + QByteArray::number(i) + "\n";
            expected += "[Section " + QByteArray::number(i) + "]\r\nk=" + QByteArray::number(i) + "\r\n";
            if (i % 1000 == 7)
                expected += "k=again\r\nlater=" + QByteArray::number(i) + "\r\n";
            expected += "\r\n";
        }
        for (int i = 7; i < 5000; i += 1000)
            content += "[SECTION " + QByteArray::number(i) + "]\nk=again\nlater=" + QByteArray::number(i) + "\n";
        content += "[\xF0\x90\x90\xA8]\nk=small\n"; // the small letter of the first name's capital
        const QString path = writeTestFile(dir.filePath(u"settings.ini"_qs), content);

        IniStore store;
        QVERIFY(store.load(path, nullptr));
        QCOMPARE(store.value(u"section 4007"_qs, u"k"_qs), u"4007"_qs);
        QCOMPARE(store.value(u"Section 4007"_qs, u"LATER"_qs), u"4007"_qs);
        QCOMPARE(store.value(u"Section 4999"_qs, u"k"_qs), u"4999"_qs);
        QCOMPARE(store.value(u"STRASSE"_qs, u"k"_qs), u"double s"_qs);
        QCOMPARE(store.value(u"STRAßE"_qs, u"k"_qs), u"sharp s"_qs);
        QCOMPARE(store.value(u"\U00010428"_qs, u"k"_qs), u"deseret"_qs);
        QCOMPARE(store.value(u"Section 5000"_qs, u"k"_qs, u"-"_qs), u"-"_qs);
        QVERIFY(store.save(path, nullptr));
        QCOMPARE(readTestFile(path), expected);

        store.setValue(u"SECTION 0"_qs, u"k"_qs, u"changed"_qs);
        store.setValue(u"Section 5000"_qs, u"k"_qs, u"new"_qs);
        QVERIFY(store.save(path, nullptr));
        expected.replace("[Section 0]\r\nk=0\r\n", "[Section 0]\r\nk=changed\r\n");
        QCOMPARE(readTestFile(path), expected + "[Section 5000]\r\nk=new\r\n\r\n");
    }

    void unreadableIniFails()
    {
        QTemporaryDir dir;
        IniStore store;
        QString error;
        QVERIFY(
            !store.load(writeTestFile(dir.filePath(u"settings.ini"_qs), "[Settings]\nLanguageFile=\xFF\n"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(store.load(dir.filePath(u"missing.ini"_qs), &error)); // no file: an empty store
        QCOMPARE(store.value(u"Settings"_qs, u"LanguageFile"_qs), QString());
    }

    void folderWritability()
    {
        QTemporaryDir dir;
        QVERIFY(isFolderWritable(dir.path()));
        QVERIFY(!QFile::exists(dir.filePath(u"chk.tmp"_qs)));

        // A chk.tmp that is there already answers "not writable", and stays.
        writeTestFile(dir.filePath(u"chk.tmp"_qs), "mine");
        QVERIFY(!isFolderWritable(dir.path()));
        QCOMPARE(readTestFile(dir.filePath(u"chk.tmp"_qs)), QByteArray("mine"));

        QVERIFY(!isFolderWritable(dir.filePath(u"no such folder"_qs)));
    }

    void readOnlyFolderIsNotWritable()
    {
        // Permission bits do not stop root, so as root a read-only file system stands in.
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"readonly"_qs);
        QDir().mkpath(folder);
        const bool mounted = geteuid() == 0
                             && QProcess::execute(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"ro,size=16k"_qs,
                                                                u"tmpfs"_qs, folder})
                                    == 0;
        if (geteuid() == 0 && !mounted)
            QSKIP("this machine cannot mount a read-only file system");
        if (!mounted)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        const bool writable = isFolderWritable(folder);
        if (mounted)
            QProcess::execute(u"umount"_qs, {folder});
        QVERIFY(!writable);
    }

    void dataFolderFallsBackToTheUserFolder_data()
    {
        QTest::addColumn<QString>("config");
        QTest::newRow("configuration folder exists") << u"config"_qs;
        // A new account: not even the configuration folder's parent is there yet.
        QTest::newRow("configuration folder missing with its parent") << u"home/.config"_qs;
    }

    void dataFolderFallsBackToTheUserFolder()
    {
        QFETCH(QString, config);
        QTemporaryDir dir;
        const QString program = dir.filePath(u"program"_qs);
        QDir().mkpath(program);
        QCOMPARE(settleDataDir(program, u"ORVANTA"_qs, u"Tessaly"_qs), program + u'/');

        writeTestFile(program + u"/chk.tmp"_qs, "taken"); // the program folder now counts as not writable
        config = dir.filePath(config);
        if (config.endsWith(u"/config"_qs))
            QDir().mkpath(config);
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        QCOMPARE(settleDataDir(program, u"ORVANTA"_qs, u"Tessaly"_qs), config + u"/ORVANTA/Tessaly/"_qs);
        QVERIFY(QFileInfo(config + u"/ORVANTA/Tessaly"_qs).isDir());

        // The first setting can be stored there.
        IniStore store;
        store.setValue(u"Settings"_qs, u"LanguageFile"_qs, u"German.lang.txt"_qs);
        QString error;
        QVERIFY2(store.save(config + u"/ORVANTA/Tessaly/settings.ini"_qs, &error), qPrintable(error));
    }

    void versionTexts()
    {
        QCOMPARE(formatAppVersion(2, 3), u"2.3"_qs);
        QCOMPARE(formatAppVersion(10, 4), u"10.4"_qs);
    }

    void startPicksItsLanguage()
    {
        // A program folder of its own: a copy of this test program (it carries version data as
        // the program does) with the shipped Languages folder beside it.
        QTemporaryDir dir;
        const QString program = installProgram(dir.filePath(u"german"_qs), QCoreApplication::applicationFilePath());
        qputenv("XDG_CONFIG_HOME", dir.filePath(u"config"_qs).toLocal8Bit());

        // No setting: the user's language picks the file through LanguageCodes.csv.
        StartupNotes notes = runStartup(program, 1031);
        QCOMPARE(appIdentity().appCaption, u"ORVANTA - Tessaly"_qs);
        QCOMPARE(appIdentity().appVersion, u"2.3"_qs);
        QCOMPARE(dataDir(), dir.filePath(u"german/"_qs));
        QCOMPARE(languageName(), u"German"_qs);
        QCOMPARE(translateCaption(u"&Load vCards from VCF file..."_qs), u"vCards aus VCF-Datei &laden..."_qs);
        QVERIFY(notes.languageError.isEmpty());
        // Qt's own dialogs follow: its German catalogue is installed.
        QVERIFY2(notes.qtTranslationsError.isEmpty(), qPrintable(notes.qtTranslationsError));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"), u"Datei&name:"_qs);
        QVERIFY(!QFile::exists(dir.filePath(u"german/settings.ini"_qs))); // nothing is written at start

        // An English user gets English, until the setting names a file.
        runStartup(program, 1033);
        QCOMPARE(languageFilePath(), QString());
        QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"), u"File &name:"_qs);
        QString error;
        QVERIFY(setLanguageFile(u"German.lang.txt"_qs, &error));
        QCOMPARE(readTestFile(dir.filePath(u"german/settings.ini"_qs)),
                 QByteArray("\xEF\xBB\xBF[Settings]\r\nLanguageFile=German.lang.txt\r\n\r\n"));
        runStartup(program, 1033);
        QCOMPARE(languageName(), u"German"_qs);
    }

    void settingsThatCannotBeReadAreLeftAsTheyAre_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not UTF-8") << u"file"_qs;
        QTest::newRow("FIFO") << u"fifo"_qs;
        QTest::newRow("folder") << u"folder"_qs;
    }

    void settingsThatCannotBeReadAreLeftAsTheyAre()
    {
        // The start goes on with the defaults and says so once, in the window's language,
        // naming the file; the file stays as it was, and a FIFO is never opened (the start
        // would wait for a writer for ever).
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"program"_qs);
        const QString program = installProgram(folder, QCoreApplication::applicationFilePath());
        const QString settings = folder + u"/settings.ini"_qs;
        const QByteArray content = "[Settings]\r\nLanguageFile=German.lang.txt\xFF\r\n";
        if (kind == u"file")
            writeTestFile(settings, content);
        else if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(settings).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(settings));

        const StartupNotes notes = runStartup(program, 1031);
        QCOMPARE(languageName(), u"German"_qs);
        QVERIFY2(notes.settingsError.startsWith(u"Die Einstellungsdatei \""_qs + settings + u"\" konnte nicht"_qs),
                 qPrintable(notes.settingsError));
        QCOMPARE(settingsIni().value(u"Settings"_qs, u"LanguageFile"_qs), QString());
        const QFileInfo after(settings);
        QCOMPARE(after.isFile(), kind == u"file");
        QCOMPARE(after.isDir(), kind == u"folder");
        if (kind == u"file")
            QCOMPARE(readTestFile(settings), content);
        QVERIFY(after.exists());

        // The same for the chosen language file: passed over with a warning, English stays.
        QVERIFY(QFile::remove(settings) || QDir().rmdir(settings));
        writeTestFile(settings, "[Settings]\r\nLanguageFile=Waiting.lang.txt\r\n");
        const QString language = folder + u"/Languages/Waiting.lang.txt"_qs;
        QCOMPARE(::mkfifo(QFile::encodeName(language).constData(), 0600), 0);
        const StartupNotes second = runStartup(program, 1031);
        QVERIFY(second.settingsError.isEmpty());
        QCOMPARE(second.languageError, u"Cannot open file \""_qs + language + u"\". Not a regular file"_qs);
        QCOMPARE(translateCaption(u"&Load vCards from VCF file..."_qs), u"&Load vCards from VCF file..."_qs);
    }

    void languageChangeThatCannotBeSaved_data()
    {
        QTest::addColumn<bool>("readOnly"); // else settings.ini is a folder
        QTest::newRow("settings.ini is a folder") << false;
        QTest::newRow("read-only file system") << true;
    }

    void languageChangeThatCannotBeSaved()
    {
        QFETCH(bool, readOnly);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"program"_qs);
        runStartup(installProgram(folder, QCoreApplication::applicationFilePath()), 1033);
        const QString settings = folder + u"/settings.ini"_qs;
        QCOMPARE(dataDir() + u"settings.ini"_qs, settings);
        const QByteArray before = "\xEF\xBB\xBF[Settings]\r\nLanguageFile=\r\n\r\n";
        bool mounted = false;
        if (readOnly) {
            // Permission bits do not stop root: the folder is bound onto itself read-only.
            writeTestFile(settings, before);
            if (geteuid() != 0)
                QSKIP("making a folder read-only for this process needs root");
            mounted = QProcess::execute(u"mount"_qs, {u"--bind"_qs, folder, folder}) == 0;
            if (!mounted || QProcess::execute(u"mount"_qs, {u"-o"_qs, u"remount,bind,ro"_qs, folder}) != 0) {
                if (mounted)
                    QProcess::execute(u"umount"_qs, {folder});
                QSKIP("this machine cannot make a folder read-only");
            }
        } else {
            QDir().mkpath(settings);
        }
        QString error;
        const bool saved = setLanguageFile(u"German.lang.txt"_qs, &error);
        const QByteArray after = readTestFile(settings);
        if (mounted)
            QProcess::execute(u"umount"_qs, {folder});
        QVERIFY(!saved);
        QCOMPARE(error, u"Cannot create file \""_qs + settings + u"\". "_qs
                            + (readOnly ? u"Read-only file system"_qs : u"Is a directory"_qs));
        if (readOnly)
            QCOMPARE(after, before);
    }

    void readOnlyProgramFolderKeepsSettingsPerUser()
    {
#ifndef TESSALY_APP_BIN
        QSKIP("built without the windows: there is no program to start");
#else
        // The real program, started as a user who may not write to its folder.
        QTemporaryDir dir;
        openToAll(dir.path());
        const QString folder = dir.filePath(u"readonly"_qs);
        const QString program = installProgram(folder, QStringLiteral(TESSALY_APP_BIN));
        const QString config = dir.filePath(u"config"_qs);
        QDir().mkpath(config);
        openToAll(config);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                          | QFile::ReadOther | QFile::ExeOther);

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        environment.insert(u"XDG_CONFIG_HOME"_qs, config);
        environment.insert(u"XDG_RUNTIME_DIR"_qs, config);
        process.setProcessEnvironment(environment);
        QStringList command = asUnprivilegedUser({program});
        process.start(command.takeFirst(), command);
        QVERIFY(process.waitForStarted());
        // The window stays open; start-up is over once the per-user folder exists.
        const QString dataDir = config + u"/ORVANTA/Tessaly"_qs;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dataDir).isDir(), 20000);
        QCOMPARE(process.state(), QProcess::Running);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(!QFile::exists(folder + u"/chk.tmp"_qs));
        QVERIFY(!QFile::exists(folder + u"/settings.ini"_qs));
#endif
    }

    void terminationEndsTheProgramInOrder()
    {
#ifndef TESSALY_APP_BIN
        QSKIP("built without the windows: there is no program to start");
#else
        // The real program in a folder of its own, started in German as a desktop would.
        QTemporaryDir dir;
        const QString program = installProgram(dir.filePath(u"term"_qs), QStringLiteral(TESSALY_APP_BIN));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        environment.insert(u"LANG"_qs, u"de_DE.UTF-8"_qs);
        environment.insert(u"XDG_CONFIG_HOME"_qs, dir.filePath(u"config"_qs));
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catchesTerm(process.processId()), 20000);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // Nothing was missing at the start: the language file and Qt's German catalogue.
        const QByteArray errors = process.readAllStandardError();
        QVERIFY2(!errors.contains("WARNUNG") && !errors.contains("WARNING"), errors.constData());
#endif
    }

    void hugeFilesAtStartLeaveTheDefaults_data()
    {
        QTest::addColumn<QString>("hugeFile"); // in the program's folder
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("warns");
        QTest::newRow("settings.ini") << u"settings.ini"_qs << QByteArray() << true;
        QTest::newRow("the chosen language file")
            << u"Languages/Huge.lang.txt"_qs << QByteArray("[Settings]\r\nLanguageFile=Huge.lang.txt\r\n") << true;
        // Read when no language is stored; an unreadable one is passed over without a word.
        QTest::newRow("LanguageCodes.csv") << u"Languages/LanguageCodes.csv"_qs << QByteArray() << false;
    }

    void hugeFilesAtStartLeaveTheDefaults()
    {
#ifndef TESSALY_APP_BIN
        QSKIP("built without the windows: there is no program to start");
#else
        // A file of a terabyte, nearly all of it a hole: the program cannot hold it, treats it as
        // unreadable and opens its window in English.
        QFETCH(QString, hugeFile);
        QFETCH(QByteArray, settings);
        QFETCH(bool, warns);
        if (readTestFile(u"/proc/sys/vm/overcommit_memory"_qs).trimmed() == "1")
            QSKIP("this machine grants every allocation (vm.overcommit_memory=1): the file would fill the memory");
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"huge"_qs);
        const QString program = installProgram(folder, QStringLiteral(TESSALY_APP_BIN));
        if (!settings.isEmpty())
            writeTestFile(folder + u"/settings.ini"_qs, settings);
        const QString huge = folder + u'/' + hugeFile;
        QFile file(huge);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(1) << 40))
            QSKIP("this file system does not take a file of a terabyte");
        file.close();

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        environment.insert(u"LANG"_qs, u"de_DE.UTF-8"_qs);
        environment.insert(u"XDG_CONFIG_HOME"_qs, dir.filePath(u"config"_qs));
        environment.insert(u"XDG_RUNTIME_DIR"_qs, dir.path());
        // Under AddressSanitizer, an allocation it cannot make fails as it does without it.
        environment.insert(u"ASAN_OPTIONS"_qs,
                           environment.value(u"ASAN_OPTIONS"_qs) + u":allocator_may_return_null=1"_qs);
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catchesTerm(process.processId()) || process.state() != QProcess::Running, 20000);
        QCOMPARE(process.state(), QProcess::Running);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // The warning's caption is German once settings.ini is gone and the locale picks the language.
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        const QString warning = u"Cannot read file \""_qs + huge + u"\". Not enough memory\n"_qs;
        QVERIFY2(errors.contains(warning) == warns, qPrintable(errors));
        QVERIFY2(errors.count(u"Cannot read"_qs) == (warns ? 1 : 0), qPrintable(errors));
#endif
    }

private:
    QString m_configHome;
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
