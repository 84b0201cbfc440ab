#include "i18n/translate.h"

#include <QTest>

class TestTranslate : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { clearActiveLanguage(); }

    void translateFromActiveFile_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");

        QTest::newRow("entry found") << QStringList{u"{OK}Tamam"_qs} << u"OK"_qs << u"Tamam"_qs;
        QTest::newRow("empty text falls back") << QStringList{u"{OK}"_qs} << u"OK"_qs << u"OK"_qs;
        QTest::newRow("first line wins") << QStringList{u"{OK}Tamam"_qs, u"{OK}Peki"_qs} << u"OK"_qs << u"Tamam"_qs;
        QTest::newRow("empty first line still wins") << QStringList{u"{OK}"_qs, u"{OK}Peki"_qs} << u"OK"_qs << u"OK"_qs;
        QTest::newRow("case counts") << QStringList{u"{Ok}Tamam"_qs} << u"OK"_qs << u"OK"_qs;
        QTest::newRow("leading blank never matches") << QStringList{u" {OK}Tamam"_qs} << u"OK"_qs << u"OK"_qs;
        QTest::newRow("blanks belong to the text") << QStringList{u"{OK} Tamam "_qs} << u"OK"_qs << u" Tamam "_qs;
        QTest::newRow("no line carries the key") << QStringList{u"note"_qs, u""_qs} << u"OK"_qs << u"OK"_qs;
        QTest::newRow("text after the first brace") << QStringList{u"{A}b}c"_qs} << u"A"_qs << u"b}c"_qs;
    }

    void translateFromActiveFile()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, source);
        QFETCH(QString, expected);
        setActiveLanguage(u"/x/Languages/Turkish.lang.txt"_qs, u"Turkish"_qs, lines);
        QCOMPARE(translate(source), expected);
    }

    void noActiveLanguageGivesEnglish()
    {
        QCOMPARE(translate(u"OK"_qs), u"OK"_qs);
        // An active path with no lines (an unreadable file) answers in English too.
        setActiveLanguage(u"/x/Languages/Broken.lang.txt"_qs, u"Broken"_qs, {});
        QCOMPARE(translate(u"OK"_qs), u"OK"_qs);
    }

    // The caption's key is its text without the mark; the translator's text brings its own mark.
    void captionsFromActiveFile_data()
    {
        QTest::addColumn<QStringList>("lines"); // empty: English
        QTest::addColumn<QString>("englishCaption");
        QTest::addColumn<QString>("expected");
        QTest::newRow("English keeps its mark") << QStringList() << u"E&xit"_qs << u"E&xit"_qs;
        QTest::newRow("translator's mark") << QStringList{u"{Exit}&Beenden"_qs} << u"E&xit"_qs << u"&Beenden"_qs;
        QTest::newRow("translation without mark has none")
            << QStringList{u"{Exit}Beenden"_qs} << u"E&xit"_qs << u"Beenden"_qs;
        QTest::newRow("translation equal to the key") << QStringList{u"{OK}OK"_qs} << u"&OK"_qs << u"OK"_qs;
        QTest::newRow("missing entry gives English") << QStringList{u"{File}&Datei"_qs} << u"E&xit"_qs << u"E&xit"_qs;
        QTest::newRow("empty entry gives English") << QStringList{u"{Exit}"_qs} << u"E&xit"_qs << u"E&xit"_qs;
        QTest::newRow("a marked key is never looked up")
            << QStringList{u"{E&xit}&Beenden"_qs} << u"E&xit"_qs << u"E&xit"_qs;
        QTest::newRow("literal ampersand in the key") << QStringList{u"{Save & Close}&Speichern && schließen"_qs}
                                                      << u"&Save && Close"_qs << u"&Speichern && schließen"_qs;
    }

    void captionsFromActiveFile()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, englishCaption);
        QFETCH(QString, expected);
        if (!lines.isEmpty())
            setActiveLanguage(u"/x/Languages/German.lang.txt"_qs, u"German"_qs, lines);
        QCOMPARE(translateCaption(englishCaption), expected);
    }

    void captionsAsPlainText_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("plain");
        QTest::newRow("first letter") << u"&File"_qs << u"File"_qs;
        QTest::newRow("inner letter") << u"E&xit"_qs << u"Exit"_qs;
        QTest::newRow("no mark") << u"Beenden"_qs << u"Beenden"_qs;
        QTest::newRow("literal ampersand") << u"Save && Close"_qs << u"Save & Close"_qs;
        QTest::newRow("mark and literal") << u"&Speichern && schließen"_qs << u"Speichern & schließen"_qs;
        QTest::newRow("marked ampersand") << u"A &&& B"_qs << u"A & B"_qs;
        QTest::newRow("mark at the end") << u"Exit&"_qs << u"Exit"_qs;
        QTest::newRow("non-Latin letter") << u"О&становить"_qs << u"Остановить"_qs;
        QTest::newRow("empty") << QString() << QString();
    }

    void captionsAsPlainText()
    {
        QFETCH(QString, caption);
        QFETCH(QString, plain);
        QCOMPARE(withoutMnemonic(caption), plain);
    }

    void testLookupInLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("expected");
        const QString key = u"INFO:Translated By"_qs;
        QTest::newRow("names") << QStringList{u"{INFO:Translated By}Ada,Bob"_qs} << u"Ada,Bob"_qs;
        QTest::newRow("empty value kept") << QStringList{u"{INFO:Translated By}"_qs} << QString();
        QTest::newRow("no such key") << QStringList{u"{OK}Tamam"_qs} << key;
        QTest::newRow("no lines") << QStringList() << key;
    }

    void testLookupInLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, expected);
        QCOMPARE(lookupInLines(u"INFO:Translated By"_qs, lines), expected);
    }

    void formatTextNeverActsAsFormatString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one marker") << u"Filename: %s"_qs << QStringList{u"a.csv"_qs} << u"Filename: a.csv"_qs;
        QTest::newRow("no marker") << u"Dosya adı"_qs << QStringList{u"a.csv"_qs} << u"Dosya adı"_qs;
        QTest::newRow("other percent signs") << u"%d %n 100% %s"_qs << QStringList{u"x"_qs} << u"%d %n 100% x"_qs;
        QTest::newRow("value holding a marker is not rescanned")
            << u"%s and %s"_qs << QStringList{u"%s"_qs, u"b"_qs} << u"%s and b"_qs;
        QTest::newRow("two markers, one value") << u"%s/%s"_qs << QStringList{u"a"_qs} << u"a/%s"_qs;
    }

    void formatTextNeverActsAsFormatString()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, values);
        QFETCH(QString, expected);
        QCOMPARE(formatText(text, values), expected);
    }
};

QTEST_GUILESS_MAIN(TestTranslate)
#include "tst_translate.moc"
