#include "cli/cliarguments.h"

#include "engine/csvpreset.h"

#include <QCommandLineParser>

namespace {

std::optional<TextEncoding> parseEncoding(const QString &text)
{
    const QString name = text.toLower();
    if (name == QLatin1String("ansi"))
        return TextEncoding::Ansi;
    if (name == QLatin1String("utf-8") || name == QLatin1String("utf8"))
        return TextEncoding::Utf8;
    if (name == QLatin1String("utf-16") || name == QLatin1String("utf16"))
        return TextEncoding::Utf16;
    return std::nullopt;
}

/* The type of a --type name ("CSV", "XLS", "TXT", any case). */
std::optional<ExportType> exportTypeNamed(const QString &name)
{
    const QString upper = name.toUpper();
    if (upper == QLatin1String("CSV"))
        return ExportType::Csv;
    if (upper == QLatin1String("XLS"))
        return ExportType::Xls;
    if (upper == QLatin1String("TXT"))
        return ExportType::Txt;
    return std::nullopt;
}

ExportType typeForExtension(const QString &output)
{
    switch (outputKindForFileName(output)) {
    case OutputKind::Workbook:
        return ExportType::Xls;
    case OutputKind::Rows:
        return ExportType::Csv;
    case OutputKind::TxtLines:
        break;
    }
    return ExportType::Txt;
}

/*
 * Whether a separator keeps every row whole: a letter or digit would split values apart, a
 * quotation mark would end the quoted fields, a line break would end the row, a space splits
 * ordinary values, and another control character (ESC, VT, FF, the information separators,
 * DEL) is cut or taken for a line break by the programs that read the file. The tab is the one
 * control character that separates fields.
 */
bool isSeparatorAllowed(QChar separator)
{
    // A surrogate stands for a byte that is no character of its own (0x80 to 0xFF alone).
    const bool control = separator.category() == QChar::Other_Control && separator != u'\t';
    return !separator.isSurrogate() && !separator.isLetterOrNumber() && !control && separator != u'"'
           && separator != u' ';
}

CliParse usageError(const QString &message)
{
    CliParse parse;
    parse.usageError = message;
    return parse;
}

} // namespace

QString cliUsageText()
{
    return QStringLiteral("Usage: tessaly-convert [--preset default|excel|google|outlook|yahoo] [--type CSV|XLS|TXT]\n"
                          "                       [--encoding ansi|utf-8|utf-16] [--no-headers] [--no-sort]\n"
                          "                       [--all-fields] [--separator CHAR] -o OUTPUT INPUT...\n"
                          "\n"
                          "Converts vCard files to a CSV, text or workbook file chosen by OUTPUT's extension.\n"
                          "OUTPUT \"-\" writes to standard output; having no extension, it gets the text layout.\n"
                          "Exit status: 0 written, 1 no data found, 2 bad usage, 3 the file could not be written.\n");
}

QString cliHelpText()
{
    return QStringLiteral("Usage: tessaly-convert [OPTION]... -o OUTPUT INPUT...\n"
                          "Convert vCard files (.vcf) into a CSV table, a text file or an Excel workbook.\n"
                          "\n"
                          "The inputs are read in the order given and converted together. OUTPUT's extension\n"
                          "picks the writer: .csv writes the table, .xls and .xlsx a workbook, any other name\n"
                          "the text layout with one value per line.\n"
                          "\n"
                          "Options:\n"
                          "  -o, --output=FILE        write the result to FILE (required)\n"
                          "      --preset=NAME        the layout and settings of a CSV export: default, excel\n"
                          "                           (UTF-16), google, outlook (ANSI) or yahoo; google,\n"
                          "                           outlook and yahoo always write the header row\n"
                          "      --type=TYPE          the layout of the table: CSV, XLS or TXT (default: CSV\n"
                          "                           with a preset, else from OUTPUT's extension)\n"
                          "      --encoding=ENCODING  how the inputs are read and, unless a preset changes\n"
                          "                           it, how the output is written: ansi (the single-byte\n"
                          "                           code page of your locale), utf-8 (default) or utf-16\n"
                          "      --no-headers         write no header row\n"
                          "      --no-sort            keep the rows in the order of the inputs\n"
                          "      --all-fields         write every value of a contact in the columns its kinds\n"
                          "                           and labels need, instead of the fifteen fixed columns\n"
                          "                           (yahoo keeps the fifteen; google then writes UTF-8)\n"
                          "      --separator=CHAR     the field separator (default: the list separator of\n"
                          "                           your locale)\n"
                          "  -h, --help               show this help and exit\n"
                          "      --version            show the version and exit\n"
                          "\n"
                          "Exit status:\n"
                          "  0  the file was written\n"
                          "  1  no data found in the inputs\n"
                          "  2  bad usage\n"
                          "  3  the file could not be written\n"
                          "\n"
                          "Example:\n"
                          "  tessaly-convert --preset google -o contacts.csv phone.vcf laptop.vcf\n");
}

CliParse parseCliArguments(const QStringList &arguments, QChar defaultSeparator)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption preset(QStringLiteral("preset"), QString(), QStringLiteral("name"));
    const QCommandLineOption type(QStringLiteral("type"), QString(), QStringLiteral("type"));
    const QCommandLineOption encoding(QStringLiteral("encoding"), QString(), QStringLiteral("encoding"));
    const QCommandLineOption noHeaders(QStringLiteral("no-headers"), QString());
    const QCommandLineOption noSort(QStringLiteral("no-sort"), QString());
    const QCommandLineOption allFields(QStringLiteral("all-fields"), QString());
    const QCommandLineOption separator(QStringLiteral("separator"), QString(), QStringLiteral("char"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("file"));
    parser.addOptions({help, version, preset, type, encoding, noHeaders, noSort, allFields, separator, output});

    if (!parser.parse(QStringList{QStringLiteral("tessaly-convert")} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        CliParse parse;
        parse.helpRequested = true;
        return parse;
    }
    if (parser.isSet(version)) {
        CliParse parse;
        parse.versionRequested = true;
        return parse;
    }

    if (parser.values(output).size() > 1)
        return usageError(QStringLiteral("The output file is given more than once (-o OUTPUT)."));
    CliOptions options;
    options.inputs = parser.positionalArguments();
    options.request.exportFileName = parser.value(output);
    if (options.request.exportFileName.isEmpty())
        return usageError(QStringLiteral("No output file given (-o OUTPUT)."));
    if (options.inputs.isEmpty())
        return usageError(QStringLiteral("No input file given."));

    if (parser.isSet(encoding)) {
        const auto chosen = parseEncoding(parser.value(encoding));
        if (!chosen)
            return usageError(QStringLiteral("Unknown encoding \"%1\".").arg(parser.value(encoding)));
        options.loadEncoding = *chosen;
    }
    options.writeOptions.encoding = options.loadEncoding;
    options.writeOptions.headers = !parser.isSet(noHeaders);
    options.writeOptions.sort = !parser.isSet(noSort);
    options.request.columns = parser.isSet(allFields) ? ColumnModel::AllFields : ColumnModel::Fifteen;

    options.separator = defaultSeparator;
    if (parser.isSet(separator)) {
        const QString text = parser.value(separator);
        if (text.size() != 1)
            return usageError(QStringLiteral("The separator must be exactly one character."));
        if (!isSeparatorAllowed(text.at(0)))
            return usageError(QStringLiteral("The separator \"%1\" could break a row. Use a character that is not "
                                             "a letter, a digit, a quotation mark (\"), a space, a line break or "
                                             "another control character, such as , ; | or a tab.")
                                  .arg(text));
        options.separator = text.at(0);
    }

    if (parser.isSet(preset)) {
        const std::optional<CsvPreset> chosen = csvPresetNamed(parser.value(preset));
        if (!chosen)
            return usageError(QStringLiteral("Unknown preset \"%1\".").arg(parser.value(preset)));
        options.request.flavor = applyCsvPreset(*chosen, options.writeOptions, options.request.columns);
    }

    if (parser.isSet(type)) {
        const std::optional<ExportType> named = exportTypeNamed(parser.value(type));
        if (!named)
            return usageError(QStringLiteral("Unknown type \"%1\".").arg(parser.value(type)));
        options.request.fileType = *named;
    } else if (parser.isSet(preset)) {
        options.request.fileType = ExportType::Csv;
    } else {
        options.request.fileType = typeForExtension(options.request.exportFileName);
    }

    CliParse parse;
    parse.options = options;
    return parse;
}
