#include "i18n/languagechoice.h"
#include "i18n/translate.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

/* A program folder whose Languages folder holds the given files. */
QString programFolder(const QString &folder, const QList<std::pair<QString, QByteArray>> &files)
{
    const QString languages = folder + u"/Languages"_qs;
    QDir().mkpath(languages);
    for (const auto &[name, bytes] : files) {
        QFile file(languages + u'/' + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
    }
    return folder;
}

const QByteArray kEnglish = "{OK}Okay\r\n";
const QByteArray kGerman = "\xEF\xBB\xBF{OK}Gut\r\n";

} // namespace

class TestLanguageChoice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { clearActiveLanguage(); }

    void choosesTheFile_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<QString>("expectedName"); // "-" for no active language
        QTest::addColumn<QString>("expectedOk");
        QTest::newRow("blank setting, code matches with other letter case")
            << u"  "_qs << QByteArray(" 1033 , english.lang.txt \r\n") << u"English"_qs << u"Okay"_qs;
        QTest::newRow("first line for the identifier wins, even when its file is missing")
            << QString() << QByteArray("1033,Missing.lang.txt\r\n1033,English.lang.txt\r\n") << u"-"_qs << u"OK"_qs;
        QTest::newRow("no line for the identifier")
            << QString() << QByteArray("1031,German.lang.txt\r\n") << u"-"_qs << u"OK"_qs;
        QTest::newRow("the setting wins over the codes")
            << u"German.lang.txt"_qs << QByteArray("1033,English.lang.txt\r\n") << u"German"_qs << u"Gut"_qs;
        QTest::newRow("a configured name without .lang.txt") << u"de.txt"_qs << QByteArray() << QString() << u"Gut"_qs;
        QTest::newRow("a configured file that is missing")
            << u"French.lang.txt"_qs << QByteArray() << u"-"_qs << u"OK"_qs;
        // The name "English.lang.txt,x" is not a listed language file, so none is chosen.
        QTest::newRow("everything after the first comma names the file")
            << QString() << QByteArray("1033,English.lang.txt,x\r\n") << u"-"_qs << u"OK"_qs;
    }

    void choosesTheFile()
    {
        QFETCH(QString, configured);
        QFETCH(QByteArray, codes);
        QFETCH(QString, expectedName);
        QTemporaryDir dir;
        const QString program = programFolder(dir.path(), {{u"English.lang.txt"_qs, kEnglish},
                                                           {u"German.lang.txt"_qs, kGerman},
                                                           {u"de.txt"_qs, kGerman},
                                                           {u"English.lang.txt,x"_qs, "{OK}Komma\n"},
                                                           {u"LanguageCodes.csv"_qs, codes}});
        QString error;
        QVERIFY(loadLanguageFrom(configured, program, 1033, &error));
        if (expectedName == u"-"_qs) {
            QCOMPARE(languageFilePath(), QString());
        } else {
            QCOMPARE(languageName(), expectedName);
        }
        QTEST(translate(u"OK"_qs), "expectedOk");
        // Only "*lang.txt" names are listed: not de.txt, not the name with a comma.
        QCOMPARE(languageFiles().size(), 2);
    }

    void onlyFilesOfTheLanguagesFolderAreRead_data()
    {
        QTest::addColumn<QString>("configured"); // "OUTSIDE" stands for the outside file's absolute path
        QTest::addColumn<QString>("expectedOk");
        QTest::newRow("up and out of the folder") << u"../../elsewhere/x.lang.txt"_qs << u"OK"_qs;
        QTest::newRow("absolute path") << u"OUTSIDE"_qs << u"OK"_qs;
        QTest::newRow("down and back up") << u"../Languages/German.lang.txt"_qs << u"OK"_qs;
        QTest::newRow("link inside to a file outside") << u"Planted.lang.txt"_qs << u"OK"_qs;
        QTest::newRow("link inside to a file inside") << u"Deutsch.lang.txt"_qs << u"Gut"_qs;
        QTest::newRow("plain name") << u"German.lang.txt"_qs << u"Gut"_qs;
    }

    void onlyFilesOfTheLanguagesFolderAreRead()
    {
        QFETCH(QString, configured);
        QTemporaryDir dir;
        // A file outside the program's folder, where "../../elsewhere" from Languages leads.
        const QString program = programFolder(dir.filePath(u"opt/program"_qs), {{u"German.lang.txt"_qs, kGerman}});
        QDir().mkpath(dir.filePath(u"opt/elsewhere"_qs));
        const QString outside = writeTestFile(dir.filePath(u"opt/elsewhere/x.lang.txt"_qs), "{OK}Outside\r\n");
        QVERIFY(QFile::link(outside, program + u"/Languages/Planted.lang.txt"_qs));
        QVERIFY(QFile::link(u"German.lang.txt"_qs, program + u"/Languages/Deutsch.lang.txt"_qs));
        if (configured == u"OUTSIDE"_qs)
            configured = outside;

        QVERIFY(loadLanguageFrom(configured, program, 1033));
        QTEST(translate(u"OK"_qs), "expectedOk");
        QCOMPARE(languageFiles().contains(u"Planted.lang.txt"_qs), false);
        QCOMPARE(languageFiles().contains(u"Deutsch.lang.txt"_qs), true);
    }

    void invalidLanguageFileLeavesEnglish()
    {
        QTemporaryDir dir;
        const QString program = programFolder(dir.path(), {{u"Broken.lang.txt"_qs, "{OK}Tamam \xFD\r\n"}});
        QString error;
        QVERIFY(!loadLanguageFrom(u"Broken.lang.txt"_qs, program, 1033, &error));
        QCOMPARE(error, u"No mapping for the Unicode character exists in the target multi-byte code page"_qs);
        QCOMPARE(languageFilePath(), dir.filePath(u"Languages/Broken.lang.txt"_qs));
        QCOMPARE(translate(u"OK"_qs), u"OK"_qs);
    }

    void noLanguagesFolder()
    {
        QTemporaryDir dir;
        QVERIFY(loadLanguageFrom(QString(), dir.path(), 1031));
        QCOMPARE(languageFilePath(), QString());
        QVERIFY(languageFiles().isEmpty());
        QCOMPARE(languagesDir(), dir.filePath(u"Languages"_qs));
    }
};

QTEST_GUILESS_MAIN(TestLanguageChoice)
#include "tst_languagechoice.moc"
