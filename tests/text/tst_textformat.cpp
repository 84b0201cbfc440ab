#include "text/textformat.h"

#include <QTest>

class TestTextFormat : public QObject
{
    Q_OBJECT

private slots:
    void parseDecimalInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("plusAllowed");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("digits") << u"42"_qs << false << true << 42;
        QTest::newRow("minus") << u"-7"_qs << false << true << -7;
        QTest::newRow("plus where allowed") << u"+7"_qs << true << true << 7;
        QTest::newRow("plus where not allowed") << u"+7"_qs << false << false << 0;
        QTest::newRow("empty") << QString() << true << false << 0;
        QTest::newRow("sign alone") << u"-"_qs << true << false << 0;
        QTest::newRow("letter after digits") << u"1a"_qs << false << false << 0;
        QTest::newRow("leading blank") << u" 1"_qs << false << false << 0;
        QTest::newRow("largest int") << u"2147483647"_qs << false << true << 2147483647;
        QTest::newRow("smallest int") << u"-2147483648"_qs << false << true << int(-2147483648LL);
        QTest::newRow("past int") << u"2147483648"_qs << false << false << 0;
        QTest::newRow("Arabic-Indic digit") << u"\u0663"_qs << false << false << 0;
    }

    void parseDecimalInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, plusAllowed);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const std::optional<int> parsed = ::parseDecimalInt(text, plusAllowed);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }
};

QTEST_GUILESS_MAIN(TestTextFormat)
#include "tst_textformat.moc"
