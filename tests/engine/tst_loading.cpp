#include "engine/loading.h"
#include "i18n/translate.h"
#include "text/singlebytecodec.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <tuple>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file");
    return path;
}

QStringList readLines(const QString &path, TextEncoding encoding, QString *error = nullptr)
{
    TextLines lines;
    QString message;
    if (!readTextLines(path, encoding, lines, &message)) {
        if (error)
            *error = message;
        return {u"<failed>"_qs};
    }
    return lines.toStringList();
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void cleanup() { clearActiveLanguage(); }

    void readsLinesAndMarks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QStringList>("expected");
        const int ansi = int(TextEncoding::Ansi), utf8 = int(TextEncoding::Utf8), utf16 = int(TextEncoding::Utf16);

        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << utf8 << QStringList{u"a"_qs, u"b"_qs};
        QTest::newRow("LF, no final break") << QByteArray("a\nb") << utf8 << QStringList{u"a"_qs, u"b"_qs};
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << utf8 << QStringList{u"a"_qs, u"b"_qs};
        QTest::newRow("CR CR LF is two breaks")
            << QByteArray("a\r\r\nb") << utf8 << QStringList{u"a"_qs, u""_qs, u"b"_qs};
        QTest::newRow("empty lines kept") << QByteArray("\n\na\n") << utf8 << QStringList{u""_qs, u""_qs, u"a"_qs};
        QTest::newRow("empty file") << QByteArray() << utf8 << QStringList();
        QTest::newRow("only a mark") << QByteArray("\xEF\xBB\xBF") << utf8 << QStringList();
        QTest::newRow("UTF-8 mark wins over ANSI")
            << QByteArray("\xEF\xBB\xBF\xC3\xBC\n") << ansi << QStringList{u"ü"_qs};
        QTest::newRow("ANSI without mark") << QByteArray("\xC3\xBC\n") << ansi << QStringList{u"Ã¼"_qs};
        QTest::newRow("UTF-16 LE mark wins over UTF-8") << QByteArray("\xFF\xFE"
                                                                      "a\0\r\0\n\0\x1F\x04",
                                                                      10)
                                                        << utf8 << QStringList{u"a"_qs, u"П"_qs};
        QTest::newRow("UTF-16 BE mark") << QByteArray("\xFE\xFF\0a\0\n\0b", 8) << ansi << QStringList{u"a"_qs, u"b"_qs};
        QTest::newRow("UTF-16 chosen, no mark")
            << QByteArray("a\0\n\0\xFC\0", 6) << utf16 << QStringList{u"a"_qs, u"ü"_qs};
        // Only the file's own mark goes: a second one, as from files put together, stays text.
        QTest::newRow("UTF-8, second mark") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF=\n\xEF\xBB\xBF;S") << ansi
                                            << QStringList{u"\uFEFF="_qs, u"\uFEFF;S"_qs};
        QTest::newRow("UTF-16, second mark")
            << QByteArray("\xFF\xFE\xFF\xFE=\0", 6) << utf8 << QStringList{u"\uFEFF="_qs};
        // An odd last byte cannot be a UTF-16 unit; it shows as U+FFFD instead of vanishing.
        QTest::newRow("UTF-16, odd last byte")
            << QByteArray("a\0\n\0b\0c", 7) << utf16 << QStringList{u"a"_qs, u"b\uFFFD"_qs};
    }

    void readsLinesAndMarks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        QFETCH(QStringList, expected);
        const QString path = writeFile(m_dir, QString::fromLatin1(QTest::currentDataTag()), bytes);
        QCOMPARE(readLines(path, TextEncoding(encoding)), expected);
    }

    void utf8AcrossBlockBoundaries()
    {
        // Multi-byte letters of 2, 3 and 4 bytes land across every 4096-byte boundary (and
        // across the blocks that files in other encodings are read in).
        QString line;
        while (line.toUtf8().size() < 3 * 4096)
            line += u"aé€😀"_qs;
        const QString path = writeFile(m_dir, u"blocks.vcf"_qs, line.toUtf8() + "\r\n" + line.toUtf8());
        QCOMPARE(readLines(path, TextEncoding::Utf8), (QStringList{line, line}));

        // A CR at the end of one block and its LF at the start of the next make one break.
        QByteArray crlf(4095, 'x');
        crlf += "\r\nnext";
        QCOMPARE(readLines(writeFile(m_dir, u"crlf.vcf"_qs, crlf), TextEncoding::Utf8),
                 (QStringList{QString(4095, u'x'), u"next"_qs}));
    }

    void largeFilesReadInTwoHalves()
    {
        // From 16 MB on, a file is split after a line feed near its middle and the halves are
        // read on two threads: every kind of line break and letter must come out as one read.
        QByteArray bytes;
        QStringList expected;
        static const char *const breaks[] = {"\r\n", "\n", "\r", "\n\n"};
        for (int i = 0; bytes.size() < (17 << 20); ++i) {
            const QString line = QStringLiteral("%1 aé€😀").arg(i);
            bytes += line.toUtf8() + breaks[i % 4];
            expected.append(line);
            if (i % 4 == 3)
                expected.append(QString());
        }
        QCOMPARE(readLines(writeFile(m_dir, u"large.vcf"_qs, bytes), TextEncoding::Utf8), expected);

        // An invalid byte near the end fails the whole read, as it does in a small file.
        bytes[bytes.size() - 10] = '\xFF';
        QCOMPARE(readLines(writeFile(m_dir, u"large-invalid.vcf"_qs, bytes), TextEncoding::Utf8),
                 QStringList{u"<failed>"_qs});
    }

    void invalidUtf8FailsWholeRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("Latin-1 letter") << QByteArray("BEGIN:VCARD\nFN:J\xFCrgen\nEND:VCARD\n");
        QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF");
        QTest::newRow("encoded surrogate") << QByteArray("a\xED\xA0\x80");
        QTest::newRow("cut at the end of the file") << QByteArray("abc\xE2\x82");
        QTest::newRow("invalid after 4096 bytes") << QByteArray(5000, 'a') + "\xFF";
    }

    void invalidUtf8FailsWholeRead()
    {
        QFETCH(QByteArray, bytes);
        QString error;
        const QString path = writeFile(m_dir, QString::fromLatin1(QTest::currentDataTag()), bytes);
        QCOMPARE(readLines(path, TextEncoding::Utf8, &error), QStringList{u"<failed>"_qs});
        QCOMPARE(error, u"No mapping for the Unicode character exists in the target multi-byte code page"_qs);
    }

    void ansiCodePagesMapEveryByte()
    {
        const SingleByteCodec &turkish = SingleByteCodec::forCodePage(1254);
        QCOMPARE(turkish.toUnicode(0xFD), u'ı');
        QCOMPARE(turkish.toUnicode(0x80), u'€');
        QCOMPARE(turkish.toUnicode(0x81), char16_t(0x81)); // undefined bytes keep their value
        QCOMPARE(turkish.fromUnicode(u"ıĞ€😀я"), QByteArray("\xFD\xD0\x80??"));
        QCOMPARE(SingleByteCodec::forCodePage(1251).fromUnicode(u"Яш"), QByteArray("\xDF\xF8"));
    }

    void testAppendVcfFile()
    {
        LoadedVcards loaded;
        const QString card = writeFile(m_dir, u"card.vcf"_qs, "BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD");
        QCOMPARE(appendVcfFile(card, TextEncoding::Utf8, loaded).kind, LoadOutcome::Loaded);
        QCOMPARE(appendVcfFile(card, TextEncoding::Utf8, loaded).kind, LoadOutcome::Loaded);
        const QStringList once{u"BEGIN:VCARD"_qs, u"FN:Ann"_qs, u"END:VCARD"_qs, u""_qs};
        QCOMPARE(loaded.loadedLines.toStringList(), once + once);
        QCOMPARE(loaded.loadedFileCount, 2);

        // A path without a file changes nothing and says why, naming the path.
        const std::tuple<QString, LoadOutcome::Kind, QString> nothingToRead[] = {
            {m_dir.filePath(u"nope.vcf"_qs), LoadOutcome::Missing, u"The file does not exist."_qs},
            {m_dir.path(), LoadOutcome::NotAFile, u"This is a folder, not a file."_qs},
            {u"/dev/null"_qs, LoadOutcome::NotAFile, u"This is not a regular file."_qs},
        };
        for (const auto &[path, kind, reason] : nothingToRead) {
            const LoadOutcome outcome = appendVcfFile(path, TextEncoding::Utf8, loaded);
            QCOMPARE(outcome.kind, kind);
            QCOMPARE(outcome.warningCaption, u"WARNING"_qs);
            QCOMPARE(outcome.warningParagraphs, (QStringList{reason, u"Filename: "_qs + path}));
        }
        QCOMPARE(loaded.loadedFileCount, 2);

        // Invalid UTF-8: the reason as a warning that names the file and points to the other
        // encodings; nothing appended, the count unchanged.
        const QString latin1 = writeFile(m_dir, u"latin1.vcf"_qs, "FN:J\xFCrgen\n");
        const LoadOutcome failed = appendVcfFile(latin1, TextEncoding::Utf8, loaded);
        QCOMPARE(failed.kind, LoadOutcome::Failed);
        QCOMPARE(failed.warningCaption, u"WARNING"_qs);
        QCOMPARE(
            failed.warningParagraphs,
            (QStringList{invalidUtf8Message(), u"Filename: "_qs + latin1,
                         u"The file may be saved in another encoding: choose ANSI or UTF-16 and load it again."_qs}));
        QCOMPARE(loaded.loadedLines.size(), 8);
        QCOMPARE(loaded.loadedFileCount, 2);

        // The same file loads as ANSI.
        QCOMPARE(appendVcfFile(latin1, TextEncoding::Ansi, loaded).kind, LoadOutcome::Loaded);
        QCOMPARE(loaded.loadedLines.at(8), u"FN:Jürgen"_qs);
        QCOMPARE(loaded.loadedFileCount, 3);
    }

    void fileInAnotherEncodingIsNotLoaded_data()
    {
        // The file's bytes, the encoding chosen, and the encoding the warning names (none: loaded).
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("named");
        const int ansi = int(TextEncoding::Ansi), utf8 = int(TextEncoding::Utf8), utf16 = int(TextEncoding::Utf16);
        const QByteArray card = "BEGIN:VCARD\r\nFN:J\xC3\xBCrgen\r\nEND:VCARD\r\n";
        QByteArray utf16le;
        for (const char c : QByteArray("begin:vcard\nFN:Ann\nend:vcard\n"))
            utf16le.append(c).append('\0');
        const QByteArray latin1 = "BEGIN:VCARD\nFN:J\xFCrgen\nEND:VCARD\n";
        QByteArray utf16be;
        for (const char c : QByteArray("BEGIN:VCARD\nFN:Ann\nEND:VCARD\n"))
            utf16be.append('\0').append(c);

        QTest::newRow("ASCII UTF-8 read as UTF-16")
            << QByteArray("BEGIN:VCARD\nFN:Ann\nEND:VCARD\n") << utf16 << u"UTF-8"_qs;
        QTest::newRow("UTF-8 with letters read as UTF-16 loads") << card << utf16 << QString();
        QTest::newRow("UTF-16 big-endian read as UTF-8") << utf16be << utf8 << u"UTF-16"_qs;
        QTest::newRow("UTF-16 big-endian read as ANSI") << utf16be << ansi << u"UTF-16"_qs;
        QTest::newRow("UTF-16 big-endian read as UTF-16 loads") << utf16be << utf16 << QString();
        QTest::newRow("UTF-16 read as UTF-8") << utf16le << utf8 << u"UTF-16"_qs;
        QTest::newRow("UTF-16 read as ANSI") << utf16le << ansi << u"UTF-16"_qs;
        QTest::newRow("ANSI read as UTF-16") << latin1 << utf16 << u"ANSI"_qs;
        QTest::newRow("UTF-8 read as ANSI loads") << card << ansi << QString();
        QTest::newRow("markers with blanks around them")
            << QByteArray("  begin:VCARD \nEND:VCARD\t\n") << utf8 << QString();
        QTest::newRow("no encoding finds a card") << QByteArray("FN:Ann\n") << utf16 << QString();
        QTest::newRow("a byte-order mark decides") << QByteArray("\xEF\xBB\xBF") + card << utf16 << QString();
    }

    void fileInAnotherEncodingIsNotLoaded()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, chosen);
        QFETCH(QString, named);
        const QString path = writeFile(m_dir, u"other.vcf"_qs, bytes);
        LoadedVcards loaded;
        appendVcfFile(writeFile(m_dir, u"first.vcf"_qs, "BEGIN:VCARD\nEND:VCARD\n"), TextEncoding::Ansi, loaded);
        const LoadOutcome outcome = appendVcfFile(path, TextEncoding(chosen), loaded);
        if (named.isEmpty()) {
            QCOMPARE(outcome.kind, LoadOutcome::Loaded);
            QCOMPARE(loaded.loadedFileCount, 2);
            return;
        }
        QCOMPARE(outcome.kind, LoadOutcome::Failed);
        QCOMPARE(outcome.warningCaption, u"WARNING"_qs);
        QCOMPARE(
            outcome.warningParagraphs,
            (QStringList{u"The file holds no vCard in the chosen encoding, but it does when read as "_qs + named + u'.',
                         u"Filename: "_qs + path, u"Choose "_qs + named + u" and load the file again."_qs}));
        QCOMPARE(loaded.loadedLines.toStringList(), (QStringList{u"BEGIN:VCARD"_qs, u"END:VCARD"_qs, QString()}));
        QCOMPARE(loaded.loadedFileCount, 1);
    }

    void readsUtf8AndBigEndianWhateverTheChoice_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("name");
        const int ansi = int(TextEncoding::Ansi), utf16 = int(TextEncoding::Utf16);
        const QByteArray utf8 = "BEGIN:VCARD\nFN:Ay\xC5\x9F"
                                "e Y\xC4\xB1lmaz\nEND:VCARD\n";
        QByteArray utf16be;
        for (const QChar c : u"BEGIN:VCARD\nFN:Ayşe Yılmaz\nEND:VCARD\n"_qs)
            utf16be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        QTest::newRow("UTF-8 with ANSI chosen") << utf8 << ansi << u"FN:Ayşe Yılmaz"_qs;
        QTest::newRow("UTF-8 with UTF-16 chosen") << utf8 << utf16 << u"FN:Ayşe Yılmaz"_qs;
        QTest::newRow("big-endian UTF-16 with UTF-16 chosen") << utf16be << utf16 << u"FN:Ayşe Yılmaz"_qs;
        // Single-byte text that is no well-formed UTF-8 stays ANSI.
        QTest::newRow("ANSI with ANSI chosen")
            << QByteArray("BEGIN:VCARD\nFN:J\xFCrgen \xC3\nEND:VCARD\n") << ansi << u"FN:Jürgen Ã"_qs;
    }

    void readsUtf8AndBigEndianWhateverTheChoice()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, chosen);
        QFETCH(QString, name);
        LoadedVcards loaded;
        const LoadOutcome outcome
            = appendVcfFile(writeFile(m_dir, u"chosen.vcf"_qs, bytes), TextEncoding(chosen), loaded);
        QCOMPARE(outcome.kind, LoadOutcome::Loaded);
        QVERIFY(outcome.warningParagraphs.isEmpty());
        QCOMPARE(loaded.loadedLines.toStringList(), (QStringList{u"BEGIN:VCARD"_qs, name, u"END:VCARD"_qs, QString()}));
    }

    void linesSurviveCopiesAppendsAndCuts()
    {
        // Two files of more lines than one page of line ends holds, so that appending,
        // copying and cutting all cross page boundaries.
        QStringList first, second;
        for (int i = 0; i < 70000; ++i) {
            first.append(QString::number(i));
            second.append(u"line "_qs + QString::number(i));
        }
        TextLines lines, more;
        QString error;
        QVERIFY(readTextLines(writeFile(m_dir, u"first.txt"_qs, first.join(u'\n').toUtf8()), TextEncoding::Utf8, lines,
                              &error));
        QVERIFY(readTextLines(writeFile(m_dir, u"second.txt"_qs, second.join(u"\r\n"_qs).toUtf8()), TextEncoding::Utf8,
                              more, &error));
        lines.appendLines(std::move(more));
        QVERIFY(more.isEmpty());
        lines.appendUtf8("tail");
        const QStringList all = first + second + QStringList{u"tail"_qs};
        QCOMPARE(lines.toStringList(), all);

        // A copy (an export's snapshot) shares the pages: what either list adds later stays its own.
        const TextLines snapshot = lines;
        TextLines copy = snapshot;
        lines.appendUtf8("after");
        copy.appendUtf8("copy");
        QCOMPARE(snapshot.toStringList(), all);
        QCOMPARE(lines.toStringList(), all + QStringList{u"after"_qs});
        QCOMPARE(copy.toStringList(), all + QStringList{u"copy"_qs});

        // Cut inside the second file, inside the first, and to nothing; each list goes on growing.
        lines.truncate(70005);
        lines.append(u"again");
        QCOMPARE(lines.toStringList(), all.first(70005) + QStringList{u"again"_qs});
        copy.truncate(3);
        copy.append(u"x");
        QCOMPARE(copy.toStringList(), (QStringList{u"0"_qs, u"1"_qs, u"2"_qs, u"x"_qs}));
        copy.truncate(0);
        QVERIFY(copy.isEmpty());
        QCOMPARE(snapshot.toStringList(), all);
    }

    void removedLinesLeaveTheRestInOrder()
    {
        // Two chunks (a file read, then appended lines) over more than one page of line ends,
        // and a copy that shares them all and must not change.
        QStringList read;
        for (int i = 0; i < 70000; ++i)
            read.append(u"read "_qs + QString::number(i));
        TextLines lines;
        QString error;
        QVERIFY(readTextLines(writeFile(m_dir, u"read.txt"_qs, read.join(u'\n').toUtf8()), TextEncoding::Utf8, lines,
                              &error));
        QStringList all = read;
        for (int i = 0; i < 70000; ++i) {
            all.append(u"added "_qs + QString::number(i) + QString(i % 7, u'+'));
            lines.append(all.back());
        }
        const TextLines copy = lines;

        struct Case {
            const char *name;
            std::function<bool(qsizetype)> removes;
        };
        const Case cases[] = {
            {"none", [](qsizetype) { return false; }},
            {"every third", [](qsizetype i) { return i % 3 == 0; }},
            {"all of the first chunk", [](qsizetype i) { return i < 70000; }},
            {"all of the second chunk and the first line", [](qsizetype i) { return i == 0 || i >= 70000; }},
            {"all but the last", [](qsizetype i) { return i + 1 < 140000; }},
            {"all", [](qsizetype) { return true; }},
        };
        for (const Case &test : cases) {
            TextLines cut = copy;
            std::vector<bool> removed(size_t(cut.size()));
            QStringList expected;
            for (qsizetype i = 0; i < cut.size(); ++i) {
                removed[size_t(i)] = test.removes(i);
                if (!removed[size_t(i)])
                    expected.append(all.at(i));
            }
            cut.removeLines(removed);
            QVERIFY2(cut.toStringList() == expected, test.name);
            // The list goes on growing after its own last line.
            cut.append(u"more"_qs);
            QVERIFY2(cut.toStringList() == expected + QStringList{u"more"_qs}, test.name);
        }
        QCOMPARE(copy.toStringList(), all);
    }

    void emptyFileWarnsAndCounts()
    {
        setActiveLanguage(u"/l/Turkish.lang.txt"_qs, u"Turkish"_qs,
                          {u"{The file is empty!}Dosya boş!"_qs, u"{Filename: %s}Dosya adı: %s"_qs});
        LoadedVcards loaded;
        const QString path = writeFile(m_dir, u"empty.vcf"_qs, QByteArray());
        const LoadOutcome outcome = appendVcfFile(path, TextEncoding::Utf8, loaded);
        QCOMPARE(outcome.kind, LoadOutcome::Loaded);
        QCOMPARE(outcome.warningCaption, u"Warning"_qs);
        QCOMPARE(outcome.warningParagraphs,
                 (QStringList{u"Dosya boş!"_qs, u"Dosya adı: "_qs + path,
                              u"Verify that the file has not been corrupted and that the file extension matches the "
                              "format of the file."_qs}));
        QCOMPARE(loaded.loadedLines.toStringList(), QStringList{QString()});
        QCOMPARE(loaded.loadedFileCount, 1);
    }

    void unopenableFileNamesPathAndReason()
    {
        LoadedVcards loaded;
        QString error;
        TextLines lines;
        QVERIFY(!readTextLines(m_dir.path(), TextEncoding::Utf8, lines, &error));
        QCOMPARE(error, u"Cannot open file \""_qs + m_dir.path() + u"\". Is a directory"_qs);
        QCOMPARE(fileSize64(m_dir.filePath(u"nope"_qs)), -1);
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "tst_loading.moc"
