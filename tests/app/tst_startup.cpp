#include "app/inistore.h"
#include "app/startup.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {


/* A copy of the program with its Languages folder, in a folder of its own. */
QString InstallProgram(const QString &folder)
{
    QDir().mkpath(folder + QStringLiteral("/Languages"));
    const QString program = folder + QStringLiteral("/tessaly");
    QFile::copy(QStringLiteral(TESSALY_APP_BIN), program);
    const QDir languages(QStringLiteral(TESSALY_LANGUAGES_DIR));
    for (const QString &name : languages.entryList(QDir::Files))
        QFile::copy(languages.filePath(name), folder + QStringLiteral("/Languages/") + name);
    return program;
}

struct Run {
    int exitCode = -1;
    QString out;
};

Run Start(const QString &program, const QString &lang, const QString &configHome, bool unprivileged = false)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANG"), lang);
    environment.remove(QStringLiteral("LC_ALL"));
    environment.remove(QStringLiteral("LC_MESSAGES"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    process.setProcessEnvironment(environment);
    QStringList command{program};
    if (unprivileged)
        command = AsUnprivilegedUser(command);
    process.start(command.takeFirst(), command);
    if (!process.waitForFinished(30000))
        qFatal("the program did not finish");
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput())};
}

void OpenToAll(const QString &path)
{
    QFile::setPermissions(path, QFile::Permissions(0x7777));
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::newRow("comment lines skipped")
            << QByteArray("[Settings]\n;LanguageFile=no\nLanguageFile=yes\n") << u"Settings"_qs << u"LanguageFile"_qs
            << u"yes"_qs;
        QTest::newRow("keys before a section dropped")
            << QByteArray("LanguageFile=lost\n[Settings]\n") << u"Settings"_qs << u"LanguageFile"_qs << u"-"_qs;
        QTest::newRow("value holding =") << QByteArray("[A]\nk=a=b\n") << u"A"_qs << u"k"_qs << u"a=b"_qs;
        QTest::newRow("key without value") << QByteArray("[A]\nflag\n") << u"A"_qs << u"flag"_qs << QString();
        QTest::newRow("first key wins") << QByteArray("[A]\nk=1\nK=2\n") << u"A"_qs << u"k"_qs << u"1"_qs;
    }

    void readsIni()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QTemporaryDir dir;
        IniStore store;
        QString error;
        QVERIFY(store.load(WriteTestFile(dir.filePath(u"settings.ini"_qs), content), &error));
        QTEST(store.value(section, key, u"-"_qs), "expected");
    }

    void writesIniKeepingWhatWasThere()
    {
        QTemporaryDir dir;
        const QString path = WriteTestFile(dir.filePath(u"settings.ini"_qs),
                                   "[Other]\nkeep=1\n[settings]\nlanguagefile=old\nMore = x\n");
        IniStore store;
        QVERIFY(store.load(path, nullptr));
        store.setValue(u"Settings"_qs, u"LanguageFile"_qs, u"German.lang.txt"_qs);
        store.setValue(u"New"_qs, u"k"_qs, u"v"_qs);
        QVERIFY(store.save(path, nullptr));
        QCOMPARE(ReadTestFile(path), QByteArray("\xEF\xBB\xBF[Other]\r\nkeep=1\r\n\r\n[settings]\r\nlanguagefile=German.lang.txt\r\n"
                                           "More=x\r\n\r\n[New]\r\nk=v\r\n\r\n"));
    }

    void unreadableIniFails()
    {
        QTemporaryDir dir;
        IniStore store;
        QString error;
        QVERIFY(!store.load(WriteTestFile(dir.filePath(u"settings.ini"_qs), "[Settings]\nLanguageFile=\xFF\n"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(store.load(dir.filePath(u"missing.ini"_qs), &error)); // no file: an empty store
        QCOMPARE(store.value(u"Settings"_qs, u"LanguageFile"_qs), QString());
    }

    void folderWritability()
    {
        QTemporaryDir dir;
        QVERIFY(IsFolderWritable(dir.path()));
        QVERIFY(!QFile::exists(dir.filePath(u"chk.tmp"_qs)));

        // A chk.tmp that is there already answers "not writable", and stays.
        WriteTestFile(dir.filePath(u"chk.tmp"_qs), "mine");
        QVERIFY(!IsFolderWritable(dir.path()));
        QCOMPARE(ReadTestFile(dir.filePath(u"chk.tmp"_qs)), QByteArray("mine"));

        QVERIFY(!IsFolderWritable(dir.filePath(u"no such folder"_qs)));
    }

    void readOnlyFolderIsNotWritable()
    {
        // Permission bits do not stop root, so as root a read-only file system stands in.
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"readonly"_qs);
        QDir().mkpath(folder);
        const bool mounted = geteuid() == 0
            && QProcess::execute(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"ro,size=16k"_qs, u"tmpfs"_qs, folder}) == 0;
        if (geteuid() == 0 && !mounted)
            QSKIP("this machine cannot mount a read-only file system");
        if (!mounted)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        const bool writable = IsFolderWritable(folder);
        if (mounted)
            QProcess::execute(u"umount"_qs, {folder});
        QVERIFY(!writable);
    }

    void dataFolderFallsBackToTheUserFolder()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(u"program"_qs);
        QDir().mkpath(program);
        QCOMPARE(SettleDataDir(program, u"ORVANTA"_qs, u"Tessaly"_qs), program + u'/');

        WriteTestFile(program + u"/chk.tmp"_qs, "taken"); // the program folder now counts as not writable
        const QString config = dir.filePath(u"config"_qs);
        QDir().mkpath(config);
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        QCOMPARE(SettleDataDir(program, u"ORVANTA"_qs, u"Tessaly"_qs), config + u"/ORVANTA/Tessaly/"_qs);
        QVERIFY(QFileInfo(config + u"/ORVANTA/Tessaly"_qs).isDir());
        qunsetenv("XDG_CONFIG_HOME");
    }

    void versionTexts()
    {
        QCOMPARE(FormatAppVersion(2, 3), u"2.3"_qs);
        QCOMPARE(FormatAppVersion(10, 4), u"10.4"_qs);
    }

    void programPicksItsLanguage()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(u"config"_qs);
        QDir().mkpath(config);

        // No setting: the user's language picks the file through LanguageCodes.csv.
        const QString program = InstallProgram(dir.filePath(u"german"_qs));
        Run run = Start(program, u"de_DE.UTF-8"_qs, config);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(u"ORVANTA - Tessaly 2.3\n"_qs), qPrintable(run.out));
        QVERIFY2(run.out.contains(u"Language: German ("_qs), qPrintable(run.out));
        QVERIFY(!run.out.contains(u"Load vCards from VCF file..."_qs));
        QVERIFY(!QFile::exists(dir.filePath(u"german/settings.ini"_qs))); // nothing is written at start

        // An English user gets English, until the setting names a file.
        run = Start(program, u"en_US.UTF-8"_qs, config);
        QVERIFY2(run.out.contains(u"Language: English (built in)"_qs), qPrintable(run.out));
        QVERIFY(run.out.contains(u"Load vCards from VCF file... [0]"_qs));
        WriteTestFile(dir.filePath(u"german/settings.ini"_qs), "[Settings]\r\nLanguageFile=German.lang.txt\r\n");
        run = Start(program, u"en_US.UTF-8"_qs, config);
        QVERIFY2(run.out.contains(u"Language: German ("_qs), qPrintable(run.out));
    }

    void readOnlyProgramFolderKeepsSettingsPerUser()
    {
        QTemporaryDir dir;
        OpenToAll(dir.path());
        const QString folder = dir.filePath(u"readonly"_qs);
        const QString program = InstallProgram(folder);
        const QString config = dir.filePath(u"config"_qs);
        QDir().mkpath(config);
        OpenToAll(config);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                          | QFile::ReadOther | QFile::ExeOther);
        const Run run = Start(program, u"de_DE.UTF-8"_qs, config, true);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(u"Data folder: "_qs + config + u"/ORVANTA/Tessaly/\n"_qs), qPrintable(run.out));
        QVERIFY(QFileInfo(config + u"/ORVANTA/Tessaly"_qs).isDir());
        QVERIFY(!QFile::exists(folder + u"/chk.tmp"_qs));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
