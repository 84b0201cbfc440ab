/*
 * Qt's own catalogue for the active language: every shipped language file names its locale,
 * Qt's catalogue for it is found and installed, and Qt's file-dialog and button texts then
 * come out in that language; English installs none.
 */
#include "i18n/languagechoice.h"
#include "i18n/qttranslations.h"
#include "i18n/translate.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

namespace {

const QString kResourcesDir = QDir::cleanPath(QStringLiteral(TESSALY_TEST_SOURCE_DIR "/../resources"));

/* Texts of Qt's save dialog and of its overwrite question, by their catalogue context. */
struct QtText {
    const char *context;
    const char *source;
};

const QtText kDialogTexts[] = {
    {"QFileDialog", "Look in:"},
    {"QFileDialog", "File &name:"},
    {"QFileDialog", "Files of type:"},
    {"QFileDialog", "&Save"},
    {"QFileDialog", "%1 already exists.\nDo you want to replace it?"},
    {"QPlatformTheme", "Cancel"},
    {"QPlatformTheme", "&Yes"},
    {"QPlatformTheme", "&No"},
    {"QPlatformTheme", "OK"},
};

/*
 * The texts of kDialogTexts that Qt does not show as the locale's catalogue has them ("OK" or
 * Spanish "No" may be spelt as in English, so the catalogue is the measure): missing from the
 * catalogue, or shown otherwise.
 */
QStringList textsNotFrom(const QString &locale)
{
    QTranslator catalogue;
    if (!catalogue.load(QLocale(locale), u"qtbase"_qs, u"_"_qs, qtTranslationsDir()))
        return {u"no catalogue for "_qs + locale};
    QStringList wrong;
    for (const QtText &text : kDialogTexts) {
        const QString expected = catalogue.translate(text.context, text.source);
        if (expected.isEmpty() || QCoreApplication::translate(text.context, text.source) != expected)
            wrong.append(QLatin1String(text.context) + u'/' + QLatin1String(text.source));
    }
    return wrong;
}

/* How many texts of kDialogTexts Qt shows as they are in English. */
qsizetype englishTexts()
{
    qsizetype english = 0;
    for (const QtText &text : kDialogTexts)
        english += QCoreApplication::translate(text.context, text.source) == QLatin1String(text.source);
    return english;
}

} // namespace

class TestQtTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        clearActiveLanguage();
        installQtTranslations();
    }

    void shippedLanguageInstallsQtCatalogue_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("locale");
        QTest::newRow("German") << u"German.lang.txt"_qs << u"de"_qs;
        QTest::newRow("French") << u"French.lang.txt"_qs << u"fr"_qs;
        QTest::newRow("Spanish") << u"Spanish.lang.txt"_qs << u"es"_qs;
        QTest::newRow("Turkish") << u"Turkish.lang.txt"_qs << u"tr"_qs;
        QTest::newRow("Russian") << u"Russian.lang.txt"_qs << u"ru"_qs;
        QTest::newRow("Brazilian Portuguese") << u"PortugueseBrazil.lang.txt"_qs << u"pt_BR"_qs;
    }

    void shippedLanguageInstallsQtCatalogue()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, locale);
        QVERIFY(loadLanguageFrom(fileName, kResourcesDir, 0));
        QCOMPARE(activeLanguageLocale(), locale);
        QString error;
        QVERIFY2(installQtTranslations(&error), qPrintable(error));
        QCOMPARE(installedQtLocale(), locale);
        const QStringList wrong = textsNotFrom(locale);
        QVERIFY2(wrong.isEmpty(), qPrintable(u"not from the catalogue: "_qs + wrong.join(u", "_qs)));
        // Most of them read differently from English, so the catalogue is really in use.
        QVERIFY(englishTexts() <= 2);
    }

    void englishInstallsNone()
    {
        QVERIFY(loadLanguageFrom(u"Russian.lang.txt"_qs, kResourcesDir, 0));
        QVERIFY(installQtTranslations());
        QVERIFY(textsNotFrom(u"ru"_qs).isEmpty());

        // Back to English: the Russian catalogue is gone again.
        clearActiveLanguage();
        QCOMPARE(activeLanguageLocale(), QString());
        QVERIFY(installQtTranslations());
        QCOMPARE(installedQtLocale(), QString());
        QCOMPARE(englishTexts(), qsizetype(std::size(kDialogTexts)));
    }

    void fileWithoutLocaleKeepsQtEnglish()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(u"Languages"_qs));
        QFile file(dir.filePath(u"Languages/Dutch.lang.txt"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{INFO:Translated By}Someone\r\n{File}Bestand\r\n");
        file.close();
        QVERIFY(loadLanguageFrom(u"Dutch.lang.txt"_qs, dir.path(), 0));
        QCOMPARE(translate(u"File"_qs), u"Bestand"_qs);
        QCOMPARE(activeLanguageLocale(), QString());
        QVERIFY(installQtTranslations());
        QCOMPARE(installedQtLocale(), QString());
        QCOMPARE(englishTexts(), qsizetype(std::size(kDialogTexts)));
    }

    void missingCatalogueIsReported()
    {
        QTemporaryDir empty;
        QString error;
        QVERIFY(!installQtTranslationsFrom(u"de"_qs, empty.path(), &error));
        QVERIFY2(error.contains(u"qtbase_de.qm"_qs) && error.contains(empty.path()), qPrintable(error));
        QCOMPARE(installedQtLocale(), QString());
        QCOMPARE(englishTexts(), qsizetype(std::size(kDialogTexts)));
    }
};

QTEST_GUILESS_MAIN(TestQtTranslations)
#include "tst_qttranslations.moc"
