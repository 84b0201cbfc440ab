#pragma once

#include "engine/conversionjob.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <optional>

/** Everything one run of tessaly-convert was asked to do. */
struct CliOptions {
    QStringList inputs;
    TextEncoding loadEncoding = TextEncoding::Utf8; // how the inputs are read
    ExportRequest request;                          // type, flavour, output path
    ExportOptions writeOptions;                     // after the preset's changes
    QChar separator;
};

/** The result of reading the command line: options, or a usage error to print. */
struct CliParse {
    std::optional<CliOptions> options;
    QString usageError; // empty with options; may also be empty when help was asked for
    bool helpRequested = false;
    bool versionRequested = false;
};

/**
 * Reads the arguments (without the program name). A preset changes the output encoding and
 * Headers the way its menu entry does, after loading; an explicit --type wins over the type
 * a preset implies; without either, the type follows the output's extension.
 */
CliParse parseCliArguments(const QStringList &arguments, QChar defaultSeparator);

/** The short usage, printed after a usage error. */
QString cliUsageText();

/**
 * The whole help for --help: usage, description, every option, the exit statuses and an
 * example, laid out as help2man reads it to make the manual page.
 */
QString cliHelpText();
