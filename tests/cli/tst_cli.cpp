#include "cli/cliarguments.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstring>

#include <dirent.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kConvert = QStringLiteral(TESSALY_CONVERT_BIN);
const QString kCardCases = QStringLiteral(TESSALY_TEST_DATA_DIR "/cards");
const QByteArray kCard = "BEGIN:VCARD\r\nFN:Ann Lee\r\nTEL:555 0100\r\nEND:VCARD\r\n";

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

/*
 * Runs tessaly-convert. With unprivileged set, it runs as "nobody" when the tests run as
 * root, so that permission bits stop reads and writes as they would for a user.
 */
Run runConverter(const QStringList &arguments, bool unprivileged = false,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QStringList command = QStringList{kConvert} + arguments;
    if (unprivileged)
        command = asUnprivilegedUser(command);
    process.start(command.takeFirst(), command);
    if (!process.waitForFinished(120000))
        qFatal("tessaly-convert did not finish");
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

/* n cards with a name and a note each. */
QByteArray manyCards(int n)
{
    QByteArray many;
    for (int i = 0; i < n; ++i)
        many += "BEGIN:VCARD\nFN:Person " + QByteArray::number(i) + "\nNOTE:" + QByteArray::number(i * 7919)
                + "\nEND:VCARD\n";
    return many;
}

/* The files and folders in a folder, hidden ones included. */
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

/* Whether the file system of folder makes files without a name (O_TMPFILE). */
bool canMakeNamelessFiles(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

/* Whether the process pid has a file open in folder, with a name or without (O_TMPFILE). */
bool hasFileOpenIn(qint64 pid, const QString &folder)
{
    const QString descriptors = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList open = QDir(descriptors).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(open.begin(), open.end(), [&](const QString &fd) {
        // A file without a name shows as "<folder>/#<inode> (deleted)".
        char target[4096];
        const ssize_t length
            = ::readlink(QFile::encodeName(descriptors + u'/' + fd).constData(), target, sizeof target);
        return length > 0 && QByteArray(target, length).startsWith(QFile::encodeName(folder) + '/');
    });
}

/* The names in a folder as the system has them, hidden ones included, sorted. */
QList<QByteArray> rawNamesIn(const QByteArray &folder)
{
    QList<QByteArray> names;
    if (DIR *entries = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(entries)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(entry->d_name);
        }
        ::closedir(entries);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/*
 * Runs tessaly-convert in folder with arguments given as bytes, as a shell passes them (a
 * QProcess would pass every argument as UTF-8), in the locale C.UTF-8.
 */
Run runConverterWithBytes(const QString &folder, const QList<QByteArray> &arguments)
{
    QString script = u"cd \"$1\" && exec \"$0\""_qs;
    QStringList values{kConvert, folder};
    for (const QByteArray &argument : arguments) {
        // Each byte as an octal escape that printf turns back into it.
        QString escaped;
        for (const char byte : argument)
            escaped += QStringLiteral("\\0%1").arg(uint(static_cast<unsigned char>(byte)), 3, 8, QLatin1Char('0'));
        script += QStringLiteral(" \"$(printf '%b' '%1')\"").arg(escaped);
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_qs, u"C.UTF-8"_qs);
    process.setProcessEnvironment(environment);
    process.start(u"sh"_qs, QStringList{u"-c"_qs, script} + values);
    if (!process.waitForFinished(120000))
        qFatal("tessaly-convert did not finish");
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

/* The first sheet of a workbook as Debian's readers see it (openpyxl, xlrd), as JSON. */
QByteArray dumpWorkbook(const QString &path)
{
    QProcess process;
    process.start(u"/usr/bin/python3"_qs, {QStringLiteral(TESSALY_TEST_SOURCE_DIR "/engine/workbook_dump.py"), path});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return "<unreadable> " + process.readAllStandardError();
    return process.readAllStandardOutput();
}

/* What a reader makes of an output: a workbook's cells, any other file's bytes. */
QByteArray outputContent(const QString &path, const QString &kind)
{
    return kind == u"xlsx" || kind == u"xls" ? dumpWorkbook(path) : readTestFile(path);
}

/* The kind of file at path: 'c' character device, 'p' FIFO, 'f' regular file, '-' none or other. */
char fileKind(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return '-';
    return S_ISCHR(status.st_mode) ? 'c' : S_ISFIFO(status.st_mode) ? 'p' : S_ISREG(status.st_mode) ? 'f' : '-';
}

/* A folder that the unprivileged user may enter. */
QString openFolder(const QTemporaryDir &dir, const QString &name, QFile::Permissions permissions)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(path);
    QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
    QFile::setPermissions(path, permissions);
    return path;
}

const QFile::Permissions kReadOnlyFolder
    = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QFile::Permissions kOpenFolder = kReadOnlyFolder | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;

} // namespace

/* One test row an output file name, "out.<extension>", named by its extension. */
static void addOutputNames(const QStringList &extensions)
{
    QTest::addColumn<QString>("name");
    for (const QString &extension : extensions)
        QTest::newRow(qPrintable(extension)) << u"out."_qs + extension;
}

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void parsesPresetsAndTypes_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<ExportType>("type");
        QTest::addColumn<CsvFlavor>("flavor");
        QTest::addColumn<int>("load");
        QTest::addColumn<int>("write");
        QTest::addColumn<bool>("headers");
        QTest::addColumn<ColumnModel>("columns");
        const int ansi = int(TextEncoding::Ansi), utf8 = int(TextEncoding::Utf8), utf16 = int(TextEncoding::Utf16);
        const ColumnModel fifteen = ColumnModel::Fifteen, allFields = ColumnModel::AllFields;
        QTest::newRow("defaults, type from .xlsx")
            << u"-o a.xlsx in.vcf"_qs << ExportType::Xls << CsvFlavor::Plain << utf8 << utf8 << true << fifteen;
        QTest::newRow("type from .CSV") << u"-o a.CSV in.vcf"_qs << ExportType::Csv << CsvFlavor::Plain << utf8 << utf8
                                        << true << fifteen;
        QTest::newRow("type from other") << u"-o a.dat in.vcf --no-headers"_qs << ExportType::Txt << CsvFlavor::Plain
                                         << utf8 << utf8 << false << fifteen;
        QTest::newRow("outlook forces ANSI and headers")
            << u"--preset outlook --no-headers -o a.xls in.vcf"_qs << ExportType::Csv << CsvFlavor::Outlook << utf8
            << ansi << true << fifteen;
        QTest::newRow("excel writes UTF-16") << u"--preset excel --encoding ansi -o a.csv in.vcf"_qs << ExportType::Csv
                                             << CsvFlavor::Plain << ansi << utf16 << true << fifteen;
        QTest::newRow("google leaves UTF-16 for UTF-8")
            << u"--preset google --encoding utf-16 -o a.csv in.vcf"_qs << ExportType::Csv << CsvFlavor::Google << utf16
            << utf8 << true << fifteen;
        QTest::newRow("google keeps ANSI") << u"--preset google --encoding ansi -o a.csv in.vcf"_qs << ExportType::Csv
                                           << CsvFlavor::Google << ansi << ansi << true << fifteen;
        QTest::newRow("explicit type wins") << u"--preset yahoo --type xls -o a.xlsx in.vcf"_qs << ExportType::Xls
                                            << CsvFlavor::Yahoo << utf8 << utf8 << true << fifteen;
        // All fields, wherever it stands among the arguments, reaches the request and the preset.
        QTest::newRow("all fields, type from .txt") << u"--all-fields -o a.txt in.vcf"_qs << ExportType::Txt
                                                    << CsvFlavor::Plain << utf8 << utf8 << true << allFields;
        QTest::newRow("all fields: google writes UTF-8 even from ANSI")
            << u"--preset google --encoding ansi -o a.csv in.vcf --all-fields"_qs << ExportType::Csv
            << CsvFlavor::Google << ansi << utf8 << true << allFields;
        QTest::newRow("all fields: yahoo keeps ANSI")
            << u"--encoding ansi --all-fields --preset yahoo -o a.csv in.vcf"_qs << ExportType::Csv << CsvFlavor::Yahoo
            << ansi << ansi << true << allFields;
    }

    void parsesPresetsAndTypes()
    {
        QFETCH(QString, arguments);
        const CliParse parse = parseCliArguments(arguments.split(u' '), u',');
        QVERIFY2(parse.options.has_value(), qPrintable(parse.usageError));
        QTEST(parse.options->request.fileType, "type");
        QTEST(parse.options->request.flavor, "flavor");
        QTEST(int(parse.options->loadEncoding), "load");
        QTEST(int(parse.options->writeOptions.encoding), "write");
        QTEST(parse.options->writeOptions.headers, "headers");
        QTEST(parse.options->request.columns, "columns");
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no output") << QStringList{u"in.vcf"_qs};
        QTest::newRow("no input") << QStringList{u"-o"_qs, u"a.csv"_qs};
        QTest::newRow("long separator") << QStringList{u"--separator"_qs, u";;"_qs, u"-o"_qs, u"a.csv"_qs,
                                                       u"in.vcf"_qs};
        QTest::newRow("unknown encoding")
            << QStringList{u"--encoding"_qs, u"latin9"_qs, u"-o"_qs, u"a.csv"_qs, u"in.vcf"_qs};
        QTest::newRow("unknown preset") << QStringList{u"--preset"_qs, u"gmail"_qs, u"-o"_qs, u"a.csv"_qs,
                                                       u"in.vcf"_qs};
        QTest::newRow("unknown option") << QStringList{u"--frobnicate"_qs, u"-o"_qs, u"a.csv"_qs, u"in.vcf"_qs};
        QTest::newRow("output twice") << QStringList{u"-o"_qs, u"a.csv"_qs, u"-o"_qs, u"b.csv"_qs, u"in.vcf"_qs};
        QTest::newRow("separator that breaks rows")
            << QStringList{u"--separator"_qs, u"a"_qs, u"-o"_qs, u"a.csv"_qs, u"in.vcf"_qs};
    }

    void badUsage()
    {
        QFETCH(QStringList, arguments);
        const Run run = runConverter(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains(u"Usage: tessaly-convert"_qs));
    }

    void separatorKeepsRowsWhole_data()
    {
        QTest::addColumn<QString>("separator");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("comma") << u","_qs << true;
        QTest::newRow("semicolon") << u";"_qs << true;
        QTest::newRow("bar") << u"|"_qs << true;
        QTest::newRow("tab") << u"\t"_qs << true;
        QTest::newRow("section sign") << u"§"_qs << true;
        QTest::newRow("letter") << u"a"_qs << false;
        QTest::newRow("capital letter") << u"Z"_qs << false;
        QTest::newRow("letter beyond ASCII") << u"é"_qs << false;
        QTest::newRow("digit") << u"7"_qs << false;
        QTest::newRow("quotation mark") << u"\""_qs << false;
        QTest::newRow("space") << u" "_qs << false;
        QTest::newRow("carriage return") << u"\r"_qs << false;
        QTest::newRow("line feed") << u"\n"_qs << false;
        QTest::newRow("NUL") << QString(QChar(0)) << false;
        QTest::newRow("0x01") << u"\x01"_qs << false;
        QTest::newRow("vertical tab") << u"\v"_qs << false;
        QTest::newRow("form feed") << u"\f"_qs << false;
        QTest::newRow("ESC") << u"\x1B"_qs << false;
        QTest::newRow("0x1C") << u"\x1C"_qs << false;
        QTest::newRow("0x1F") << u"\x1F"_qs << false;
        QTest::newRow("DEL") << u"\x7F"_qs << false;
        QTest::newRow("C1 control 0x85") << QString(QChar(0x85)) << false;
        // A byte 0x80 to 0xFF alone, which is no character (the command line gives it as U+DCE9).
        QTest::newRow("byte 0xE9 alone") << QString(QChar(0xDCE9)) << false;
    }

    void separatorKeepsRowsWhole()
    {
        QFETCH(QString, separator);
        QFETCH(bool, allowed);
        const CliParse parse
            = parseCliArguments({u"--separator"_qs, separator, u"-o"_qs, u"a.csv"_qs, u"in.vcf"_qs}, u',');
        QCOMPARE(parse.options.has_value(), allowed);
        if (allowed) {
            QCOMPARE(QString(parse.options->separator), separator);
        } else {
            // The message says what may be used instead.
            QCOMPARE(parse.usageError, u"The separator \""_qs + separator
                                           + u"\" could break a row. Use a character that is not a letter, a digit, "
                                             "a quotation mark (\"), a space, a line break or another control "
                                             "character, such as , ; | or a tab."_qs);
        }
    }

    void convertsAndReportsMissingInputs()
    {
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"a.vcf"_qs), kCard);
        const QString output = dir.filePath(u"out.csv"_qs);
        const Run run
            = runConverter({u"--separator"_qs, u";"_qs, u"-o"_qs, output, dir.filePath(u"missing.vcf"_qs), input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Process completed!\nFilename: "_qs + output + u"\n"_qs);
        QVERIFY(run.err.contains(u"missing.vcf: no such file"_qs));
        QCOMPARE(readTestFile(output), QByteArray("\xEF\xBB\xBF\"Name\";\"Phone\"\r\n\"Ann Lee\";\"555 0100\"\r\n"));
    }

    void countsFollowTheResult_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("counts"); // the one line on standard error
        // Ann twice, Bo, and Bo again with a third e-mail address that Google's layout leaves out.
        const QStringList none;
        QTest::newRow("CSV: identical rows kept once")
            << none << u"out.csv"_qs << u"3 rows from 4 contacts (1 duplicates dropped)"_qs;
        QTest::newRow("workbook: the same rows")
            << none << u"out.xlsx"_qs << u"3 rows from 4 contacts (1 duplicates dropped)"_qs;
        QTest::newRow("text layout: every card")
            << none << u"out.txt"_qs << u"4 rows from 4 contacts (0 duplicates dropped)"_qs;
        QTest::newRow("Google: identical once a column is dropped")
            << QStringList{u"--preset"_qs, u"google"_qs} << u"out.csv"_qs
            << u"2 rows from 4 contacts (2 duplicates dropped)"_qs;
        QTest::newRow("no header row, no sort: the same counts")
            << QStringList{u"--no-headers"_qs, u"--no-sort"_qs} << u"out.csv"_qs
            << u"3 rows from 4 contacts (1 duplicates dropped)"_qs;
    }

    void countsFollowTheResult()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QFETCH(QString, counts);
        QTemporaryDir dir;
        const QByteArray bo = "BEGIN:VCARD\nFN:Bo\nEMAIL:bo@example.org\nEMAIL:b2@example.org\n";
        const QString input = writeTestFile(dir.filePath(u"in.vcf"_qs), kCard + kCard + bo + "END:VCARD\n" + bo
                                                                            + "EMAIL:b3@example.org\nEND:VCARD\n");
        const QString path = dir.filePath(output);
        const Run run = runConverter(options + QStringList{u"-o"_qs, path, input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Process completed!\nFilename: "_qs + path + u'\n');
        QCOMPARE(run.err, counts + u'\n');
    }

    void fileNamesKeepEveryByte_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("outputs"); // written one after the other
        QByteArray everyHighByte;
        for (int byte = 0x80; byte <= 0xFF; ++byte)
            everyHighByte += char(byte);
        QTest::newRow("input named in Latin-1") << QByteArray("Ren\xE9.vcf") << QList<QByteArray>{"out.csv"};
        QTest::newRow("two outputs one byte apart")
            << QByteArray("in.vcf") << QList<QByteArray>{"out-\xE9.csv", "out-\xE8.csv"};
        QTest::newRow("every byte from 0x80 to 0xFF, in and out")
            << everyHighByte + ".vcf" << QList<QByteArray>{everyHighByte + ".txt", everyHighByte + ".xls"};
        QTest::newRow("workbook in a folder named in Latin-1")
            << QByteArray("in.vcf") << QList<QByteArray>{"caf\xE9/out.xlsx", "caf\xE9/out.csv"};
        QTest::newRow("UTF-8 beside its own bytes cut short")
            << QByteArray("\xC3\xA9\xC3.vcf") << QList<QByteArray>{"\xE2\x82\xAC\xE2\x82.txt"};
    }

    void fileNamesKeepEveryByte()
    {
        // A file name is bytes: each one that is not UTF-8 reaches the system as it was given.
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, outputs);
        QTemporaryDir dir;
        // Qt cannot remove names that are not UTF-8.
        const auto removeAll = qScopeGuard([&] { QProcess::execute(u"rm"_qs, {u"-rf"_qs, dir.path()}); });
        const QByteArray folder = QFile::encodeName(dir.path());
        QCOMPARE(::mkdir((folder + "/caf\xE9").constData(), 0755), 0);
        const int fd = ::open((folder + '/' + input).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, kCard.constData(), size_t(kCard.size())) == kCard.size());
        ::close(fd);
        for (const QByteArray &output : outputs) {
            const Run run = runConverterWithBytes(dir.path(), {"-o", output, input});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.err, u"1 rows from 1 contacts (0 duplicates dropped)\n"_qs);
        }
        QList<QByteArray> expected{input, "caf\xE9"};
        for (const QByteArray &output : outputs) {
            if (!output.contains('/'))
                expected.append(output);
        }
        std::sort(expected.begin(), expected.end());
        QCOMPARE(rawNamesIn(folder), expected);
        QList<QByteArray> inSubfolder;
        for (const QByteArray &output : outputs) {
            if (output.contains('/'))
                inSubfolder.append(output.sliced(output.indexOf('/') + 1));
        }
        std::sort(inSubfolder.begin(), inSubfolder.end());
        QCOMPARE(rawNamesIn(folder + "/caf\xE9"), inSubfolder);
        // Each output holds the contact, whatever its kind.
        for (const QByteArray &output : outputs) {
            QFile file;
            const int outputFd = ::open((folder + '/' + output).constData(), O_RDONLY);
            QVERIFY2(outputFd >= 0 && file.open(outputFd, QIODevice::ReadOnly, QFile::AutoCloseHandle),
                     output.toHex().constData());
            const QByteArray content = file.readAll();
            QVERIFY2(content.contains("Ann Lee") || content.startsWith("PK\x03\x04")
                         || content.startsWith("\xD0\xCF\x11\xE0"),
                     output.toHex().constData());
        }
    }

    void namesArePrintedWithoutControlCharacters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("printed");
        QTest::newRow("line feed") << u"a\nFilename: b.csv"_qs << u"a\\x0aFilename: b.csv"_qs;
        QTest::newRow("carriage return") << u"a\rb.csv"_qs << u"a\\x0db.csv"_qs;
        QTest::newRow("terminal escape") << u"\x1b]0;title\x07\x1b[2J.csv"_qs << u"\\x1b]0;title\\x07\\x1b[2J.csv"_qs;
        QTest::newRow("C1 control") << u"a\u009b31m.csv"_qs << u"a\\x9b31m.csv"_qs;
        QTest::newRow("plain letters stay") << u"caf\u00e9 \\x.csv"_qs << u"caf\u00e9 \\x.csv"_qs;
    }

    void namesArePrintedWithoutControlCharacters()
    {
        // The file is written under its own name; only its printed form is escaped, in the
        // result message and in the message about a missing input.
        QFETCH(QString, name);
        QFETCH(QString, printed);
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"a.vcf"_qs), kCard);
        const QString missing = dir.filePath(u"in-"_qs + name);
        const Run run = runConverter({u"-o"_qs, dir.filePath(name), missing, input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Process completed!\nFilename: "_qs + dir.filePath(printed) + u'\n');
        QCOMPARE(run.err, u"tessaly-convert: "_qs + dir.filePath(u"in-"_qs + printed)
                              + u": no such file\n1 rows from 1 contacts (0 duplicates dropped)\n"_qs);
        QVERIFY(readTestFile(dir.filePath(name)).contains("Ann Lee"));
    }

    void outputThatIsAnInputIsRefused_data()
    {
        QTest::addColumn<QString>("output"); // in the test's folder, where "phone.vcf" is an input
        QTest::newRow("same name") << u"phone.vcf"_qs;
        QTest::newRow("another way to the same name") << u"./sub/../phone.vcf"_qs;
        QTest::newRow("symbolic link") << u"link.vcf"_qs;
        QTest::newRow("hard link") << u"hard.vcf"_qs;
    }

    void outputThatIsAnInputIsRefused()
    {
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QString phone = writeTestFile(dir.filePath(u"phone.vcf"_qs), kCard);
        const QString other = writeTestFile(dir.filePath(u"laptop.vcf"_qs), "BEGIN:VCARD\nFN:Bo\nEND:VCARD\n");
        QVERIFY(QDir().mkdir(dir.filePath(u"sub"_qs)));
        QVERIFY(QFile::link(phone, dir.filePath(u"link.vcf"_qs)));
        QCOMPARE(
            ::link(QFile::encodeName(phone).constData(), QFile::encodeName(dir.filePath(u"hard.vcf"_qs)).constData()),
            0);
        const QString path = dir.filePath(output);
        const Run run = runConverter({u"-o"_qs, path, other, phone});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err, u"tessaly-convert: The output file \""_qs + path + u"\" is the input \""_qs + phone
                              + u"\"; choose another output file.\n"_qs);
        QCOMPARE(readTestFile(phone), kCard);
    }

    void charactersAnsiCannotHoldAreReported()
    {
        // The file is written as asked whatever its encoding could not hold (tst_cards checks its
        // bytes): exit 0, the usual lines on standard output, and the count of "?" on standard error.
        const QString folder = kCardCases + u"/outlook-preset-ansi"_qs;
        QTemporaryDir dir;
        const QString output = dir.filePath(u"out.csv"_qs);
        const Run run = runConverter({u"--preset"_qs, u"outlook"_qs, u"-o"_qs, output, folder + u"/input.vcf"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Process completed!\nFilename: "_qs + output + u'\n');
        QCOMPARE(run.err, u"3 rows from 3 contacts (0 duplicates dropped)\n"
                          "The Outlook format is written in ANSI; characters it cannot hold were written as \"?\": 6, "
                          "in 2 of the rows.\n"_qs);
        QCOMPARE(readTestFile(output), readTestFile(folder + u"/expected.csv"_qs));
    }

    void noDataFound()
    {
        QTemporaryDir dir;
        const QString output = dir.filePath(u"out.csv"_qs);
        const Run run = runConverter({u"-o"_qs, output, writeTestFile(dir.filePath(u"empty.vcf"_qs), QByteArray())});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"The file is empty!"_qs));
        QVERIFY(run.err.contains(u"No data found!"_qs));
        QVERIFY(!QFile::exists(output));
    }

    void badInputLosesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message"); // expected on standard error; empty: none
        QTest::addColumn<int>("contacts");    // read from the three files
        QByteArray binary(64 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(7);
        generator.fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
        QTest::newRow("invalid UTF-8")
            << QByteArray("BEGIN:VCARD\nFN:J\xFCrgen\nEND:VCARD\n")
            << u"WARNING: No mapping for the Unicode character exists in the target multi-byte code page"_qs << 2;
        QTest::newRow("binary file") << binary << u"WARNING: No mapping for the Unicode character"_qs << 2;
        QTest::newRow("NUL bytes") << QByteArray("BEGIN:VCARD\nFN:Nul\0Name\nNOTE:\0\0\nEND:VCARD\n", 41) << QString()
                                   << 3;
        QByteArray utf16;
        for (const char c : QByteArray("BEGIN:VCARD\nFN:Cy\nEND:VCARD\n"))
            utf16.append(c).append('\0');
        QTest::newRow("UTF-16 without a mark")
            << utf16 << u"WARNING: The file holds no vCard in the chosen encoding, but it does when read as UTF-16."_qs
            << 2;
        QTest::newRow("50 MB single line") << QByteArray(50 * 1024 * 1024, 'x') << QString() << 2;
    }

    void badInputLosesNothing()
    {
        // The bad file stands between two good ones; both good contacts come out.
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(int, contacts);
        QTemporaryDir dir;
        const QString output = dir.filePath(u"out.txt"_qs);
        const QString first = writeTestFile(dir.filePath(u"1.vcf"_qs), kCard);
        const QString bad = writeTestFile(dir.filePath(u"2.vcf"_qs), bytes);
        const QString last = writeTestFile(dir.filePath(u"3.vcf"_qs), "BEGIN:VCARD\nFN:Bo\nEND:VCARD\n");
        const Run run = runConverter({u"-o"_qs, output, first, bad, last});
        QCOMPARE(run.exitCode, 0);
        // Last, what was written: the text layout has a block for every card.
        const QString counts = u"%1 rows from %1 contacts (0 duplicates dropped)\n"_qs.arg(contacts);
        if (message.isEmpty()) {
            QCOMPARE(run.err, counts);
        } else {
            QVERIFY2(run.err.endsWith(u"\n"_qs + counts), qPrintable(run.err));
            // The reason, then which of the inputs was left out.
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            QVERIFY2(run.err.contains(u"\nFilename: "_qs + bad + u'\n'), qPrintable(run.err));
        }
        const QByteArray written = readTestFile(output);
        QVERIFY(written.startsWith("\xEF\xBB\xBF"
                                   "Ann Lee\r\n555 0100\r\n\r\n"));
        QVERIFY(written.endsWith("Bo\r\n\r\n"));
    }

    void devicesAndFifosAreWrittenInPlace_data() { addOutputNames({u"csv"_qs, u"txt"_qs, u"xls"_qs, u"xlsx"_qs}); }

    void devicesAndFifosAreWrittenInPlace()
    {
        // A device or FIFO is written, never replaced by a regular file, and nothing is left
        // beside it or in the temporary folder (where a workbook is put together first).
        QFETCH(QString, name);
        const QString kind = name.sliced(name.lastIndexOf(u'.') + 1);
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"a.vcf"_qs), kCard);
        for (const QString &folder : {u"regular"_qs, u"fifo"_qs, u"null"_qs, u"tmp"_qs})
            QDir().mkpath(dir.filePath(folder));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_qs, dir.filePath(u"tmp"_qs));
        const QString regular = dir.filePath(u"regular/"_qs + name);
        QCOMPARE(runConverter({u"-o"_qs, regular, input}).exitCode, 0);

        // A FIFO named like the output: its reader gets what the file would hold.
        const QString fifo = dir.filePath(u"fifo/"_qs + name);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QProcess reader;
        reader.setStandardOutputFile(dir.filePath(u"read."_qs + kind));
        reader.start(u"cat"_qs, {fifo});
        QVERIFY(reader.waitForStarted());
        Run run = runConverter({u"-o"_qs, fifo, input}, false, environment);
        QVERIFY(reader.waitForFinished(60000));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fileKind(fifo), 'p');
        QCOMPARE(outputContent(dir.filePath(u"read."_qs + kind), kind), outputContent(regular, kind));
        QCOMPARE(filesIn(dir.filePath(u"fifo"_qs)), QStringList{name});

        // A link, named like the output, to the null device (as root the device itself was
        // once replaced by a regular file).
        const QString link = dir.filePath(u"null/"_qs + name);
        QVERIFY(QFile::link(u"/dev/null"_qs, link));
        run = runConverter({u"-o"_qs, link, input}, false, environment);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Process completed!\nFilename: "_qs + link + u"\n"_qs);
        QCOMPARE(fileKind(u"/dev/null"_qs), 'c');
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(filesIn(dir.filePath(u"null"_qs)), QStringList{name});
        QCOMPARE(filesIn(dir.filePath(u"tmp"_qs)), QStringList());
    }

    void standardOutputGetsTheExportAlone()
    {
        // "-o -": the export on standard output (the text layout: "-" has no extension), the
        // result message on standard error.
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"a.vcf"_qs), kCard);
        const QString text = dir.filePath(u"out.txt"_qs);
        QCOMPARE(runConverter({u"-o"_qs, text, input}).exitCode, 0);
        QProcess process;
        process.start(kConvert, {u"-o"_qs, u"-"_qs, input});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), readTestFile(text));
        QCOMPARE(process.readAllStandardError(),
                 QByteArray("Process completed!\nFilename: -\n1 rows from 1 contacts (0 duplicates dropped)\n"));

        // The null device named directly.
        const Run run = runConverter({u"-o"_qs, u"/dev/null"_qs, input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fileKind(u"/dev/null"_qs), 'c');
    }

    void smallTemporaryFolderCannotCutAWorkbook()
    {
        // The .xlsx library puts a workbook together in temporary files; in a small /tmp they
        // were cut short without an error, and a damaged workbook was reported as written.
        if (geteuid() != 0)
            QSKIP("a mount namespace with a small /tmp of its own needs root");
        if (QStandardPaths::findExecutable(u"unshare"_qs).isEmpty())
            QSKIP("unshare(1) is not installed");
        // Input and output lie in the folder the test runs in. The build may itself lie below
        // /tmp, so the real /tmp stays reachable under /mnt inside the namespace before the
        // small one covers it.
        QTemporaryDir dir(QDir::currentPath() + u"/tst_cli-XXXXXX"_qs);
        const QString input = writeTestFile(dir.filePath(u"many.vcf"_qs), manyCards(20000));
        const QString output = dir.filePath(u"out.xlsx"_qs);
        const auto reachable
            = [](const QString &path) { return path.startsWith(u"/tmp/"_qs) ? u"/mnt/"_qs + path.sliced(5) : path; };
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_qs, u"/tmp"_qs);
        process.setProcessEnvironment(environment);
        process.start(u"unshare"_qs, {u"-m"_qs, u"sh"_qs, u"-c"_qs,
                                      u"mount --bind /tmp /mnt && mount -t tmpfs -o size=64k tmpfs /tmp && "
                                      "exec \"$0\" \"$@\""_qs,
                                      reachable(kConvert), u"-o"_qs, reachable(output), reachable(input)});
        QVERIFY(process.waitForFinished(120000));
        const QByteArray err = process.readAllStandardError();
        if (err.contains("mount:"))
            QSKIP(qPrintable(u"this machine cannot mount a tmpfs in a namespace: "_qs + QString::fromLocal8Bit(err)));
        QCOMPARE(process.exitCode(), 0);
        const QJsonArray cells = QJsonDocument::fromJson(dumpWorkbook(output)).object().value(u"cells"_qs).toArray();
        QCOMPARE(cells.size(), 20001);                                          // the header and every card
        QCOMPARE(cells.last().toArray().first().toString(), u"Person 9999"_qs); // sorted: "Person 9999" last
        QCOMPARE(filesIn(dir.path()), (QStringList{u"many.vcf"_qs, u"out.xlsx"_qs}));
    }

    void convertsWhenNoThreadMayStart_data() { addOutputNames({u"csv"_qs, u"txt"_qs, u"xls"_qs}); }

    void convertsWhenNoThreadMayStart()
    {
        // Allowed one process, an unprivileged user gets no second thread: a large export
        // does all its work on one thread and writes the same bytes.
        QFETCH(QString, name);
        if (geteuid() != 0)
            QSKIP("the limit on processes binds only an unprivileged user, which only root may become");
        QTemporaryDir dir;
        const QString folder = openFolder(dir, u"open"_qs, kOpenFolder);
        const QString input = writeTestFile(folder + u"/many.vcf"_qs, manyCards(40000));
        QFile::setPermissions(input, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        const QString freely = folder + u"/freely-"_qs + name;
        QCOMPARE(runConverter({u"-o"_qs, freely, input}).exitCode, 0);
        QVERIFY(QFileInfo(freely).size() > 1 << 20); // more than one batch of writing

        const QString alone = folder + u"/alone-"_qs + name;
        QStringList command
            = asUnprivilegedUser({u"prlimit"_qs, u"--nproc=1:1"_qs, u"--"_qs, kConvert, u"-o"_qs, alone, input});
        QProcess process;
        // A leak check at exit needs a thread of its own, which the limit refuses as well.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ASAN_OPTIONS"_qs, environment.value(u"ASAN_OPTIONS"_qs) + u":detect_leaks=0"_qs);
        process.setProcessEnvironment(environment);
        process.start(command.takeFirst(), command);
        QVERIFY(process.waitForFinished(120000));
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
                 process.readAllStandardError().constData());
        QCOMPARE(readTestFile(alone), readTestFile(freely));
    }

    void unwritableTargetsKeepTheOldFile_data() { addOutputNames({u"csv"_qs, u"xlsx"_qs, u"xls"_qs}); }

    void unwritableTargetsKeepTheOldFile()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"a.vcf"_qs), kCard);
        QFile::setPermissions(input, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

        // A folder without write permission, holding an older export.
        const QString locked = openFolder(dir, u"locked"_qs, kOpenFolder);
        const QString old = writeTestFile(locked + u'/' + name, "old");
        QFile::setPermissions(locked, kReadOnlyFolder);
        Run run = runConverter({u"-o"_qs, old, input}, true);
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(u"Cannot create file \""_qs + old + u"\""_qs), qPrintable(run.err));
        QVERIFY(run.err.contains(u"The file could not be created!"_qs));
        QCOMPARE(readTestFile(old), QByteArray("old"));
        QCOMPARE(filesIn(locked), QStringList{name});

        // An output path that is a folder.
        run = runConverter({u"-o"_qs, locked, input});
        QCOMPARE(run.exitCode, 3);
        QVERIFY(run.err.contains(u"Is a directory"_qs));
    }

    void unreadableInput()
    {
        QTemporaryDir dir;
        const QString folder = openFolder(dir, u"in"_qs, kOpenFolder);
        const QString secret = writeTestFile(folder + u"/secret.vcf"_qs, kCard);
        QFile::setPermissions(secret, QFile::WriteOwner);
        const Run run = runConverter({u"-o"_qs, folder + u"/out.csv"_qs, secret}, true);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(u"WARNING: Cannot open file \""_qs + secret + u"\". Permission denied"_qs),
                 qPrintable(run.err));
    }

    void fullDiskKeepsTheOldFile_data() { addOutputNames({u"csv"_qs, u"txt"_qs, u"xlsx"_qs, u"xls"_qs}); }

    void fullDiskKeepsTheOldFile()
    {
        // The disk fills up in the middle of the file: it has room for about half of it.
        QFETCH(QString, name);
        if (geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"many.vcf"_qs), manyCards(10000));
        const QString whole = dir.filePath(name);
        QCOMPARE(runConverter({u"-o"_qs, whole, input}).exitCode, 0);
        const qint64 room = std::max<qint64>(QFileInfo(whole).size() / 2 / 4096 * 4096, 16384);
        QVERIFY2(QFileInfo(whole).size() > room + 4096, "the export must not fit");

        const QString mountPoint = dir.filePath(u"small"_qs);
        QDir().mkpath(mountPoint);
        const QString size = u"size="_qs + QString::number(room);
        if (QProcess::execute(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, size, u"tmpfs"_qs, mountPoint}) != 0)
            QSKIP("this machine cannot mount a tmpfs");
        const QString old = writeTestFile(mountPoint + u'/' + name, "old");
        const Run run = runConverter({u"-o"_qs, old, input});
        const QStringList left = filesIn(mountPoint);
        const QByteArray kept = readTestFile(old);
        QProcess::execute(u"umount"_qs, {mountPoint});
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(u"WARNING: Cannot create file \""_qs + old + u"\". No space left on device"_qs),
                 qPrintable(run.err));
        QVERIFY(run.err.contains(u"ERROR: The file could not be created!"_qs));
        // The .xlsx library's own messages, which name its temporary files, stay off standard error.
        QVERIFY2(!run.err.contains(u"[ERROR]"_qs) && !run.err.contains(u"tessaly-"_qs), qPrintable(run.err));
        QCOMPARE(left, QStringList{name});
        QCOMPARE(kept, QByteArray("old"));
        QCOMPARE(run.out, QString());
    }

    void diskFillingWhileRowsAreWrittenKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("cards");
        // A 64 KB file system: the rows of the smaller .xlsx fill it while the workbook is
        // packed, the others while the rows are written.
        QTest::newRow("csv") << u"out.csv"_qs << 4000;
        QTest::newRow("txt") << u"out.txt"_qs << 4000;
        QTest::newRow("xls") << u"out.xls"_qs << 4000;
        QTest::newRow("xlsx, full while packing") << u"out.xlsx"_qs << 300;
        QTest::newRow("xlsx, full while writing rows") << u"out.xlsx"_qs << 4000;
    }

    void diskFillingWhileRowsAreWrittenKeepsTheOldFile()
    {
        // In a mount namespace of its own, a small file system holds an older export; what is
        // left there is copied out before the namespace ends.
        QFETCH(QString, name);
        QFETCH(int, cards);
        if (geteuid() != 0 || QStandardPaths::findExecutable(u"unshare"_qs).isEmpty())
            QSKIP("a mount namespace with a small file system needs root and unshare(1)");
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"many.vcf"_qs), manyCards(cards));
        const QString small = dir.filePath(u"small"_qs);
        QDir().mkpath(small);
        const QString target = small + u'/' + name;
        QProcess process;
        process.start(u"unshare"_qs, {u"-m"_qs, u"sh"_qs, u"-c"_qs,
                                      u"mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; cd \"$1\"; "
                                      "echo old > \"$2\"; \"$0\" -o \"$1/$2\" \"$3\"; echo \"exit $?\"; "
                                      "ls -A; cat \"$2\" > \"$3.left\""_qs,
                                      kConvert, small, name, input});
        QVERIFY(process.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        if (process.exitCode() == 99)
            QSKIP(qPrintable(u"this machine cannot mount a tmpfs in a namespace: "_qs + err));
        QCOMPARE(out, u"exit 3\n"_qs + name + u'\n');
        QCOMPARE(err, u"WARNING: Cannot create file \""_qs + target
                          + u"\". No space left on device\nERROR: The file could not be created!\n"_qs);
        QCOMPARE(readTestFile(input + u".left"_qs), QByteArray("old\n"));
    }

    void renamedTargetFolderKeepsNothing_data() { addOutputNames({u"csv"_qs, u"xls"_qs, u"xlsx"_qs}); }

    void renamedTargetFolderKeepsNothing()
    {
        // The folder of the output is renamed while the export writes: the export fails (its
        // folder is gone), and the folder under its new name holds only the older export.
        QFETCH(QString, name);
        QTemporaryDir dir;
        if (!canMakeNamelessFiles(dir.path()))
            QSKIP("this file system makes no temporary files without a name");
        const QString input = writeTestFile(dir.filePath(u"many.vcf"_qs), manyCards(60000));
        const QString folder = dir.filePath(u"out"_qs);
        const QString moved = dir.filePath(u"moved"_qs);
        QVERIFY(QDir().mkdir(folder));
        writeTestFile(folder + u'/' + name, "old");
        QProcess process;
        process.start(kConvert, {u"-o"_qs, folder + u'/' + name, input});
        QVERIFY(process.waitForStarted());
        bool temporaryFileSeen = false;
        while (!temporaryFileSeen && !process.waitForFinished(0)) {
            temporaryFileSeen = hasFileOpenIn(process.processId(), folder);
            QThread::usleep(100);
        }
        QVERIFY2(temporaryFileSeen, "the export ended before its temporary file was seen");
        QVERIFY(QDir().rename(folder, moved));
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 3);
        QVERIFY(process.readAllStandardError().contains("No such file or directory"));
        QCOMPARE(filesIn(moved), QStringList{name});
        QCOMPARE(readTestFile(moved + u'/' + name), QByteArray("old"));
    }

    void signalDuringExportKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("csv, SIGKILL") << u"out.csv"_qs << int(SIGKILL);
        QTest::newRow("xlsx, SIGKILL") << u"out.xlsx"_qs << int(SIGKILL);
        QTest::newRow("xls, SIGKILL") << u"out.xls"_qs << int(SIGKILL);
        QTest::newRow("csv, SIGTERM") << u"out.csv"_qs << int(SIGTERM);
        QTest::newRow("xlsx, SIGTERM") << u"out.xlsx"_qs << int(SIGTERM);
        QTest::newRow("xls, SIGINT") << u"out.xls"_qs << int(SIGINT);
        QTest::newRow("csv, SIGHUP") << u"out.csv"_qs << int(SIGHUP);
        QTest::newRow("xlsx, SIGQUIT") << u"out.xlsx"_qs << int(SIGQUIT);
        QTest::newRow("xls, SIGUSR1") << u"out.xls"_qs << int(SIGUSR1);
        QTest::newRow("xlsx, SIGALRM") << u"out.xlsx"_qs << int(SIGALRM);
    }

    void signalDuringExportKeepsTheOldFile()
    {
        // A signal at several moments of an export over an older file: the older file stays
        // whole, or the new one is there complete. After any signal that can be caught nothing
        // is left beside it, and after SIGKILL, which nothing can catch, neither where the file
        // system makes temporary files without a name (elsewhere at most the clearly named
        // temporary file, ".tessaly-XXXXXX.tmp").
        QFETCH(QString, name);
        QFETCH(int, signalNumber);
        QTemporaryDir dir;
        const QString input = writeTestFile(dir.filePath(u"many.vcf"_qs), manyCards(60000));
        const QString folder = dir.filePath(u"out"_qs);
        QDir().mkpath(folder);
        const QString target = folder + u'/' + name;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runConverter({u"-o"_qs, target, input}).exitCode, 0);
        const qint64 wholeRun = clock.elapsed();
        const QByteArray complete = readTestFile(target);

        // At moments through the run, and (-1) as soon as the temporary file is there.
        for (const int percent : {30, 60, 80, 95, -1}) {
            writeTestFile(target, "old");
            QProcess process;
            process.start(kConvert, {u"-o"_qs, target, input});
            QVERIFY(process.waitForStarted());
            if (percent >= 0) {
                QThread::msleep(wholeRun * percent / 100);
            } else {
                // The temporary file may have no name: the process's open files show it.
                bool temporaryFileSeen = false;
                while (!temporaryFileSeen && !process.waitForFinished(0)) {
                    temporaryFileSeen = hasFileOpenIn(process.processId(), folder);
                    QThread::usleep(100);
                }
                QVERIFY2(temporaryFileSeen, "the export ended before its temporary file was seen");
            }
            const bool signalled
                = process.state() == QProcess::Running && ::kill(pid_t(process.processId()), signalNumber) == 0;
            QVERIFY(process.waitForFinished(60000));

            const QByteArray now = readTestFile(target);
            // A workbook carries its time of writing; a complete one ends with the zip directory's end.
            const bool completeNow = name.endsWith(u".xlsx"_qs)
                                         ? now.size() > 22 && now.mid(now.size() - 22, 4) == "PK\x05\x06"
                                         : now == complete;
            QVERIFY2(now == "old" || completeNow, qPrintable(QString::number(percent)));
            QStringList others = filesIn(folder);
            others.removeOne(name);
            for (const QString &other : others) {
                // A temporary file without a name leaves nothing; only where the file system has
                // no such files can SIGKILL leave a named one.
                QVERIFY2(signalled && signalNumber == SIGKILL && !canMakeNamelessFiles(folder)
                             && QRegularExpression(u"^\\.tessaly-\\w{6}(\\.tmp)?$"_qs).match(other).hasMatch(),
                         qPrintable(other));
                QDir(folder + u'/' + other).removeRecursively();
                QFile::remove(folder + u'/' + other);
            }
            if (signalled && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
                qInfo("the export had finished before the signal reached it");
            qInfo("signal %d at %d%% of %lld ms: %s, %s, left beside it: %s", signalNumber, percent, wholeRun,
                  signalled ? "sent" : "too late", now == "old" ? "old file kept" : "new file complete",
                  others.isEmpty() ? "nothing" : qPrintable(others.join(u' ')));
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
