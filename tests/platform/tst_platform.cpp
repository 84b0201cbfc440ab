#include "platform/ansicodepage.h"
#include "platform/listseparator.h"
#include "platform/terminationsignal.h"
#include "platform/uilanguage.h"

#include <QTest>

#include <csignal>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void localeFacts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<int>("langId");
        QTest::newRow("en_US") << u"en_US"_qs << 1252 << u","_qs << 1033;
        QTest::newRow("en_GB") << u"en_GB"_qs << 1252 << u","_qs << 2057;
        QTest::newRow("de_DE") << u"de_DE"_qs << 1252 << u";"_qs << 1031;
        QTest::newRow("de_AT") << u"de_AT"_qs << 1252 << u";"_qs << 3079;
        QTest::newRow("tr_TR") << u"tr_TR"_qs << 1254 << u";"_qs << 1055;
        QTest::newRow("ru_RU") << u"ru_RU"_qs << 1251 << u";"_qs << 1049;
        QTest::newRow("pl_PL") << u"pl_PL"_qs << 1250 << u";"_qs << 1045;
        QTest::newRow("el_GR") << u"el_GR"_qs << 1253 << u";"_qs << 1032;
        QTest::newRow("he_IL") << u"he_IL"_qs << 1255 << u","_qs << 1037;
        QTest::newRow("ar_EG") << u"ar_EG"_qs << 1256 << u","_qs << 3073;
        QTest::newRow("lt_LT") << u"lt_LT"_qs << 1257 << u";"_qs << 1063;
        QTest::newRow("vi_VN") << u"vi_VN"_qs << 1258 << u";"_qs << 1066;
        QTest::newRow("th_TH") << u"th_TH"_qs << 874 << u","_qs << 1054;
        QTest::newRow("ja_JP") << u"ja_JP"_qs << 1252 << u","_qs << 1041;
        QTest::newRow("fr_BE: territory known") << u"fr_BE"_qs << 1252 << u";"_qs << 2060;
        QTest::newRow("de_BE: main German variant") << u"de_BE"_qs << 1252 << u";"_qs << 1031;
        QTest::newRow("C") << u"C"_qs << 1252 << u","_qs << 1033;
    }

    void localeFacts()
    {
        QFETCH(QString, locale);
        const QLocale chosen(locale);
        QTEST(ansiCodePageForLocale(chosen), "codePage");
        QTEST(QString(listSeparatorForLocale(chosen)), "separator");
        QTEST(int(langIdForLocale(chosen)), "langId");
    }

    // The three signals reach the event loop, once each, and the process lives on.
    void terminationSignalsReachTheEventLoop()
    {
        QList<int> seen;
        int current = 0;
        QVERIFY(onTerminationSignal(this, [&] { seen.append(current); }));
        QVERIFY(!onTerminationSignal(this, [] {})); // once per process
        const QList<int> caught{SIGTERM, SIGINT, SIGHUP};
        for (const int signal : caught) {
            current = signal;
            QVERIFY(std::raise(signal) == 0);
            QTRY_COMPARE(seen.size(), caught.indexOf(signal) + 1);
        }
        QCOMPARE(seen, caught);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
