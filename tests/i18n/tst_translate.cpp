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
