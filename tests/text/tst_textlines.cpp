#include "testfiles.h"
#include "text/textlines.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

class TestTextLines : public QObject
{
    Q_OBJECT

private slots:
    void readsNoFurtherThanTheSizeAtOpening_data()
    {
        QTest::addColumn<TextEncoding>("encoding");
        QTest::addColumn<QByteArray>("mark");
        QTest::newRow("UTF-8") << TextEncoding::Utf8 << QByteArray();
        QTest::newRow("ANSI") << TextEncoding::Ansi << QByteArray();
        QTest::newRow("UTF-16") << TextEncoding::Utf16 << QByteArray("\xFF\xFE");
    }

    void readsNoFurtherThanTheSizeAtOpening()
    {
        // Another program appends to the file after it was opened, beyond the first block that
        // is read: the lines read are those the file held at the opening.
        QFETCH(TextEncoding, encoding);
        QFETCH(QByteArray, mark);
        auto encoded = [&](const QString &text) {
            QStringEncoder encoder(encoding == TextEncoding::Utf16 ? QStringConverter::Utf16LE
                                                                   : QStringConverter::Utf8);
            return QByteArray(encoder.encode(text));
        };
        QTemporaryDir dir;
        const QString path
            = writeTestFile(dir.filePath(u"growing.vcf"_qs), mark + encoded(u"BEGIN:VCARD\r\nFN:Ann"_qs));
        TextFileReader reader(path);

        QFile appender(path);
        QVERIFY(appender.open(QIODevice::Append));
        const QByteArray more = encoded(u" Lee\r\nNOTE:appended\r\n"_qs.repeated(20000));
        QCOMPARE(appender.write(more), more.size());
        appender.close();

        TextLines lines;
        QString error;
        QVERIFY2(reader.readLines(encoding, lines, &error), qPrintable(error));
        QCOMPARE(lines.toStringList(), (QStringList{u"BEGIN:VCARD"_qs, u"FN:Ann"_qs}));

        // Read again, the file holds all that was appended.
        QVERIFY(readTextLines(path, encoding, lines, &error));
        QCOMPARE(lines.size(), 1 + 2 * 20000);
        QCOMPARE(lines.at(1), u"FN:Ann Lee"_qs);
    }

    void aFileCutShortWhileItIsReadFails_data()
    {
        QTest::addColumn<TextEncoding>("encoding");
        QTest::addColumn<qint64>("cutTo");
        for (const auto &[name, encoding] :
             {std::pair{"UTF-8", TextEncoding::Utf8}, std::pair{"ANSI", TextEncoding::Ansi},
              std::pair{"UTF-16", TextEncoding::Utf16}}) {
            QTest::addRow("%s, emptied", name) << encoding << qint64(0);
            QTest::addRow("%s, cut in the first block", name) << encoding << qint64(1000);
            QTest::addRow("%s, cut after the first block", name) << encoding << qint64(150000);
        }
    }

    void aFileCutShortWhileItIsReadFails()
    {
        // The file is cut after it was opened: what is left of it is not taken for the whole
        // file, and no line of it is read.
        QFETCH(TextEncoding, encoding);
        QFETCH(qint64, cutTo);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(u"cut.vcf"_qs),
                                           QByteArray("BEGIN:VCARD\r\nFN:Ann Lee\r\nEND:VCARD\r\n").repeated(8000));
        TextFileReader reader(path);
        QVERIFY(QFile::resize(path, cutTo));
        TextLines lines = TextLines::fromStringList({u"before"_qs});
        QString error;
        QVERIFY(!reader.readLines(encoding, lines, &error));
        QCOMPARE(error, u"Cannot read file \""_qs + path + u"\". The file changed while it was read"_qs);
        QCOMPARE(lines.size(), 0);
    }

    void manyAppendedFilesKeepTheirLines()
    {
        // One short file after another, as a load of thousands of small files appends them.
        TextLines all;
        QStringList expected;
        for (int file = 0; file < 3000; ++file) {
            const QString card = u"FN:Person %1"_qs.arg(file);
            TextLines lines = TextLines::fromStringList({u"BEGIN:VCARD"_qs, card});
            all.appendLines(std::move(lines));
            all.appendUtf8(QByteArrayView());
            expected << u"BEGIN:VCARD"_qs << card << QString();
        }
        QCOMPARE(all.toStringList(), expected);
        all.truncate(4000);
        all.appendUtf8("END:VCARD");
        expected = expected.first(4000) << u"END:VCARD"_qs;
        QCOMPARE(all.toStringList(), expected);
    }

    void longLinesKeepTheirBuffers()
    {
        // A line of 2 MB goes into the list with its buffer; the lines around it stay apart.
        const QByteArray longText(2 << 20, 'n');
        QByteArray line = longText;
        const char *const bytes = line.constData();
        TextLines lines = TextLines::fromStringList({u"before"_qs});
        lines.appendUtf8Buffer(line);
        QVERIFY(line.isEmpty());
        QByteArray shortLine = "after";
        lines.appendUtf8Buffer(shortLine);
        lines.appendUtf8("last");
        QCOMPARE(shortLine, QByteArray("after"));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.utf8At(1), QByteArrayView(longText));
        QCOMPARE(lines.utf8At(1).constData(), bytes);
        QCOMPARE(lines.at(0), u"before"_qs);
        QCOMPARE(lines.at(2), u"after"_qs);
        QCOMPARE(lines.at(3), u"last"_qs);

        lines.removeLines({false, false, true, false});
        QCOMPARE(lines.toStringList(), (QStringList{u"before"_qs, QString::fromLatin1(longText), u"last"_qs}));
        lines.truncate(2);
        lines.appendUtf8("end");
        QCOMPARE(lines.toStringList(), (QStringList{u"before"_qs, QString::fromLatin1(longText), u"end"_qs}));
    }

    /* File ends stay between the same lines whatever the list goes through. */
    void fileEndsFollowTheirLines()
    {
        TextLines first = TextLines::fromStringList({u"a1"_qs, u"a2"_qs, QString()});
        first.markFileEnd();
        first.markFileEnd(); // a second mark at the same place is the same end
        TextLines second = TextLines::fromStringList({u"b1"_qs, QString()});
        second.markFileEnd();
        first.appendLines(std::move(second));
        QCOMPARE(first.fileEnds(), (std::vector<qsizetype>{3, 5}));

        TextLines copy = first;
        copy.removeLines({false, true, false, true, false});
        QCOMPARE(copy.toStringList(), (QStringList{u"a1"_qs, QString(), QString()}));
        QCOMPARE(copy.fileEnds(), (std::vector<qsizetype>{2, 3}));
        QCOMPARE(first.fileEnds(), (std::vector<qsizetype>{3, 5}));

        first.truncate(4);
        QCOMPARE(first.fileEnds(), (std::vector<qsizetype>{3}));
        first.clear();
        QVERIFY(first.fileEnds().empty());
    }
};

QTEST_GUILESS_MAIN(TestTextLines)
#include "tst_textlines.moc"
