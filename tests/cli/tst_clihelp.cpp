// tessaly-convert's --help and --version, which help2man turns into the manual page: the help
// names every option the program takes, and every option it names is taken.

#include "cli/cliarguments.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kConvert = QStringLiteral(TESSALY_CONVERT_BIN);

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runConverter(const QStringList &arguments)
{
    QProcess process;
    process.start(kConvert, arguments);
    if (!process.waitForFinished(60000))
        qFatal("tessaly-convert did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace

class TestCliHelp : public QObject
{
    Q_OBJECT

private slots:
    void versionNamesProgramAndVersion()
    {
        const Run run = runConverter({u"--version"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"tessaly-convert " TESSALY_PROJECT_VERSION "\n"_qs);
        QCOMPARE(run.err, QString());
    }

    void helpHasWhatHelp2manReads()
    {
        for (const QString &option : {u"--help"_qs, u"-h"_qs}) {
            const Run run = runConverter({option});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.out, cliHelpText());
        }
        const QStringList lines = cliHelpText().split(u'\n');
        // The synopsis first, then a description, an option list and the exit statuses.
        QCOMPARE(lines.first(), u"Usage: tessaly-convert [OPTION]... -o OUTPUT INPUT..."_qs);
        QVERIFY(!lines.at(1).isEmpty());
        QVERIFY(lines.contains(u"Options:"_qs));
        QVERIFY(lines.contains(u"Exit status:"_qs));
        for (const QString &line : lines)
            QVERIFY2(line.size() <= 90, qPrintable(line));
    }

    // Each option the help lists is one the parser takes, and each one it takes is listed.
    void helpListsExactlyTheOptions()
    {
        static const QRegularExpression entry(u"^  (?:-(\\w), )?\\s*--([\\w-]+)(=[A-Z]+)?\\s{2,}\\S"_qs);
        QStringList listed;
        for (const QString &line : cliHelpText().split(u'\n')) {
            const QRegularExpressionMatch match = entry.match(line);
            if (!match.hasMatch())
                continue;
            const QString name = match.captured(2);
            listed.append(name);
            if (name == u"help" || name == u"version")
                continue;
            // Given as the help shows it (a value where it names one), the option is taken.
            QStringList arguments{u"-o"_qs, u"out.csv"_qs, u"in.vcf"_qs};
            if (name != u"output")
                arguments.prepend(u"--"_qs + name + (match.captured(3).isEmpty() ? QString() : u"="_qs + value(name)));
            const CliParse parse = parseCliArguments(arguments, u',');
            QVERIFY2(parse.options.has_value(), qPrintable(name + u": "_qs + parse.usageError));
            if (!match.captured(1).isEmpty()) {
                const CliParse shortForm
                    = parseCliArguments({u"-"_qs + match.captured(1), u"out.csv"_qs, u"in.vcf"_qs}, u',');
                QVERIFY2(shortForm.options.has_value() || shortForm.helpRequested, qPrintable(match.captured(1)));
            }
        }
        QCOMPARE(listed, (QStringList{u"output"_qs, u"preset"_qs, u"type"_qs, u"encoding"_qs, u"no-headers"_qs,
                                      u"no-sort"_qs, u"all-fields"_qs, u"separator"_qs, u"help"_qs, u"version"_qs}));
        // An option the help does not list is refused.
        QVERIFY(!parseCliArguments({u"--colour"_qs, u"-o"_qs, u"out.csv"_qs, u"in.vcf"_qs}, u',').options);
    }

private:
    static QString value(const QString &option)
    {
        if (option == u"preset")
            return u"google"_qs;
        if (option == u"type")
            return u"TXT"_qs;
        if (option == u"encoding")
            return u"utf-16"_qs;
        return u";"_qs;
    }
};

QTEST_GUILESS_MAIN(TestCliHelp)
#include "tst_clihelp.moc"
