#pragma once

#include <QString>

/*
 * Version data of a program file.
 *
 * The build records each program's version texts in its binary (tessaly_add_version_data() in
 * cmake/TessalyVersionData.cmake): an ELF section named ".tessaly_version" holds one UTF-8 text
 * block that ends in a NUL byte, one entry a line:
 *
 *     TESSALY VERSION DATA 1
 *     Translation=0409 04E4
 *     FixedFileVersion=2.3.0.0
 *     \StringFileInfo\040904E4\companyName=ORVANTA
 *     \StringFileInfo\040904E4\OriginalFilename=tessaly
 *
 * - The first line names the format; a block with any other first line is not version data.
 * - Every other line is NAME=VALUE: the name runs to the first '=', the value is the rest of the
 *   line, kept as it is (it may be empty and may hold '='; it cannot hold a line break).
 *   Lines without '=' and blank lines are skipped; a trailing carriage return is dropped.
 *   Names compare without regard to letter case; when a name occurs twice, the first line wins.
 * - Translation: (language, code page) pairs of 16-bit numbers, each four hexadecimal digits,
 *   separated by blanks. Only the first pair is used: it selects the string table whose name is
 *   both numbers as four upper-case hexadecimal digits each, language first ("040904E4").
 * - FixedFileVersion: four decimal numbers from 0 to 65535, separated by dots.
 * - \StringFileInfo\<table>\<value name>: one version text of that string table.
 */

/** The twelve standard version texts of a program file, in this order. */
struct ExeVersionData {
    QString companyName, fileDescription, fileVersion, internalName, legalCopyright, legalTrademarks, originalFileName,
        productName, productVersion, comments, privateBuild, specialBuild;

    friend bool operator==(const ExeVersionData &, const ExeVersionData &) = default;
};

/** The fixed (numeric) file version: four 16-bit parts. */
struct FixedFileVersion {
    quint16 major = 0, minor = 0, build = 0, revision = 0;

    friend bool operator==(const FixedFileVersion &, const FixedFileVersion &) = default;
};

/**
 * Fills data from the version data of the program file at fileName. Only fields whose value is
 * present are assigned; absent values leave the field as it was. Returns false, with error set
 * to a message that names the file and the reason, when the file cannot be read or carries no
 * version data (no section, or no translation entry); no field has been set then.
 */
bool readExeVersionData(const QString &fileName, ExeVersionData &data, QString *error);

/** The fixed file version of the program file; false with error as above (version untouched). */
bool readFixedFileVersion(const QString &fileName, FixedFileVersion &version, QString *error);

/**
 * The same data from this running program's own copy of the block (no file access): fills data
 * as readExeVersionData() does and sets version. False, with nothing set, when the block lacks
 * the translation entry or the fixed file version.
 */
bool ownVersionData(ExeVersionData &data, FixedFileVersion &version);
